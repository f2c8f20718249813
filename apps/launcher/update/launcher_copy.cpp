#include "update/launcher_copy.h"

namespace plovatek {

bool ReplaceLauncherCopy(const std::filesystem::path& home, const std::string& website,
                         const ReleaseManifest& manifest, std::string& error) {
  (void)home;
  (void)website;
  (void)manifest;
  // NOT BUILT YET: nothing is copied or written. Its caller never uses the result.
  error = "Keeping the launcher copy current isn't built yet";
  return false;
}

}  // namespace plovatek
