#include "messages.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace plovatek {
namespace {

constexpr wchar_t kTitle[] = L"Plovatek";

int SystemMessageBox(const wchar_t* text, const wchar_t* title, unsigned style) {
  return MessageBoxW(nullptr, text, title, style);
}

MessageBoxFunction g_messageBox = &SystemMessageBox;

int CheckedLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) throw std::range_error("text too long to convert");
  return static_cast<int>(size);
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = CheckedLength(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (needed <= 0) throw std::range_error("text is not valid UTF-8");
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), needed) != needed)
    throw std::range_error("text is not valid UTF-8");
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = CheckedLength(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) throw std::range_error("text is not valid UTF-16");
  std::string narrow(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, narrow.data(), needed, nullptr,
                          nullptr) != needed)
    throw std::range_error("text is not valid UTF-16");
  return narrow;
}

std::string WindowsErrorText(std::string_view message) {
  const DWORD error = GetLastError();  // first, before anything can change it
  std::string text(message);
  text += " (Windows error ";
  text += std::to_string(static_cast<unsigned long>(error));
  text += ")";
  return text;
}

bool AskYesNo(std::string_view question) {
  const std::wstring text = Utf8ToWide(question);
  return g_messageBox(text.c_str(), kTitle, kAskYesNoStyle) == IDYES;
}

void ShowMessage(std::string_view text, MessageKind kind) {
  const std::wstring wide = Utf8ToWide(text);
  g_messageBox(wide.c_str(), kTitle, kind == MessageKind::Warning ? kWarningStyle : kInformationStyle);
}

void ShowUnexpectedFailure() noexcept {
  g_messageBox(L"Plovatek ran into a problem it didn't expect and had to stop. Please try again.", kTitle,
               kWarningStyle);
}

MessageBoxFunction ReplaceMessageBoxForTesting(MessageBoxFunction replacement) {
  MessageBoxFunction previous = g_messageBox;
  g_messageBox = replacement ? replacement : &SystemMessageBox;
  return previous;
}

}  // namespace plovatek
