#pragma once
// Reading a message box of another process: its text, buttons, look and icon.

#include <windows.h>

#include <string>
#include <vector>

#include "json_line.h"

namespace plovatek::testing {

struct BoxButton {
  int id = 0;
  std::wstring text;
  LONG style = 0;
  HWND window = nullptr;
};

// What the icon control shows. kind: "question", "exclamation", "information",
// "error", "none" (no icon set), "pending" (set but not painted yet) or
// "unknown" (painted, matching none of the system icons).
struct BoxIcon {
  std::string kind = "none";
  std::string scoresJson = "{}";  // how well each system icon matched, 0..1
};

struct MessageBoxReading {
  std::wstring title;
  std::wstring className;
  std::wstring text;
  std::vector<BoxButton> buttons;  // left to right
  int defaultButton = 0;           // the BS_DEFPUSHBUTTON button; 0 when none is
  LONG style = 0;
  LONG exStyle = 0;
  HWND iconControl = nullptr;
};

// False while the box is not complete yet (not visible, or no buttons).
bool ReadMessageBox(HWND box, MessageBoxReading& reading);

// Compares the painted icon with the system's own icons.
BoxIcon ReadBoxIcon(const MessageBoxReading& reading);

// Everything read, as fields of a JSON object.
void AddBoxFields(const MessageBoxReading& reading, JsonObject& object);

}  // namespace plovatek::testing
