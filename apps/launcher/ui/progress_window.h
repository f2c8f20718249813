#pragma once
// The one small window that shows a status line and a progress bar while the
// job runs on the worker thread.

#include "progress.h"

namespace plovatek {

// Runs the job on a worker thread under the window; returns the job's exit code.
// Closing the window before the job ends ends the process with exit code 1.
// Throws std::system_error (EAGAIN) when the worker cannot be started.
int RunWithProgressWindow(const LaunchJob& job);

}  // namespace plovatek
