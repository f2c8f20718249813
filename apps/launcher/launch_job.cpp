#include "launch_job.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "clients.h"
#include "install_home.h"
#include "messages.h"
#include "system/registration.h"
#include "update/launcher_copy.h"
#include "update/update_engine.h"

namespace plovatek {
namespace {

constexpr char kPlayer[] = "plovatek_player.exe";
constexpr char kStudio[] = "plovatek_studio.exe";

bool EntryExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) && !error;  // a failed lookup counts as missing
}

}  // namespace

int RunLaunchJob(const LaunchRequest& request, const ProgressReporter& reporter) {
  const std::filesystem::path& home = request.installHome;
  const UpdateResult result = RunUpdate(request.websiteAddress, home, reporter);
  // Asked after the update, so a fresh install is found here.
  std::filesystem::path installed = InstalledVersionFolder(home);

  if (!result.upToDate) {
    if (installed.empty()) {
      std::string text = "Plovatek couldn't be installed:\n" + result.error;
      if (!request.websiteAddress.empty()) text += "\n\n(From " + request.websiteAddress + ")";
      ShowMessage(text, MessageKind::Warning);
      return 1;
    }
    // A website that never answered (offline, or none known) is not worth a box.
    if (result.websiteAnswered) {
      ShowMessage("Plovatek couldn't update (" + result.error + "). Starting the version you have.",
                  MessageKind::Warning);
    }
  } else {
    // The version just found or built complete, which current.txt names unless
    // it could not be written: then it names none (and a client's path would
    // have no folder at all) or still an older one (whose client would start
    // while the new version is registered).
    installed = home / kVersionsFolder / PathFromUtf8(result.version);
    const std::string site = request.websiteAddress.empty()
                                 ? NormaliseWebsiteAddress(FirstLine(request.websiteFileText))
                                 : request.websiteAddress;
    std::string ignored;  // a stale copy does not stop the launch
    ReplaceLauncherCopy(home, site, result.manifest, ignored);
  }

  const std::filesystem::path launcher = home / kLauncherCopy;
  const std::string version = result.upToDate ? result.version : PathToUtf8(installed.filename());
  // Registered commands and shortcuts start the copy: without it there is nothing to point them at.
  if (EntryExists(launcher)) RegisterWithWindows(home, launcher, request.websiteAddress, version);

  if (request.noStart) return 0;
  reporter("Starting Plovatek...", -1.0);

  std::string error;
  if (!request.link.empty()) {
    if (!StartClient(installed / kPlayer, {request.link}, error)) {
      ShowMessage("Couldn't start the game: " + error, MessageKind::Warning);
      return 1;
    }
  } else if (request.openStudio) {
    std::vector<std::string> arguments;
    if (!request.fileToOpen.empty()) arguments.push_back(request.fileToOpen);
    if (!StartClient(installed / kStudio, arguments, error)) {
      ShowMessage("Couldn't start the studio: " + error, MessageKind::Warning);
      return 1;
    }
  } else {
    ShowMessage("Plovatek " + version +
                    " is installed!\n\nTo play, press Play on any game on the website.\nTo make games, open "
                    "Plovatek Studio from the Start menu or the desktop.",
                MessageKind::Information);
    if (!request.websiteAddress.empty()) OpenLink(request.websiteAddress + "/games");
  }
  return 0;
}

}  // namespace plovatek
