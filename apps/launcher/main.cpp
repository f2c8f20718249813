// Process entry: split and convert the command line, then hand over to LauncherMain.

#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_line.h"
#include "messages.h"
#include "win/unique_handle.h"

namespace {

std::vector<std::string> ConvertedArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (split == nullptr) return arguments;
  plovatek::UniqueLocalMem owner(split);
  for (int i = 1; i < count; ++i) {
    try {
      arguments.push_back(plovatek::WideToUtf8(split[i]));
    } catch (const std::range_error&) {
      // Not well-formed UTF-16 (an unpaired surrogate): no option or file can
      // be named like that, so the argument is skipped like any unknown one.
    }
  }
  return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The one guard above everything: the launcher never crashes.
  try {
    return plovatek::LauncherMain(ConvertedArguments());
  } catch (...) {
    plovatek::ShowUnexpectedFailure();
    return 1;
  }
}
