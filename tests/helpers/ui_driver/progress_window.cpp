#include "progress_window.h"

#include "window_reading.h"

namespace plovatek::testing {
namespace {

std::string RectJson(const RECT& r) {
  JsonObject o;
  o.AddNumber("left", r.left).AddNumber("top", r.top).AddNumber("right", r.right).AddNumber("bottom", r.bottom);
  return o.Text();
}

}  // namespace

JsonObject DescribeProgressWindow(HWND window) {
  RECT client = {};
  GetClientRect(window, &client);
  RECT outer = {};
  GetWindowRect(window, &outer);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);  // where client pixel (0, 0) sits on the screen

  JsonObject size;
  size.AddNumber("width", client.right - client.left).AddNumber("height", client.bottom - client.top);
  JsonObject originJson;
  originJson.AddNumber("x", origin.x).AddNumber("y", origin.y);

  JsonObject d;
  d.AddText("kind", L"window")
      .AddNumber("hwnd", static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(window)))
      .AddText("className", ClassNameOf(window))
      .AddText("title", TextOf(window))
      .AddNumber("style", static_cast<std::uint32_t>(GetWindowLongW(window, GWL_STYLE)))
      .AddNumber("exStyle", static_cast<std::uint32_t>(GetWindowLongW(window, GWL_EXSTYLE)))
      .AddBool("visible", IsWindowVisible(window) != FALSE)
      .AddRaw("client", size.Text())
      .AddRaw("clientOrigin", originJson.Text())
      .AddRaw("rect", RectJson(outer));
  return d;
}

}  // namespace plovatek::testing
