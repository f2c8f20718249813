#include "screen_pixels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "win/unique_handle.h"

namespace plovatek::testing {
namespace {

// A top-down 32-bit DIB section selected into its own memory DC; draw into dc,
// then Read() the pixels.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
    dc_.reset(CreateCompatibleDC(nullptr));
    if (bitmap_ && dc_) previous_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() {
    if (previous_) SelectObject(dc_.get(), previous_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return previous_ ? dc_.get() : nullptr; }

  Pixels Read() const {
    Pixels pixels;
    if (!dc()) return pixels;
    GdiFlush();
    pixels.width = width_;
    pixels.height = height_;
    pixels.rgb.resize(static_cast<size_t>(width_) * height_);
    std::memcpy(pixels.rgb.data(), bits_, pixels.rgb.size() * sizeof(std::uint32_t));
    for (auto& p : pixels.rgb) p &= 0x00FFFFFF;  // BI_RGB: the top byte is unused
    return pixels;
  }

 private:
  int width_;
  int height_;
  void* bits_ = nullptr;
  UniqueGdiObject bitmap_;  // declared before dc_: the DC goes first
  UniqueMemoryDc dc_;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace

bool Pixels::Uniform() const {
  return std::all_of(rgb.begin(), rgb.end(), [this](std::uint32_t p) { return p == rgb.front(); });
}

bool CaptureScreen(const RECT& rect, Pixels& out) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  UniqueScreenDc screen(GetDC(nullptr));
  Canvas canvas(width, height);
  if (!screen || !canvas.dc()) return false;
  if (!BitBlt(canvas.dc(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY)) return false;
  out = canvas.Read();
  return true;
}

Pixels RenderIcon(HICON icon, int width, int height, COLORREF background) {
  Canvas canvas(width, height);
  if (!canvas.dc()) return {};
  UniqueGdiObject brush(CreateSolidBrush(background));
  const RECT all = {0, 0, width, height};
  FillRect(canvas.dc(), &all, static_cast<HBRUSH>(brush.get()));
  DrawIconEx(canvas.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  return canvas.Read();
}

int ChannelDistance(std::uint32_t a, std::uint32_t b) {
  int worst = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int d = std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    worst = std::max(worst, d);
  }
  return worst;
}

}  // namespace plovatek::testing
