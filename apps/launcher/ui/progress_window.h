#pragma once
// The one small window that shows a status line and a progress bar while the
// job runs on the worker thread.

#include "progress.h"

namespace plovatek {

// Private window messages; nothing travels in them, the state is shared.
inline constexpr unsigned WM_PROGRESS_CHANGED = 0x8001;  // WM_APP + 1: repaint
inline constexpr unsigned WM_JOB_FINISHED = 0x8002;      // WM_APP + 2: close

// Runs the job on a worker thread (COM initialised there as a single-threaded
// apartment) under the window; returns the job's exit code. Closing the window
// before the job ends ends the process with exit code 1. When the window cannot
// be created the job runs all the same. Throws std::system_error (EAGAIN) when
// the worker cannot be started; no job runs then.
int RunWithProgressWindow(const LaunchJob& job);

// The shared status starts as "Starting..." with no measurable progress and is
// never reset in a real run; tests that run several windows in one process put
// it back with this.
void ResetProgressStateForTesting();

}  // namespace plovatek
