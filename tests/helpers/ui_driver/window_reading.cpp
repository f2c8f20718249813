#include "window_reading.h"

#include <iterator>

namespace plovatek::testing {

std::wstring ClassNameOf(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
  result = 0;
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result) != 0;
}

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, length)) {
    // The owner is busy: the caption the window manager keeps is the next best.
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  SendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), copied);
  text.resize(copied < text.size() ? static_cast<size_t>(copied) : 0);
  return text;
}

namespace {
BOOL CALLBACK Collect(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(&Collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> windows;
  EnumChildWindows(parent, &Collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

}  // namespace plovatek::testing
