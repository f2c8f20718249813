#include "ui/progress_window.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "messages.h"
#include "win/unique_handle.h"

namespace plovatek {
namespace {

constexpr wchar_t kClassName[] = L"PlovatekLauncher";
constexpr wchar_t kTitle[] = L"Plovatek";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // fixed size, no maximise
constexpr int kClientWidth = 440;
constexpr int kClientHeight = 150;

constexpr COLORREF kBackgroundColour = RGB(24, 26, 30);
constexpr COLORREF kTextColour = RGB(230, 230, 230);
constexpr COLORREF kTrackColour = RGB(50, 54, 60);
constexpr COLORREF kFillColour = RGB(80, 200, 110);

constexpr int kMargin = 24;
constexpr int kTextTop = 28;
constexpr int kTextBottom = 70;
constexpr int kTrackTop = 82;
constexpr int kTrackBottom = 98;

constexpr wchar_t kInitialStatus[] = L"Starting...";

// What the worker last reported. The reporter holds the lock while converting
// and storing, the painter while copying; neither posts or draws under it.
struct ProgressState {
  std::mutex lock;
  std::wstring statusText = kInitialStatus;
  double fraction = -1.0;
};
ProgressState g_progress;

// Written once by the main thread before the worker starts (null when the
// window could not be created, with the track width then 0); the worker only
// reads them.
HWND g_window = nullptr;
int g_trackWidth = 0;

// True from posting WM_PROGRESS_CHANGED until the window takes it; that one
// message covers every later report, since the paint reads the state when it runs.
std::atomic<bool> g_repaintPending{false};

// Pixels of the track that a fraction fills: none for a negative fraction or
// NaN, the whole track above 1.
int FilledWidth(double fraction, int trackWidth) {
  if (!(fraction >= 0.0)) return 0;
  return static_cast<int>(static_cast<double>(trackWidth) * std::min(fraction, 1.0));
}

void ReportProgress(const std::string& text, double fraction) {
  bool shownChanges = false;
  {
    std::lock_guard<std::mutex> hold(g_progress.lock);
    // Malformed UTF-8 throws here, before anything is stored: the job sees the
    // error and the window keeps showing the previous state.
    std::wstring wide = Utf8ToWide(text);
    shownChanges = wide != g_progress.statusText ||
                   FilledWidth(fraction, g_trackWidth) != FilledWidth(g_progress.fraction, g_trackWidth);
    g_progress.statusText = std::move(wide);
    g_progress.fraction = fraction;
  }
  // A download reports every piece it receives (8 KiB under Wine), and under
  // Wine every post and every paint is a round trip to the server: a message
  // per report made a 256 MiB install twice as slow as the same work without
  // the window. Only a report that changes the picture asks for a paint, and
  // only when none is on its way.
  if (shownChanges && g_window != nullptr && !g_repaintPending.exchange(true) &&
      !PostMessageW(g_window, WM_PROGRESS_CHANGED, 0, 0)) {
    g_repaintPending.store(false);  // not queued: the next change tries again
  }
}

void FillSolid(HDC dc, const RECT& area, COLORREF colour) {
  UniqueGdiObject brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &area, static_cast<HBRUSH>(brush.get()));
}

class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  ~PaintScope() { EndPaint(window_, &paint_); }
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

void Paint(HWND window) noexcept {
  PaintScope paint(window);
  const HDC dc = paint.dc();
  if (dc == nullptr) return;

  RECT client{};
  GetClientRect(window, &client);
  FillSolid(dc, client, kBackgroundColour);

  std::wstring text;
  double fraction = -1.0;
  try {
    std::lock_guard<std::mutex> hold(g_progress.lock);
    text = g_progress.statusText;
    fraction = g_progress.fraction;
  } catch (...) {
    // No memory for a copy of the text: draw the bar alone this time rather
    // than let an exception cross the window procedure.
    text.clear();
  }

  UniqueGdiObject font(CreateFontW(-18, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, L"Segoe UI"));
  const HGDIOBJ previousFont = font ? SelectObject(dc, font.get()) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kTextColour);
  RECT textBox{kMargin, kTextTop, client.right - kMargin, kTextBottom};
  DrawTextW(dc, text.c_str(), -1, &textBox, DT_SINGLELINE | DT_END_ELLIPSIS);
  if (previousFont != nullptr) SelectObject(dc, previousFont);  // before the font is deleted
  font.reset();

