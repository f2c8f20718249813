// Stand-in for the web browser: the http handler that the tests register
// records the command line the shell built for it.

#include <windows.h>

#include "json_line.h"
#include "record_file.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace plovatek::testing;
  JsonObject record;
  record.AddText("commandLine", GetCommandLineW()).AddRaw("argv", ArgumentsJson());
  AppendLine(EnvironmentValue(L"PLOVATEK_URL_RECORD"), record.Text());
  return 0;
}
