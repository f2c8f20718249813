#pragma once
// A normal start: update, launcher copy, registration, then a client.

#include "command_line.h"
#include "progress.h"

namespace plovatek {

int RunLaunchJob(const LaunchRequest& request, const ProgressReporter& reporter);

}  // namespace plovatek
