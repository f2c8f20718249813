#include "system/shortcuts.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "install_home.h"
#include "system/file_types.h"

namespace plovatek {

using Microsoft::WRL::ComPtr;

void CreateShellShortcut(const std::wstring& shortcutPath, const std::wstring& targetPath,
                         const std::wstring& arguments, const std::wstring& iconPath, const std::wstring& description) {
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) return;
  link->SetPath(targetPath.c_str());
  link->SetArguments(arguments.c_str());
  link->SetWorkingDirectory(std::filesystem::path(targetPath).parent_path().c_str());
  link->SetDescription(description.c_str());
  if (!iconPath.empty()) link->SetIconLocation(iconPath.c_str(), 0);
  ComPtr<IPersistFile> file;
  if (SUCCEEDED(link.As(&file))) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(shortcutPath).parent_path(), ignored);
    file->Save(shortcutPath.c_str(), TRUE);
  }
}

void CreateShortcuts(const std::wstring& launcherPath, const std::string& website, const std::wstring& iconPath) {
  const std::wstring programs = KnownFolderPath(FOLDERID_Programs);
  const std::wstring desktop = KnownFolderPath(FOLDERID_Desktop);
  constexpr wchar_t kArguments[] = L"--studio";
  constexpr wchar_t kDescription[] = L"Make Plovatek games";

  // Without the Programs folder the Start-menu folder would be relative to
  // wherever we were started: skip it, as the desktop one is skipped.
  const std::filesystem::path startMenu =
      programs.empty() ? std::filesystem::path() : std::filesystem::path(programs) / kStartMenuFolderName;
  if (!startMenu.empty()) {
    CreateShellShortcut((startMenu / kStudioShortcutName).native(), launcherPath, kArguments, iconPath, kDescription);
  }
  if (!desktop.empty()) {
    CreateShellShortcut((std::filesystem::path(desktop) / kStudioShortcutName).native(), launcherPath, kArguments,
                        iconPath, kDescription);
  }
  if (!startMenu.empty() && !website.empty()) {
    std::ofstream file(startMenu / L"Plovatek.url", std::ios::binary | std::ios::trunc);
    file << "[InternetShortcut]\r\nURL=" << website << "/games\r\n";
  }
}

}  // namespace plovatek
