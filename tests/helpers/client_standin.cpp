// Stand-in for the player and the studio (one source, built under both names):
// records how the launcher started it and exits 0. PLOVATEK_CLIENT_STAY_MS keeps
// it running a while, for tests that check the launcher does not wait for it.

#include <windows.h>

#include <cstdlib>
#include <iterator>
#include <string>

#include "json_line.h"
#include "record_file.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace plovatek::testing;

  wchar_t exe[1040] = {};
  GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));

  JsonObject record;
  record.AddText("exe", exe)
      .AddText("commandLine", GetCommandLineW())
      .AddText("workingFolder", folder)
      .AddRaw("argv", ArgumentsJson())
      .AddNumber("pid", static_cast<std::int64_t>(GetCurrentProcessId()));
  AppendLine(EnvironmentValue(L"PLOVATEK_CLIENT_RECORD"), record.Text());

  const std::wstring stay = EnvironmentValue(L"PLOVATEK_CLIENT_STAY_MS");
  if (!stay.empty()) Sleep(static_cast<DWORD>(std::wcstoul(stay.c_str(), nullptr, 10)));
  return 0;
}
