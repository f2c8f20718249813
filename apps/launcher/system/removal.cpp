#include "system/removal.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>
#include <system_error>

#include "install_home.h"
#include "system/file_types.h"
#include "win/unique_handle.h"

namespace plovatek {

void RemoveFromWindows(const std::filesystem::path& installHome) {
  (void)installHome;  // everything removed here is found by fixed names
  RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey);
  RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
  for (const FileType& type : FileTypeTable) {
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kClassesKey) + type.extension).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kClassesKey) + type.progId).c_str());
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);

  std::error_code ignored;
  // Without the Programs folder the name would be relative to wherever we were
  // started, and nothing there is ours to delete.
  const std::wstring programs = KnownFolderPath(FOLDERID_Programs);
  if (!programs.empty()) {
    const std::filesystem::path startMenu = std::filesystem::path(programs) / kStartMenuFolderName;
    if (!std::filesystem::remove(startMenu, ignored)) RemoveTree(startMenu);
  }
  const std::wstring desktop = KnownFolderPath(FOLDERID_Desktop);
  if (!desktop.empty()) std::filesystem::remove(std::filesystem::path(desktop) / kStudioShortcutName, ignored);
}

std::wstring LauncherDeletionCommandLine(const std::filesystem::path& installHome) {
  // cmd.exe expands %NAME% even inside quotes and nothing escapes it there: such a
  // home would make del name some other file, so its copies are left in place.
  if (installHome.native().find(L'%') != std::wstring::npos) return {};
  std::wstring line = L"cmd.exe /c ping 127.0.0.1 -n 3 > nul & del /f /q \"";
  line += (installHome / kLauncherCopy).native();
  line += L"\" & del /f /q \"";
  line += (installHome / kOldLauncherCopy).native();
  line += L"\"";
  return line;
}

void ScheduleLauncherDeletion(const std::filesystem::path& installHome) {
  std::wstring line = LauncherDeletionCommandLine(installHome);
  if (line.empty()) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &process)) {
    UniqueHandle thread(process.hThread);
    UniqueHandle processHandle(process.hProcess);
    thread.reset();  // thread handle first, then the process handle
  }
}

}  // namespace plovatek
