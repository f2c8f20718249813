#pragma once
// Small readers for windows of another process.

#include <windows.h>

#include <string>
#include <vector>

namespace plovatek::testing {

std::wstring ClassNameOf(HWND window);
// WM_GETTEXT through the owning thread, so controls answer with their own text.
std::wstring TextOf(HWND window);
std::vector<HWND> TopLevelWindows();
std::vector<HWND> ChildWindows(HWND parent);
// SendMessageTimeoutW with a short timeout; false when the owner did not answer.
bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result);

}  // namespace plovatek::testing
