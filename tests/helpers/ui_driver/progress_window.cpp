#include "progress_window.h"

#include <algorithm>
#include <cstdint>

#include <string>

#include "screen_pixels.h"
#include "window_reading.h"

namespace plovatek::testing {
namespace {

std::string RectJson(const RECT& r) {
  JsonObject o;
  o.AddNumber("left", r.left).AddNumber("top", r.top).AddNumber("right", r.right).AddNumber("bottom", r.bottom);
  return o.Text();
}

// Client row 90 runs through the middle of the bar (82..98 down).
constexpr int kBarRow = 90;
constexpr int kBarTop = 82;

// The row as runs of one colour, left to right: [[0xRRGGBB, count], ...].
std::string RowRuns(const Pixels& pixels, int y) {
  JsonArray runs;
  int x = 0;
  while (x < pixels.width) {
    const std::uint32_t colour = pixels.At(x, y);
    int count = 0;
    while (x < pixels.width && pixels.At(x, y) == colour) {
      ++x;
      ++count;
    }
    JsonArray run;
    run.AddRaw(std::to_string(colour)).AddRaw(std::to_string(count));
    runs.AddRaw(run.Text());
  }
  return runs.Text();
}

// The box around every pixel above the bar that differs from the client's
// top-left pixel (the background): where the status text put ink. null: none.
std::string InkAboveBar(const Pixels& pixels) {
  const std::uint32_t background = pixels.At(0, 0);
  int left = pixels.width, top = kBarTop, right = -1, bottom = -1;
  for (int y = 0; y < kBarTop && y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      if (pixels.At(x, y) == background) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return "null";
  const RECT box = {left, top, right + 1, bottom + 1};
  return RectJson(box);
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
      .AddRaw("rect", RectJson(outer))
      .AddRaw("screen", JsonObject()
                            .AddNumber("width", GetSystemMetrics(SM_CXSCREEN))
                            .AddNumber("height", GetSystemMetrics(SM_CYSCREEN))
                            .Text());
  // What the window shows, read from the screen (anything on top of it shows too).
  Pixels pixels;
  const RECT onScreen = {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
  if (IsWindowVisible(window) && CaptureScreen(onScreen, pixels) && pixels.height > kBarRow) {
    d.AddRaw("barRow", RowRuns(pixels, kBarRow)).AddRaw("textInk", InkAboveBar(pixels));
  }
  return d;
}

}  // namespace plovatek::testing
