// show_box [--window] STYLE TEXT [STYLE TEXT]...: shows message boxes titled
// "Plovatek" one after another (STYLE as MessageBoxW takes it, e.g. 0x40024) and
// prints what each returned, one number a line. With --window a window of the
// progress window's class and size stands behind them. Lets the tests check the
// UI driver against boxes whose look is known.

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND MakeWindow() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"PlovatekLauncher";
  RegisterClassW(&windowClass);
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT outer = {0, 0, 440, 150};
  AdjustWindowRect(&outer, style, FALSE);
  HWND window = CreateWindowExW(0, L"PlovatekLauncher", L"Plovatek", style, 10, 10, outer.right - outer.left,
                                outer.bottom - outer.top, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window) {
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
  }
  return window;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  HWND window = nullptr;
  if (argc > 1 && std::wcscmp(argv[1], L"--window") == 0) {
    window = MakeWindow();
    if (!window) return 1;
    first = 2;
  }
  if ((argc - first) % 2 != 0) {
    std::fputs("usage: show_box [--window] STYLE TEXT [STYLE TEXT]...\n", stderr);
    return 2;
  }
  for (int i = first; i < argc; i += 2) {
    const auto style = static_cast<UINT>(std::wcstoul(argv[i], nullptr, 0));
    std::printf("%d\n", MessageBoxW(nullptr, argv[i + 1], L"Plovatek", style));
    std::fflush(stdout);
  }
  if (window) DestroyWindow(window);
  return 0;
}
