// ui_driver: reads and answers the launcher's message boxes and watches its
// progress window, writing one JSON object per line (see tests/e2e/README.md).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "json_line.h"
#include "message_boxes.h"
#include "progress_window.h"
#include "win/unique_handle.h"
#include "window_reading.h"

namespace plovatek::testing {
namespace {

constexpr wchar_t kBoxClass[] = L"#32770";
constexpr wchar_t kBoxTitle[] = L"Plovatek";
constexpr DWORD kPollMs = 15;
// How long an icon may stay unpainted (or half painted) before it is recorded as it is.
constexpr ULONGLONG kIconPatienceMs = 1500;

struct Answer {
  std::wstring name;
  int id = 0;
};

const Answer kButtons[] = {
    {L"ok", IDOK},         {L"cancel", IDCANCEL}, {L"abort", IDABORT},       {L"retry", IDRETRY},
    {L"ignore", IDIGNORE}, {L"yes", IDYES},       {L"no", IDNO},             {L"close", IDCLOSE},
    {L"help", IDHELP},     {L"tryagain", IDTRYAGAIN}, {L"continue", IDCONTINUE},
};

std::wstring NameOfButton(int id) {
  for (const Answer& a : kButtons)
    if (a.id == id) return a.name;
  return std::to_wstring(id);
}

std::optional<Answer> ParseAnswer(std::wstring token) {
  for (auto& c : token) c = static_cast<wchar_t>(towlower(c));
  for (const Answer& a : kButtons)
    if (a.name == token) return a;
  wchar_t* end = nullptr;
  const unsigned long id = std::wcstoul(token.c_str(), &end, 10);
  if (!token.empty() && *end == L'\0' && id > 0 && id < 0x10000) return Answer{token, static_cast<int>(id)};
  return std::nullopt;
}

struct Options {
  std::wstring out;  // empty: standard output
  std::vector<Answer> answers;
  std::wstring stop;
  double timeoutSeconds = 300;
  double closeWindowAfterSeconds = -1;  // negative: never close the progress window
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (i + 1 >= argc) return false;
    const std::wstring value = argv[++i];
    if (name == L"--out") {
      options.out = value;
    } else if (name == L"--stop") {
      options.stop = value;
    } else if (name == L"--timeout") {
      options.timeoutSeconds = std::wcstod(value.c_str(), nullptr);
    } else if (name == L"--close-window-after") {
      options.closeWindowAfterSeconds = std::wcstod(value.c_str(), nullptr);
    } else if (name == L"--answers") {
      size_t start = 0;
      while (start <= value.size() && !value.empty()) {
        const size_t comma = value.find(L',', start);
        const std::wstring token = value.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        const std::optional<Answer> answer = ParseAnswer(token);
        if (!answer) return false;
        options.answers.push_back(*answer);
        if (comma == std::wstring::npos) break;
        start = comma + 1;
      }
    } else {
      return false;
    }
  }
  return true;
}

class Output {
 public:
  bool Open(const std::wstring& path) {
    if (path.empty()) {
      handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
      return true;
    }
    file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    handle_ = file_.get();
    return static_cast<bool>(file_);
  }
  // Unbuffered: a line is in the file once this returns, whatever happens next.
  void Line(const std::string& json) {
    const std::string bytes = json + "\n";
    DWORD written = 0;
    WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

 private:
  UniqueFileHandle file_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class Driver {
 public:
  Driver(const Options& options, Output& out) : options_(options), out_(out), start_(GetTickCount64()) {}

  std::int64_t Elapsed() const { return static_cast<std::int64_t>(GetTickCount64() - start_); }

  void Pass() {
    const std::vector<HWND> windows = TopLevelWindows();
    const std::set<HWND> present(windows.begin(), windows.end());
    Forget(present);
    for (HWND window : windows) {
      const std::wstring className = ClassNameOf(window);
      if (className == kBoxClass) {
        HandleDialog(window);
      } else if (className == kProgressWindowClass) {
        WatchProgressWindow(window);
      }
    }
  }

 private:
  void Forget(const std::set<HWND>& present) {
    for (auto it = windowStates_.begin(); it != windowStates_.end();) {
      if (present.count(it->first)) {
        ++it;
        continue;
      }
      JsonObject gone;
      gone.AddText("kind", L"windowGone")
          .AddNumber("hwnd", static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(it->first)))
          .AddNumber("ms", Elapsed());
      out_.Line(gone.Text());
      it = windowStates_.erase(it);
    }
    std::erase_if(answered_, [&](HWND w) { return !present.count(w); });
    std::erase_if(othersReported_, [&](HWND w) { return !present.count(w); });
    std::erase_if(firstSeen_, [&](const auto& entry) { return !present.count(entry.first); });
    std::erase_if(firstVisible_, [&](const auto& entry) { return !present.count(entry.first); });
    std::erase_if(closed_, [&](HWND w) { return !present.count(w); });
  }

  void HandleDialog(HWND box) {
    if (answered_.count(box) || othersReported_.count(box) || !IsWindowVisible(box)) return;
    if (TextOf(box) != kBoxTitle) {
      ReportOtherDialog(box);
      return;
    }
    MessageBoxReading reading;
    if (!ReadMessageBox(box, reading)) return;
    const ULONGLONG firstSeen = firstSeen_.emplace(box, GetTickCount64()).first->second;
    const BoxIcon icon = ReadBoxIcon(reading);
    if ((icon.kind == "pending" || icon.kind == "unknown") && GetTickCount64() - firstSeen < kIconPatienceMs)
      return;  // look again on the next pass

    const size_t index = nextAnswer_++;
    const BoxButton* press = nullptr;
    std::wstring wanted;
    if (index < options_.answers.size()) {
      wanted = options_.answers[index].name;
      press = Find(reading, options_.answers[index].id);
    }
    // After the list, or when the wanted button is not there: OK, else No, else
    // Cancel, else the first button, so that no box is ever left open.
    for (int fallback : {IDOK, IDNO, IDCANCEL})
      if (press == nullptr) press = Find(reading, fallback);
    if (press == nullptr) press = &reading.buttons.front();

    JsonObject record;
    record.AddText("kind", L"box")
        .AddNumber("seq", static_cast<std::int64_t>(index))
        .AddNumber("hwnd", static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(box)));
    AddBoxFields(reading, record);
    record.AddText("icon", std::wstring(icon.kind.begin(), icon.kind.end()))
        .AddRaw("iconScores", icon.scoresJson)
        .AddText("wanted", wanted)
        .AddText("answer", NameOfButton(press->id))
        .AddNumber("answerId", press->id)
        .AddNumber("firstSeenMs", static_cast<std::int64_t>(firstSeen - start_))
        .AddNumber("ms", Elapsed());
    out_.Line(record.Text());  // written before the answer: the launcher may exit right after it
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(press->id, BN_CLICKED), reinterpret_cast<LPARAM>(press->window));
    answered_.insert(box);
  }

