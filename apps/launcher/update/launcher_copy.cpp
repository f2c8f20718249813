#include "update/launcher_copy.h"

#include <windows.h>

#include <system_error>

#include "install_home.h"
#include "net/download.h"
#include "net/fingerprint.h"

namespace plovatek {

bool ReplaceLauncherCopy(const std::filesystem::path& home, const std::string& website,
                         const ReleaseManifest& manifest, std::string& error) {
  const std::filesystem::path copy = home / kLauncherCopy;
  const std::filesystem::path old = home / kOldLauncherCopy;
  std::error_code ignored;

  std::filesystem::create_directories(home, ignored);
  if (!website.empty()) WriteWholeFile(home / kWebsiteFile, website + "\n");
  // An old copy that still runs stays until a later call.
  std::filesystem::remove(old, ignored);

  std::string own;
  const std::filesystem::path ownPath = OwnExecutablePath();
  const bool haveOwn = !ownPath.empty() && ReadWholeFile(ownPath, own) && !own.empty();
  own = StripWebsiteStamp(own);

  std::string wanted = own;
  bool haveWanted = haveOwn;
  const ManifestFile& release = manifest.launcher;
  if (!release.path.empty() && (!haveOwn || Sha256Hex(own) != release.sha256)) {
    std::string body;
    bool reached = false;
    if (DownloadUrl(website + "/client/files/" + release.sha256, body, error, reached, release.size, {}) &&
        Sha256Hex(body) == release.sha256) {
      wanted.swap(body);
      haveWanted = true;
    } else if (error.empty()) {
      error = "The new launcher came out wrong";
    }
  }
  // Without our own bytes and without a good download there is nothing to
  // write; an empty copy would break every shortcut, so the copy is kept.
  if (!haveWanted) {
    if (error.empty()) error = "Couldn't read the running launcher";
    return true;
  }

  std::string present;
  if (ReadWholeFile(copy, present) && present == wanted) return true;

  if (std::filesystem::exists(std::filesystem::symlink_status(copy, ignored))) {
    // A running copy can be renamed but not overwritten: move it aside first.
    MoveFileExW(copy.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
  }
  if (WriteWholeFile(copy, wanted)) return true;
  error = "Couldn't write " + PathToUtf8(copy);
  return false;
}

}  // namespace plovatek
