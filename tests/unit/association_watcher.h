#pragma once
// Counts the shell's "associations changed" notifications while it lives, through a
// message-only window registered for them.

#include <windows.h>
#include <shlobj.h>

namespace plovatek::testing {

class AssociationWatcher {
 public:
  AssociationWatcher() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PlovatekAssociationWatcher";
    RegisterClassW(&windowClass);  // fails harmlessly when a watcher made it before
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&count_));
    SHChangeNotifyEntry everything = {nullptr, TRUE};
    registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel, SHCNE_ASSOCCHANGED, kMessage, 1, &everything);
  }
  ~AssociationWatcher() {
    if (registration_ != 0) SHChangeNotifyDeregister(registration_);
    DestroyWindow(window_);
  }
  AssociationWatcher(const AssociationWatcher&) = delete;
  AssociationWatcher& operator=(const AssociationWatcher&) = delete;

  bool Watching() const { return window_ != nullptr && registration_ != 0; }

  // Notifications seen so far; delivery may lag behind the sender, so wait a little.
  int Count() {
    const ULONGLONG deadline = GetTickCount64() + 300;
    do {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(10);
    } while (GetTickCount64() < deadline);
    return count_;
  }

 private:
  static constexpr UINT kMessage = WM_APP + 17;
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMessage) {
      if (auto* count = reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA))) ++*count;
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  ULONG registration_ = 0;
  int count_ = 0;
};

}  // namespace plovatek::testing
