#include "message_boxes.h"

#include <algorithm>
#include <string>

#include "screen_pixels.h"
#include "window_reading.h"

namespace plovatek::testing {
namespace {

constexpr int kTextControlId = 0xFFFF;

bool IsIconStatic(HWND control) {
  return ClassNameOf(control) == L"Static" && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

struct SystemIcon {
  const char* kind;
  LPCWSTR id;
};
const SystemIcon kSystemIcons[] = {
    {"question", IDI_QUESTION},
    {"exclamation", IDI_EXCLAMATION},
    {"information", IDI_INFORMATION},
    {"error", IDI_ERROR},
};

// Share of the icon's opaque pixels that the screen shows in the same colour.
// Opaque pixels are those that render alike on black and on white, so the
// dialog's own background colour does not matter.
double MatchScore(const Pixels& shown, HICON icon) {
  const Pixels onBlack = RenderIcon(icon, shown.width, shown.height, RGB(0, 0, 0));
  const Pixels onWhite = RenderIcon(icon, shown.width, shown.height, RGB(255, 255, 255));
  if (onBlack.rgb.size() != shown.rgb.size() || onWhite.rgb.size() != shown.rgb.size()) return 0.0;
  size_t opaque = 0;
  size_t alike = 0;
  for (size_t i = 0; i < shown.rgb.size(); ++i) {
    if (onBlack.rgb[i] != onWhite.rgb[i]) continue;
    ++opaque;
    if (ChannelDistance(onBlack.rgb[i], shown.rgb[i]) <= 8) ++alike;
  }
  return opaque == 0 ? 0.0 : static_cast<double>(alike) / static_cast<double>(opaque);
}

}  // namespace

bool ReadMessageBox(HWND box, MessageBoxReading& reading) {
  if (!IsWindowVisible(box)) return false;
  reading = MessageBoxReading();
  reading.title = TextOf(box);
  reading.className = ClassNameOf(box);
  reading.style = GetWindowLongW(box, GWL_STYLE);
  reading.exStyle = GetWindowLongW(box, GWL_EXSTYLE);

  for (HWND child : ChildWindows(box)) {
    if (GetParent(child) != box) continue;  // direct controls only
    const std::wstring className = ClassNameOf(child);
    const int id = static_cast<int>(GetWindowLongPtrW(child, GWLP_ID) & 0xFFFF);
    if (className == L"Button" && IsWindowVisible(child)) {
      reading.buttons.push_back({id, TextOf(child), GetWindowLongW(child, GWL_STYLE), child});
    } else if (IsIconStatic(child)) {
      if (IsWindowVisible(child)) reading.iconControl = child;
    } else if (className == L"Static" && id == kTextControlId) {
      reading.text = TextOf(child);
    }
  }
  if (reading.buttons.empty()) return false;

  std::stable_sort(reading.buttons.begin(), reading.buttons.end(), [](const BoxButton& a, const BoxButton& b) {
    RECT ra = {};
    RECT rb = {};
    GetWindowRect(a.window, &ra);
    GetWindowRect(b.window, &rb);
    return ra.left < rb.left;
  });

  // The button style, not DM_GETDEFID: Wine 8 answers DM_GETDEFID of a Yes/No
  // box with IDOK.
  for (const BoxButton& button : reading.buttons)
    if ((button.style & 0x0F) == BS_DEFPUSHBUTTON) reading.defaultButton = button.id;
  return true;
}

BoxIcon ReadBoxIcon(const MessageBoxReading& reading) {
  BoxIcon icon;
  if (reading.iconControl == nullptr) return icon;
  DWORD_PTR handle = 0;
  // The handle belongs to the other process and cannot be drawn here; it only
  // tells whether an icon was set at all.
  if (SendWithTimeout(reading.iconControl, STM_GETICON, 0, 0, handle) && handle == 0) return icon;

  RECT rect = {};
  GetWindowRect(reading.iconControl, &rect);
  Pixels shown;
  if (!CaptureScreen(rect, shown) || shown.Uniform()) {
    icon.kind = "pending";
    return icon;
  }

  JsonObject scores;
  double best = 0.0;
  double second = 0.0;
  const char* bestKind = "unknown";
  for (const SystemIcon& candidate : kSystemIcons) {
    const double score = MatchScore(shown, LoadIconW(nullptr, candidate.id));
    scores.AddRaw(candidate.kind, std::to_string(score));
    if (score > best) {
      second = best;
      best = score;
      bestKind = candidate.kind;
    } else if (score > second) {
      second = score;
    }
  }
  icon.scoresJson = scores.Text();
  // A clear winner only: a half-painted or covered icon stays "unknown".
  icon.kind = (best >= 0.9 && best - second >= 0.05) ? bestKind : "unknown";
  return icon;
}

void AddBoxFields(const MessageBoxReading& reading, JsonObject& object) {
  JsonArray buttons;
  for (const BoxButton& button : reading.buttons) {
    JsonObject b;
    b.AddNumber("id", button.id)
        .AddText("text", button.text)
        .AddNumber("style", static_cast<std::uint32_t>(button.style));
    buttons.AddRaw(b.Text());
  }
  object.AddText("title", reading.title)
      .AddText("className", reading.className)
      .AddText("text", reading.text)
      .AddRaw("buttons", buttons.Text())
      .AddNumber("defaultButton", reading.defaultButton)
      .AddNumber("style", static_cast<std::uint32_t>(reading.style))
      .AddNumber("exStyle", static_cast<std::uint32_t>(reading.exStyle))
      .AddBool("topmost", (reading.exStyle & WS_EX_TOPMOST) != 0);
}

}  // namespace plovatek::testing
