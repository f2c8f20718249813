#include "system/registration.h"

namespace plovatek {

void RegisterWithWindows(const std::filesystem::path& installHome, const std::filesystem::path& launcher,
                         const std::string& website, const std::string& version) {
  (void)installHome;
  (void)launcher;
  (void)website;
  (void)version;
  // NOT BUILT YET: nothing is registered and no shortcut is made.
}

}  // namespace plovatek
