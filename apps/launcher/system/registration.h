#pragma once
// Making an installation known to Windows for the current user.

#include <filesystem>
#include <string>

namespace plovatek {

// The plovatek: scheme, the studio's file types, the uninstall entry, then the
// shortcuts. Reports nothing.
void RegisterWithWindows(const std::filesystem::path& installHome, const std::filesystem::path& launcher,
                         const std::string& website, const std::string& version);

}  // namespace plovatek