  static const BoxButton* Find(const MessageBoxReading& reading, int id) {
    for (const BoxButton& b : reading.buttons)
      if (b.id == id) return &b;
    return nullptr;
  }

  // Any other dialog (a crash report, a box with a wrong title) is recorded, not answered.
  void ReportOtherDialog(HWND box) {
    MessageBoxReading reading;
    ReadMessageBox(box, reading);
    JsonObject record;
    record.AddText("kind", L"otherDialog")
        .AddNumber("hwnd", static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(box)));
    AddBoxFields(reading, record);
    record.AddNumber("ms", Elapsed());
    out_.Line(record.Text());
    othersReported_.insert(box);
  }

  void WatchProgressWindow(HWND window) {
    const std::string state = DescribeProgressWindow(window).Text();
    auto& last = windowStates_[window];
    if (state != last) {
      last = state;
      // state ends with '}': append the time inside the object.
      out_.Line(state.substr(0, state.size() - 1) + ",\"ms\":" + std::to_string(Elapsed()) + "}");
    }
    MaybeClose(window);
  }

  // As the user's close button does: WM_CLOSE, once, when the window has been
  // visible for the time asked for.
  void MaybeClose(HWND window) {
    if (options_.closeWindowAfterSeconds < 0 || closed_.count(window) || !IsWindowVisible(window)) return;
    const ULONGLONG shown = firstVisible_.emplace(window, GetTickCount64()).first->second;
    if (GetTickCount64() - shown < static_cast<ULONGLONG>(options_.closeWindowAfterSeconds * 1000)) return;
    JsonObject record;
    record.AddText("kind", L"windowClose")
        .AddNumber("hwnd", static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(window)))
        .AddNumber("ms", Elapsed());
    out_.Line(record.Text());  // before the close: the launcher may end right after it
    PostMessageW(window, WM_CLOSE, 0, 0);
    closed_.insert(window);
  }

  const Options& options_;
  Output& out_;
  const ULONGLONG start_;
  size_t nextAnswer_ = 0;
  std::set<HWND> answered_;
  std::set<HWND> othersReported_;
  std::map<HWND, ULONGLONG> firstSeen_;
  std::map<HWND, std::string> windowStates_;
  std::map<HWND, ULONGLONG> firstVisible_;
  std::set<HWND> closed_;
};

bool Exists(const std::wstring& path) {
  return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace
}  // namespace plovatek::testing

int wmain(int argc, wchar_t** argv) {
  using namespace plovatek::testing;
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(
        "usage: ui_driver [--out FILE] [--answers yes,no,ok,...] [--stop FILE] [--timeout SECONDS]\n"
        "                 [--close-window-after SECONDS]\n",
        stderr);
    return 64;
  }
  Output out;
  if (!out.Open(options.out)) {
    std::fputs("ui_driver: cannot open the output file\n", stderr);
    return 65;
  }
  Driver driver(options, out);
  JsonObject ready;
  ready.AddText("kind", L"ready").AddNumber("pid", GetCurrentProcessId()).AddNumber("ms", driver.Elapsed());
  out.Line(ready.Text());

  const auto limitMs = static_cast<std::int64_t>(options.timeoutSeconds * 1000);
  while (!Exists(options.stop)) {
    if (driver.Elapsed() > limitMs) return 3;
    driver.Pass();
    Sleep(kPollMs);
  }
  driver.Pass();  // records windows that went away since the last pass
  return 0;
}
