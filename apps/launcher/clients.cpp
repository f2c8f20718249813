#include "clients.h"

#include <windows.h>
#include <shellapi.h>

#include "messages.h"
#include "win/unique_handle.h"

namespace plovatek {

bool StartClient(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                 std::string& error) {
  // Quoting without escaping is only sound while no argument holds a quote of
  // its own: one would end the argument early and let the rest of a link
  // become further arguments of the client.
  std::wstring line = L"\"" + executable.native() + L"\"";
  for (const std::string& argument : arguments) {
    const std::wstring wide = Utf8ToWide(argument);
    if (wide.find(L'"') != std::wstring::npos) {
      error = "That link has a \" in it";
      return false;
    }
    line += L" \"";
    line += wide;
    // Backslashes right before the closing quote would escape it for the
    // client's argument parser (a link ending in '\\' would arrive with a
    // quote and without its last backslash): doubled, they arrive as given.
    size_t trailing = 0;
    while (trailing < wide.size() && wide[wide.size() - 1 - trailing] == L'\\') ++trailing;
    line.append(trailing, L'\\');
    line += L'"';
  }
  // The client's own version folder, not the folder the launcher was started from.
  const std::filesystem::path workingFolder = executable.parent_path();

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(executable.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.c_str(), &startup, &process)) {
    error = WindowsErrorText("Windows wouldn't start it");  // directly after the failure
    return false;
  }
  // Declared in this order so the thread handle closes first, then the
  // process handle; the client runs on without us.
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);
  return true;
}

void OpenLink(const std::string& url) {
  // The worker thread has COM as a single-threaded apartment, as the shell wants.
  ShellExecuteW(nullptr, L"open", Utf8ToWide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace plovatek
