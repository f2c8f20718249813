#include "ui/progress_window.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "win/unique_handle.h"

namespace plovatek {
namespace {

constexpr COLORREF kBackground = RGB(24, 26, 30);
constexpr COLORREF kTrack = RGB(50, 54, 60);
constexpr COLORREF kFill = RGB(80, 200, 110);

// The progress window of this process, or null.
HWND FindOwnProgressWindow() {
  struct Search {
    HWND found = nullptr;
  } search;
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (process != GetCurrentProcessId() || std::wstring(name) != L"PlovatekLauncher") return TRUE;
        reinterpret_cast<Search*>(context)->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct WindowDc {
  HWND window;
  HDC dc;
  explicit WindowDc(HWND w) : window(w), dc(GetDC(w)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() { ReleaseDC(window, dc); }
};

struct MemoryDc {
  HDC dc;
  explicit MemoryDc(HDC like) : dc(CreateCompatibleDC(like)) {}
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  ~MemoryDc() { DeleteDC(dc); }
};

// The client area as it stands on the (virtual) screen.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  bool operator==(const Picture& other) const { return pixels == other.pixels; }
};

Picture Capture(HWND window) {
  Picture picture;
  RECT client{};
  GetClientRect(window, &client);
  picture.width = client.right;
  picture.height = client.bottom;
  WindowDc source(window);
  MemoryDc memory(source.dc);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueGdiObject bitmap(CreateDIBSection(source.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return picture;
  const HGDIOBJ previous = SelectObject(memory.dc, bitmap.get());
  BitBlt(memory.dc, 0, 0, picture.width, picture.height, source.dc, 0, 0, SRCCOPY);
  GdiFlush();
  const auto* raw = static_cast<const std::uint32_t*>(bits);
  for (int i = 0; i < picture.width * picture.height; ++i) {
    const std::uint32_t v = raw[i];  // 0x00RRGGBB
    picture.pixels.push_back(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
  }
  SelectObject(memory.dc, previous);
  return picture;
}

std::string Describe(COLORREF c) {
  std::ostringstream out;
  out << "RGB(" << int(GetRValue(c)) << "," << int(GetGValue(c)) << "," << int(GetBValue(c)) << ")";
  return out.str();
}

// Empty when the part below the text box shows a track with `fill` pixels
// filled; else the first difference.
std::string CompareBar(const Picture& picture, int fill) {
  if (picture.width != 440 || picture.height != 150) return "client area is not 440 x 150";
  for (int y = 70; y < 150; ++y) {
    for (int x = 0; x < 440; ++x) {
      COLORREF want = kBackground;
      if (y >= 82 && y < 98 && x >= 24 && x < 416) want = x < 24 + fill ? kFill : kTrack;
      if (picture.At(x, y) != want) {
        std::ostringstream out;
        out << "at (" << x << "," << y << ") " << Describe(picture.At(x, y)) << ", wanted " << Describe(want);
        return out.str();
      }
    }
  }
  return {};
}

// Polls until the predicate holds on two equal captures in a row (no paint half done).
bool WaitForPicture(HWND window, const std::function<bool(const Picture&)>& wanted, Picture& last) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  Picture previous;
  while (std::chrono::steady_clock::now() < deadline) {
    last = Capture(window);
    if (wanted(last) && last == previous) return true;
    previous = last;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Where the status text put ink: the box around every pixel that is not background.
struct Ink {
  bool any = false;
  int left = 0, top = 0, right = 0, bottom = 0;  // inclusive
};

Ink InkAbove(const Picture& picture, int rowLimit) {
  Ink ink;
  for (int y = 0; y < rowLimit; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (picture.At(x, y) == kBackground) continue;
      if (!ink.any) {
        ink = {true, x, y, x, y};
      } else {
        ink.left = std::min(ink.left, x);
        ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y);
        ink.bottom = std::max(ink.bottom, y);
      }
    }
  }
  return ink;
}

// The status font's measure of a text, taken off screen.
SIZE MeasureStatusText(const std::wstring& text, int* lineHeight) {
  WindowDc screen(nullptr);
  MemoryDc memory(screen.dc);
  UniqueGdiObject font(CreateFontW(-18, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, L"Segoe UI"));
  const HGDIOBJ previous = SelectObject(memory.dc, font.get());
  SIZE size{};
  GetTextExtentPoint32W(memory.dc, text.c_str(), static_cast<int>(text.size()), &size);
  TEXTMETRICW metrics{};
  GetTextMetricsW(memory.dc, &metrics);
  *lineHeight = metrics.tmHeight;
  SelectObject(memory.dc, previous);
  return size;
}

class ProgressWindow : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgressStateForTesting(); }
};

TEST_F(ProgressWindow, HasItsClassTitleStyleAndSizeCentredOnTheScreen) {
  const int exitCode = RunWithProgressWindow([](const ProgressReporter&) {
    const HWND window = FindOwnProgressWindow();
    EXPECT_NE(window, nullptr);
    if (window == nullptr) return 0;
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Plovatek");
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    const LONG_PTR shapeBits = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME |
                               WS_POPUP | WS_CHILD | WS_VSCROLL | WS_HSCROLL;
    EXPECT_EQ(style & shapeBits, 0x00CA0000);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW), 0);
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetMenu(window), nullptr);
    EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), 0);
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), 0);
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HCURSOR), reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), GetModuleHandleW(nullptr));

    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 440);
    EXPECT_EQ(client.bottom, 150);
    RECT outer{};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2);
    return 0;
  });
  EXPECT_EQ(exitCode, 0);
}

