// Placeholder until the launch job lands.
#include "launch_job.h"

namespace plovatek {

int RunLaunchJob(const LaunchRequest&, const ProgressReporter&) { return 1; }

}  // namespace plovatek
