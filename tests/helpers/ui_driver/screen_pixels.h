#pragma once
// Reading back what is on the screen, and rendering reference images to compare
// it with. Under Xvfb every mapped window is on the screen, so the screen DC
// shows another process's window as it was last painted.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace plovatek::testing {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> rgb;  // 0x00RRGGBB, top row first

  std::uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
  bool Uniform() const;
};

// The screen's pixels inside rect (screen coordinates). False when nothing could be read.
bool CaptureScreen(const RECT& rect, Pixels& out);

// The icon drawn at width x height onto a solid background.
Pixels RenderIcon(HICON icon, int width, int height, COLORREF background);

// Largest difference of one colour channel.
int ChannelDistance(std::uint32_t a, std::uint32_t b);

}  // namespace plovatek::testing
