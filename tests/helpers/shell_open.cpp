// shell_open URL: opens a URL the way the launcher does (ShellExecuteW "open" on
// a thread with a single-threaded COM apartment); proves the http handler fixture.

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: shell_open URL\n", stderr);
    return 2;
  }
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", argv[1], nullptr, nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(com)) CoUninitialize();
  std::printf("ShellExecuteW returned %lld\n", static_cast<long long>(result));
  return result > 32 ? 0 : 1;
}
