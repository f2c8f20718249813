#pragma once
// Makes an installation known to Windows for the current user: the plovatek:
// links, the studio's file types, the uninstall entry and the shortcuts.

#include <cstdint>
#include <filesystem>
#include <string>

namespace plovatek {

// Rewrites every entry on each call; failures are silent.
void RegisterWithWindows(const std::filesystem::path& installHome, const std::filesystem::path& launcherPath,
                         const std::string& website, const std::string& version);

// The file types alone; true when an icon value had to change (the shell is then told).
bool RegisterFileTypes(const std::wstring& quotedLauncherPath, const std::filesystem::path& studioIconPath);

// Bytes of the regular files under Versions, in the uninstall entry's units (2 KiB, plus one).
std::uint32_t EstimatedSize(const std::filesystem::path& installHome);

}  // namespace plovatek
