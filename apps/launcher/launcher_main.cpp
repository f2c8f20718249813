#include <exception>
#include <system_error>

#include "command_line.h"
#include "install_home.h"
#include "launch_job.h"
#include "messages.h"
#include "system/removal.h"
#include "ui/progress_window.h"

namespace plovatek {
namespace {

int RemovePlatform(const std::filesystem::path& home) {
  const std::string question = "Take Plovatek off this computer?\n\nYour own places and saves stay in " +
                               PathToUtf8(home) + " (delete that folder too if you don't want them).";
  if (!AskYesNo(question)) return 0;

  RemoveFromWindows(home);
  std::error_code ignored;
  RemoveTree(home / kVersionsFolder);
  std::filesystem::remove(home / kCurrentFile, ignored);
  std::filesystem::remove(home / kWebsiteFile, ignored);

  ShowMessage("Plovatek has been taken off this computer.", MessageKind::Information);
  ScheduleLauncherDeletion(home);
  return 0;
}

int Launch(LaunchRequest& request) {
  std::string ownBytes;
  ReadWholeFile(OwnExecutablePath(), ownBytes);
  const std::string stamp = ReadWebsiteStamp(ownBytes);
  ownBytes = std::string();  // the launcher's bytes are not kept

  ReadWholeFile(request.installHome / kWebsiteFile, request.websiteFileText);
  request.websiteAddress = SettleWebsiteAddress(request, stamp);

  const LaunchJob job = [&request](const ProgressReporter& reporter) {
    // The worker has no handler above this one: whatever escapes the job ends
    // in the one generic box instead of taking the process down.
    try {
      return RunLaunchJob(request, reporter);
    } catch (...) {
      ShowUnexpectedFailure();
      return 1;
    }
  };
  try {
    return RunWithProgressWindow(job);
  } catch (const std::system_error&) {
    // No worker thread could be started: nothing has run yet.
    ShowMessage("Plovatek couldn't start its work (Windows is short of resources). Please try again.",
                MessageKind::Warning);
    return 1;
  }
}

}  // namespace

int LauncherMain(const std::vector<std::string>& arguments, const std::filesystem::path& defaultHome) {
  LaunchRequest request;
  request.installHome = defaultHome;
  ScanArguments(arguments, request);

  // Only a missing default is a dead end: "--home" with an empty value names the
  // current folder, as any other text names a folder.
  if (defaultHome.empty() && request.installHome.empty()) {
    ShowMessage(
        "Plovatek can't find a folder to install into: Windows knows neither your local app data folder nor a "
        "temporary folder.",
        MessageKind::Warning);
    return 1;
  }
  if (request.removePlatform) return RemovePlatform(request.installHome);
  return Launch(request);
}

int LauncherMain(const std::vector<std::string>& arguments) {
  return LauncherMain(arguments, DefaultInstallHome());
}

}  // namespace plovatek
