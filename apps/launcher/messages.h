#pragma once
// How the launcher speaks to the user: message boxes, the Windows error suffix,
// and the strict UTF-8/UTF-16 conversions every text passes through.

#include <string>
#include <string_view>

namespace plovatek {

enum class MessageKind { Information, Warning };

// Strict conversions: malformed input throws std::range_error, never replaced.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// message + " (Windows error N)", N = GetLastError() read first thing on entry:
// call it directly after the failing Windows call.
std::string WindowsErrorText(std::string_view message);

// Yes/No question; true only for Yes.
bool AskYesNo(std::string_view question);
void ShowMessage(std::string_view text, MessageKind kind);

// Last resort for anything unexpected; needs no conversion and no allocation.
void ShowUnexpectedFailure() noexcept;

// Box styles, passed to MessageBoxW as they stand.
inline constexpr unsigned kAskYesNoStyle = 0x00040024;     // MB_TOPMOST|MB_ICONQUESTION|MB_YESNO
inline constexpr unsigned kWarningStyle = 0x00040030;      // MB_TOPMOST|MB_ICONEXCLAMATION|MB_OK
inline constexpr unsigned kInformationStyle = 0x00040040;  // MB_TOPMOST|MB_ICONINFORMATION|MB_OK

// Tests replace the box to see exactly what would be shown.
using MessageBoxFunction = int (*)(const wchar_t* text, const wchar_t* title, unsigned style);
MessageBoxFunction ReplaceMessageBoxForTesting(MessageBoxFunction replacement);

}  // namespace plovatek