// Holds the main thread at the first message its loop takes until the job has
// looked, so whatever the job sees was painted before the loop ran.
HANDLE g_jobHasLooked = nullptr;
LRESULT CALLBACK HoldTheLoop(int code, WPARAM wParam, LPARAM lParam) {
  WaitForSingleObject(g_jobHasLooked, 5000);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(ProgressWindow, ShowsStartingAndAnEmptyTrackBeforeTheJobRuns) {
  UniqueHandle looked(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_jobHasLooked = looked.get();
  const HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &HoldTheLoop, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  Picture picture;
  RunWithProgressWindow([&](const ProgressReporter&) {
    // No messages to the window from here until the event is set: its thread is held.
    const HWND window = FindOwnProgressWindow();
    if (window != nullptr) picture = Capture(window);
    SetEvent(g_jobHasLooked);
    return 0;
  });
  UnhookWindowsHookEx(hook);

  ASSERT_FALSE(picture.pixels.empty()) << "no window";
  EXPECT_EQ(CompareBar(picture, 0), "");
  int lineHeight = 0;
  const SIZE starting = MeasureStatusText(L"Starting...", &lineHeight);
  const Ink ink = InkAbove(picture, 82);
  ASSERT_TRUE(ink.any) << "no status text";
  EXPECT_GE(ink.left, 24);
  EXPECT_LE(ink.left, 24 + 3);
  EXPECT_NEAR(ink.right, 24 + starting.cx - 1, 3) << "not as wide as \"Starting...\"";
  EXPECT_GE(ink.top, 28);
  EXPECT_LT(ink.bottom, 28 + lineHeight);
}

TEST_F(ProgressWindow, FillFollowsTheFraction) {
  struct Case {
    double fraction;
    int filled;  // pixels of the 392-pixel track
  };
  // Each case differs from the one before, so a repaint is seen.
  const Case cases[] = {
      {1.5, 392},  // above 1: the whole track and no more
      {-1.0, 0},   // no measurable progress
      {0.5, 196},  // 24..219
      {0.0, 0},
      {0.999, 391},  // truncated, not rounded
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {0.25, 98},
      {1.0, 392},
      {-0.25, 0},
  };
  RunWithProgressWindow([&](const ProgressReporter& report) {
    const HWND window = FindOwnProgressWindow();
    EXPECT_NE(window, nullptr);
    if (window == nullptr) return 0;
    for (const Case& c : cases) {
      report("Working", c.fraction);
      Picture seen;
      const bool shown =
          WaitForPicture(window, [&](const Picture& p) { return CompareBar(p, c.filled).empty(); }, seen);
      EXPECT_TRUE(shown) << "fraction " << c.fraction << ": " << CompareBar(seen, c.filled);
    }
    return 0;
  });
}

TEST_F(ProgressWindow, BurstOfReportsEndsShowingTheLastOne) {
  // A download reports every piece it receives, far faster than the window
  // paints: whatever is merged on the way, the last report must be what stays.
  RunWithProgressWindow([&](const ProgressReporter& report) {
    const HWND window = FindOwnProgressWindow();
    EXPECT_NE(window, nullptr);
    if (window == nullptr) return 0;
    for (int round = 0; round < 3; ++round) {
      const int last = 196 - 98 * round;  // 0.5, then 0.25, then 0: each differs from the one before
      for (int i = 0; i <= 20000; ++i) report("Working", (last / 392.0) * i / 20000);
      Picture seen;
      const bool shown = WaitForPicture(window, [&](const Picture& p) { return CompareBar(p, last).empty(); }, seen);
      EXPECT_TRUE(shown) << "round " << round << ": " << CompareBar(seen, last);
    }
    return 0;
  });
}

TEST_F(ProgressWindow, StatusTextStaysOnOneLineAndEndsInAnEllipsisWhenTooWide) {
  RunWithProgressWindow([](const ProgressReporter& report) {
    const HWND window = FindOwnProgressWindow();
    EXPECT_NE(window, nullptr);
    if (window == nullptr) return 0;
    int lineHeight = 0;
    MeasureStatusText(L"W", &lineHeight);
    Picture seen;

    report("First line\nSecond line", -1.0);
    EXPECT_TRUE(WaitForPicture(window, [](const Picture& p) { return InkAbove(p, 82).any; }, seen));
    const Ink twoLines = InkAbove(seen, 82);
    EXPECT_GE(twoLines.top, 28);
    EXPECT_LT(twoLines.bottom, 28 + lineHeight) << "the line break started a new line";

    report("", -1.0);
    EXPECT_TRUE(WaitForPicture(window, [](const Picture& p) { return !InkAbove(p, 82).any; }, seen));

    report(std::string(60, 'W'), -1.0);
    if (!WaitForPicture(window, [](const Picture& p) { return InkAbove(p, 82).any; }, seen)) {
      ADD_FAILURE() << "the long text never showed";
      return 0;
    }
    const Ink wide = InkAbove(seen, 82);
    EXPECT_LE(wide.right, 415) << "drawn past the text box";
    EXPECT_GE(wide.right, 416 - 24) << "cut short well before the edge";
    EXPECT_LT(wide.bottom, 28 + lineHeight);
    // The last marks are the dots of an ellipsis: low on the line, where a
    // cut-off W would reach up to the top of its glyph.
    const int glyphHeight = wide.bottom - wide.top + 1;
    for (int x = wide.right - 3; x <= wide.right; ++x)
      for (int y = wide.top; y < wide.bottom - glyphHeight / 3; ++y)
        EXPECT_EQ(seen.At(x, y), kBackground) << "ink high up at (" << x << "," << y << "): no ellipsis";
    return 0;
  });
}

TEST_F(ProgressWindow, MalformedReportReachesTheJobAndLeavesTheShownStateAlone) {
  RunWithProgressWindow([](const ProgressReporter& report) {
    const HWND window = FindOwnProgressWindow();
    EXPECT_NE(window, nullptr);
    if (window == nullptr) return 0;
    report("Half way", 0.5);
    Picture before;
    EXPECT_TRUE(WaitForPicture(window, [](const Picture& p) { return CompareBar(p, 196).empty(); }, before));
    EXPECT_THROW(report("bad \xff byte", 1.0), std::range_error);
    // Paint now, from the state as it stands (a cross-thread paint is sent, so it is done on return).
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const Picture after = Capture(window);
    EXPECT_EQ(CompareBar(after, 196), "");
    EXPECT_TRUE(after == before) << "the text changed";
    // The lock was let go: a good report goes through.
    report("Three quarters", 0.75);
    Picture seen;
    EXPECT_TRUE(WaitForPicture(window, [](const Picture& p) { return CompareBar(p, 294).empty(); }, seen));
    return 0;
  });
}

TEST_F(ProgressWindow, ReturnsTheJobsExitCodeFromItsWorkerAndClosesByItself) {
  const DWORD mainThread = GetCurrentThreadId();
  HWND window = nullptr;
  HRESULT comOnWorker = E_FAIL;
  const int exitCode = RunWithProgressWindow([&](const ProgressReporter&) {
    window = FindOwnProgressWindow();
    EXPECT_NE(GetCurrentThreadId(), mainThread);
    // Already a single-threaded apartment: S_FALSE (an MTA would say RPC_E_CHANGED_MODE).
    comOnWorker = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(comOnWorker)) CoUninitialize();
    return 3;
  });
  EXPECT_EQ(exitCode, 3);
  EXPECT_EQ(comOnWorker, S_FALSE);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindow(window));
}

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) return FALSE;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(ProgressWindow, JobStillRunsWhenTheWindowCannotBeCreated) {
  // A class of the same name registered first makes the window's own
  // registration fail, and this one refuses to create windows.
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  UnregisterClassW(L"PlovatekLauncher", instance);
  WNDCLASSW refusing{};
  refusing.lpfnWndProc = &RefuseCreation;
  refusing.hInstance = instance;
  refusing.lpszClassName = L"PlovatekLauncher";
  ASSERT_NE(RegisterClassW(&refusing), 0);

  const DWORD mainThread = GetCurrentThreadId();
  bool ran = false;
  const int exitCode = RunWithProgressWindow([&](const ProgressReporter& report) {
    ran = GetCurrentThreadId() != mainThread;
    EXPECT_EQ(FindOwnProgressWindow(), nullptr);
    report("Nobody sees this", 0.5);  // must not fail for want of a window
    return 5;
  });
  UnregisterClassW(L"PlovatekLauncher", instance);
  EXPECT_TRUE(ran);
  EXPECT_EQ(exitCode, 5);
}

TEST_F(ProgressWindow, ClosingTheWindowWhileTheJobRunsEndsTheProcessWithCode1) {
  // Runs in a child process, which the close is expected to end.
  EXPECT_EXIT(
      {
        RunWithProgressWindow([](const ProgressReporter&) {
          const HWND window = FindOwnProgressWindow();
          if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);  // as the close button does
          std::this_thread::sleep_for(std::chrono::seconds(20));
          return 3;
        });
        std::exit(4);  // never reached when the close ends the process at once
      },
      ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace plovatek
