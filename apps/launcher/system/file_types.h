#pragma once
// The file types the studio opens, registered and removed in this order.

namespace plovatek {

struct FileType {
  const wchar_t* extension;
  const wchar_t* progId;
  const wchar_t* description;
};

inline constexpr FileType FileTypeTable[] = {
    {L".plovlvl", L"Plovatek.Place", L"Plovatek place"},
    {L".plovm", L"Plovatek.Model", L"Plovatek model"},
};

inline constexpr wchar_t kUrlSchemeKey[] = L"Software\\Classes\\plovatek";
inline constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Plovatek";
inline constexpr wchar_t kClassesKey[] = L"Software\\Classes\\";
inline constexpr wchar_t kStartMenuFolderName[] = L"Plovatek";
inline constexpr wchar_t kStudioShortcutName[] = L"Plovatek Studio.lnk";

}  // namespace plovatek