  const RECT track{kMargin, kTrackTop, client.right - kMargin, kTrackBottom};
  FillSolid(dc, track, kTrackColour);
  RECT fill = track;
  fill.right = track.left + FilledWidth(fraction, track.right - track.left);
  if (fill.right > fill.left) FillSolid(dc, fill, kFillColour);
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_PROGRESS_CHANGED:
      // Cleared before the invalidation: a report stored after this posts anew,
      // one stored before is read by the paint this schedules.
      g_repaintPending.store(false);
      // Repaints merge in the invalid region: many reports, one paint.
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_JOB_FINISHED:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      // WM_CLOSE included: the default destroys the window, and the loop's end
      // with the job unfinished ends the process.
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void RunJobOnWorker(std::atomic<int>& exitCode, const LaunchJob& job, std::atomic<bool>& done) {
  // The shortcut code needs COM on this thread as a single-threaded apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    const ProgressReporter reporter = &ReportProgress;
    exitCode.store(job(reporter));
  } catch (...) {
    // The launch job reports its own failures; anything that still escapes a
    // job must not end the process through std::terminate. The exit code stays 1.
  }
  if (SUCCEEDED(com)) CoUninitialize();
  // The exit code is stored before the flag, and the flag before the window
  // hears of it: the main thread reads them in the opposite order.
  done.store(true);
  if (g_window != nullptr) PostMessageW(g_window, WM_JOB_FINISHED, 0, 0);
}

}  // namespace

int RunWithProgressWindow(const LaunchJob& job) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.style = 0;
  windowClass.lpfnWndProc = &ProgressWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = nullptr;  // WM_PAINT covers the whole client area
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);  // a failure shows up as a failed creation

  RECT outer{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRect(&outer, kWindowStyle, FALSE);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  g_repaintPending.store(false);
  g_trackWidth = 0;
  g_window = CreateWindowExW(0, kClassName, kTitle, kWindowStyle, x, y, width, height, nullptr, nullptr,
                             instance, nullptr);
  if (g_window != nullptr) {
    RECT client{};
    GetClientRect(g_window, &client);
    g_trackWidth = client.right - 2 * kMargin;  // the track as Paint lays it out
    ShowWindow(g_window, SW_SHOWNORMAL);
    UpdateWindow(g_window);  // "Starting..." and the empty track before any work
  }

  std::atomic<int> exitCode{1};
  std::atomic<bool> done{false};
  std::thread worker;
  try {
    worker = std::thread(&RunJobOnWorker, std::ref(exitCode), std::cref(job), std::ref(done));
  } catch (const std::system_error&) {
    // No job runs. Take the window down so the caller's message box does not
    // sit in front of a window that can no longer paint, and drop the quit
    // message its destruction posts: it would close that box at once.
    if (g_window != nullptr) {
      DestroyWindow(g_window);
      MSG quit;
      PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    throw;
  }

  if (g_window != nullptr) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    // The window went away while the job still runs: the user closed it.
    // Nothing is waited for or cleaned up; the job stops wherever it stands.
    if (!done.load()) ExitProcess(1);
  }
  worker.join();
  return exitCode.load();
}

void ResetProgressStateForTesting() {
  std::lock_guard<std::mutex> hold(g_progress.lock);
  g_progress.statusText = kInitialStatus;
  g_progress.fraction = -1.0;
}

}  // namespace plovatek
