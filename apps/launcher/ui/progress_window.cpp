// Placeholder until the progress window lands: runs the job on a worker thread
// without a window.
#include "ui/progress_window.h"

#include <atomic>
#include <thread>

namespace plovatek {

int RunWithProgressWindow(const LaunchJob& job) {
  std::atomic<int> exitCode{1};
  std::thread worker([&] { exitCode = job([](const std::string&, double) {}); });
  worker.join();
  return exitCode;
}

}  // namespace plovatek
