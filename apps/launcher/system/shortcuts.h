#pragma once
// The studio's shortcuts in the Start menu and on the desktop, and the website's.

#include <string>

namespace plovatek {

// Needs COM initialised on the calling thread; failures are silent.
void CreateShellShortcut(const std::wstring& shortcutPath, const std::wstring& targetPath,
                         const std::wstring& arguments, const std::wstring& iconPath, const std::wstring& description);

void CreateShortcuts(const std::wstring& launcherPath, const std::string& website, const std::wstring& iconPath);

}  // namespace plovatek
