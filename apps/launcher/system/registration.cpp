#include "system/registration.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <string_view>
#include <system_error>

#include "install_home.h"
#include "messages.h"
#include "system/file_types.h"
#include "system/shortcuts.h"
#include "win/unique_handle.h"

namespace plovatek {
namespace {

UniqueRegKey CreateKey(const std::wstring& path) {
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    key.release();  // a failed call leaves nothing to close
  }
  return key;
}

void SetText(const UniqueRegKey& key, const wchar_t* name, const std::wstring& text) {
  if (!key) return;
  RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(const UniqueRegKey& key, const wchar_t* name, DWORD number) {
  if (!key) return;
  RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

void SetDefault(const std::wstring& keyPath, const std::wstring& text) { SetText(CreateKey(keyPath), nullptr, text); }

// True when the value is missing, not text, too long, or differs from text.
bool DefaultValueDiffers(const std::wstring& keyPath, const std::wstring& text) {
  wchar_t buffer[1024] = {};  // 2048 bytes
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS) {
    return true;
  }
  // Compare what was read, by its size: a zero inside the value must not end the text early.
  std::wstring_view read(buffer, std::min<size_t>(size / sizeof(wchar_t), std::size(buffer)));
  if (!read.empty() && read.back() == L'\0') read.remove_suffix(1);
  return read != text;
}

}  // namespace

bool RegisterFileTypes(const std::wstring& quotedLauncherPath, const std::filesystem::path& studioIconPath) {
  const std::wstring command = quotedLauncherPath + L" \"%1\"";
  const std::wstring iconText = L"\"" + studioIconPath.native() + L"\",0";
  bool associationsChanged = false;
  for (const FileType& type : FileTypeTable) {
    const std::wstring progIdKey = std::wstring(kClassesKey) + type.progId;
    SetDefault(std::wstring(kClassesKey) + type.extension, type.progId);
    SetDefault(progIdKey, type.description);
    if (DefaultValueDiffers(progIdKey + L"\\DefaultIcon", iconText)) associationsChanged = true;
    SetDefault(progIdKey + L"\\DefaultIcon", iconText);
    SetDefault(progIdKey + L"\\shell\\open\\command", command);
  }
  return associationsChanged;
}

std::uint32_t EstimatedSize(const std::filesystem::path& installHome) {
  std::uint64_t total = 0;
  std::error_code error;
  std::filesystem::recursive_directory_iterator walk(installHome / kVersionsFolder, error);
  const std::filesystem::recursive_directory_iterator end;
  while (!error && walk != end) {
    std::error_code entryError;
    // Directory links and junctions are listed but not entered: the library's walk
    // on Windows takes them for plain folders, whatever its follow option says, and
    // one whose target is gone would end the walk. Their own attributes tell them apart.
    const DWORD attributes = GetFileAttributesW(walk->path().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      walk.disable_recursion_pending();
    } else if (walk->is_regular_file(entryError)) {
      const std::uintmax_t size = walk->file_size(entryError);
      if (!entryError) total += size;
    }
    walk.increment(error);
  }
  return static_cast<std::uint32_t>(total / 2048 + 1);
}

void RegisterWithWindows(const std::filesystem::path& installHome, const std::filesystem::path& launcherPath,
                         const std::string& website, const std::string& version) {
  const std::wstring quotedLauncher = L"\"" + launcherPath.native() + L"\"";
  const std::wstring openCommand = quotedLauncher + L" \"%1\"";

  {
    const UniqueRegKey scheme = CreateKey(kUrlSchemeKey);
    SetText(scheme, nullptr, L"URL:Plovatek");
    SetText(scheme, L"URL Protocol", L"");
  }
  SetDefault(std::wstring(kUrlSchemeKey) + L"\\DefaultIcon", quotedLauncher + L",0");
  SetDefault(std::wstring(kUrlSchemeKey) + L"\\shell\\open\\command", openCommand);

  const std::filesystem::path studioIcon = installHome / kVersionsFolder / Utf8ToWide(version) / "plovatek_studio.exe";
  if (RegisterFileTypes(quotedLauncher, studioIcon)) {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }

  {
    const UniqueRegKey entry = CreateKey(kUninstallKey);
    if (entry) {
      SetText(entry, L"DisplayName", L"Plovatek");
      SetText(entry, L"DisplayVersion", Utf8ToWide(version));
      SetText(entry, L"Publisher", L"Plovatek");
      SetText(entry, L"DisplayIcon", quotedLauncher);
      SetText(entry, L"InstallLocation", installHome.native());
      SetText(entry, L"UninstallString", quotedLauncher + L" --uninstall");
      if (!website.empty()) SetText(entry, L"URLInfoAbout", Utf8ToWide(website));
      SetNumber(entry, L"NoModify", 1);
      SetNumber(entry, L"NoRepair", 1);
      SetNumber(entry, L"EstimatedSize", EstimatedSize(installHome));
    }
  }

  // The worker already holds a single-threaded apartment (S_FALSE here); the
  // shell link object needs one whichever thread calls.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CreateShortcuts(launcherPath.native(), website, studioIcon.native());
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace plovatek
