#pragma once
// What the driver reports about the launcher's progress window. Every field
// added to DescribeProgressWindow is watched: the driver writes a new line
// whenever the description changes.

#include <windows.h>

#include "json_line.h"

namespace plovatek::testing {

inline constexpr wchar_t kProgressWindowClass[] = L"PlovatekLauncher";

JsonObject DescribeProgressWindow(HWND window);

}  // namespace plovatek::testing
