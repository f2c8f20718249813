#pragma once
// The callables through which work reports to the window and downloads report to the work.

#include <cstdint>
#include <functional>
#include <string>

namespace plovatek {

// (status text in UTF-8, fraction): 0..1 the share done; negative means no
// measurable progress (empty bar); above 1 shows a full bar.
using ProgressReporter = std::function<void(const std::string& text, double fraction)>;

// (bytes of the body received so far, expected size).
using DownloadProgress = std::function<void(std::uint64_t received, std::uint64_t expected)>;

// The work run under the progress window; returns the process exit code.
using LaunchJob = std::function<int(const ProgressReporter& reporter)>;

}  // namespace plovatek
