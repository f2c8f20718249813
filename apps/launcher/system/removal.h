#pragma once
// The Windows half of taking the platform off the computer.

#include <filesystem>
#include <string>

namespace plovatek {

// Deletes the URL scheme, file types, uninstall entry, Start-menu folder and desktop shortcut.
void RemoveFromWindows(const std::filesystem::path& installHome);

// The hidden command: wait about two seconds, then delete both launcher copies.
// Empty for a home whose path holds '%', which cmd.exe would expand.
std::wstring LauncherDeletionCommandLine(const std::filesystem::path& installHome);

// Starts a hidden cmd.exe that deletes the launcher copies about two seconds
// after this process has ended. The caller's very last act.
void ScheduleLauncherDeletion(const std::filesystem::path& installHome);

}  // namespace plovatek
