#include "system/registration.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "association_watcher.h"
#include "install_home.h"

namespace plovatek {
namespace {

std::wstring ReadText(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return buffer;
}

DWORD ReadNumber(const std::wstring& key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return 0xFFFFFFFF;
  return value;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    home_ = std::filesystem::temp_directory_path() / L"plovatek registration home";
    std::filesystem::remove_all(home_);
    Clean();
  }
  void TearDown() override {
    Clean();
    std::filesystem::remove_all(home_);
    CoUninitialize();
  }
  static void Clean() {
    for (const wchar_t* key : {L"Software\\Classes\\plovatek", L"Software\\Classes\\.plovlvl", L"Software\\Classes\\.plovm",
                               L"Software\\Classes\\Plovatek.Place", L"Software\\Classes\\Plovatek.Model",
                               L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Plovatek"}) {
      RegDeleteTreeW(HKEY_CURRENT_USER, key);
    }
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(KnownFolderPath(FOLDERID_Programs)) / L"Plovatek", ignored);
    std::filesystem::remove(std::filesystem::path(KnownFolderPath(FOLDERID_Desktop)) / L"Plovatek Studio.lnk", ignored);
  }
  std::filesystem::path home_;
};

TEST_F(Registration, WritesTheWholeLayout) {
  ASSERT_TRUE(WriteWholeFile(home_ / L"Versions" / L"7" / L"data.bin", std::string(3145728 - 10, 'x')));
  ASSERT_TRUE(WriteWholeFile(home_ / L"Versions" / L"6" / L"a", std::string(10, 'x')));
  const std::filesystem::path launcher = home_ / L"PlovatekLauncher.exe";
  const std::wstring quoted = L"\"" + launcher.native() + L"\"";
  RegisterWithWindows(home_, launcher, "https://a.example", "7");

  const std::wstring scheme = L"Software\\Classes\\plovatek";
  EXPECT_EQ(ReadText(scheme, nullptr), L"URL:Plovatek");
  EXPECT_EQ(ReadText(scheme, L"URL Protocol"), L"");
  EXPECT_EQ(ReadText(scheme + L"\\DefaultIcon", nullptr), quoted + L",0");
  EXPECT_EQ(ReadText(scheme + L"\\shell\\open\\command", nullptr), quoted + L" \"%1\"");

  const std::wstring icon = L"\"" + (home_ / L"Versions" / L"7" / L"plovatek_studio.exe").native() + L"\",0";
  EXPECT_EQ(ReadText(L"Software\\Classes\\.plovlvl", nullptr), L"Plovatek.Place");
  EXPECT_EQ(ReadText(L"Software\\Classes\\.plovm", nullptr), L"Plovatek.Model");
  EXPECT_EQ(ReadText(L"Software\\Classes\\Plovatek.Place", nullptr), L"Plovatek place");
  EXPECT_EQ(ReadText(L"Software\\Classes\\Plovatek.Model", nullptr), L"Plovatek model");
  EXPECT_EQ(ReadText(L"Software\\Classes\\Plovatek.Model\\DefaultIcon", nullptr), icon);
  EXPECT_EQ(ReadText(L"Software\\Classes\\Plovatek.Place\\shell\\open\\command", nullptr), quoted + L" \"%1\"");

  const std::wstring entry = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Plovatek";
  EXPECT_EQ(ReadText(entry, L"DisplayName"), L"Plovatek");
  EXPECT_EQ(ReadText(entry, L"DisplayVersion"), L"7");
  EXPECT_EQ(ReadText(entry, L"Publisher"), L"Plovatek");
  EXPECT_EQ(ReadText(entry, L"DisplayIcon"), quoted);
  EXPECT_EQ(ReadText(entry, L"InstallLocation"), home_.native());
  EXPECT_EQ(ReadText(entry, L"UninstallString"), quoted + L" --uninstall");
  EXPECT_EQ(ReadText(entry, L"URLInfoAbout"), L"https://a.example");
  EXPECT_EQ(ReadNumber(entry, L"NoModify"), 1u);
  EXPECT_EQ(ReadNumber(entry, L"NoRepair"), 1u);
  EXPECT_EQ(ReadNumber(entry, L"EstimatedSize"), 1537u);  // both versions count: 3 MiB / 2 KiB + 1

  // An empty website keeps the earlier address.
  RegisterWithWindows(home_, launcher, "", "7");
  EXPECT_EQ(ReadText(entry, L"URLInfoAbout"), L"https://a.example");

  std::string url;
  ASSERT_TRUE(ReadWholeFile(std::filesystem::path(KnownFolderPath(FOLDERID_Programs)) / L"Plovatek" / L"Plovatek.url", url));
  EXPECT_EQ(url, "[InternetShortcut]\r\nURL=https://a.example/games\r\n");
}

TEST_F(Registration, ShortcutsStartTheLauncherCopyWithStudio) {
  const std::filesystem::path launcher = home_ / L"PlovatekLauncher.exe";
  RegisterWithWindows(home_, launcher, "", "7");
  const std::filesystem::path startMenuLink =
      std::filesystem::path(KnownFolderPath(FOLDERID_Programs)) / L"Plovatek" / L"Plovatek Studio.lnk";
  const std::filesystem::path desktopLink = std::filesystem::path(KnownFolderPath(FOLDERID_Desktop)) / L"Plovatek Studio.lnk";
  EXPECT_FALSE(std::filesystem::exists(startMenuLink.parent_path() / L"Plovatek.url"));  // no website, no internet shortcut

  for (const auto& path : {startMenuLink, desktopLink}) {
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
    Microsoft::WRL::ComPtr<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(link.As(&file));
    ASSERT_HRESULT_SUCCEEDED(file->Load(path.c_str(), STGM_READ)) << path;
    wchar_t text[MAX_PATH] = {};
    link->GetPath(text, MAX_PATH, nullptr, 0);
    EXPECT_EQ(std::filesystem::path(text), launcher);
    link->GetArguments(text, MAX_PATH);
    EXPECT_STREQ(text, L"--studio");
    link->GetWorkingDirectory(text, MAX_PATH);
    EXPECT_EQ(std::filesystem::path(text), home_);
    link->GetDescription(text, MAX_PATH);
    EXPECT_STREQ(text, L"Make Plovatek games");
    int index = -1;
    link->GetIconLocation(text, MAX_PATH, &index);
    EXPECT_EQ(std::filesystem::path(text), home_ / L"Versions" / L"7" / L"plovatek_studio.exe");
    EXPECT_EQ(index, 0);
  }
}

TEST_F(Registration, TheShellIsToldOnlyWhenAnIconChanges) {
  const std::wstring quoted = L"\"C:\\P\\PlovatekLauncher.exe\"";
  EXPECT_TRUE(RegisterFileTypes(quoted, L"C:\\P\\Versions\\1\\plovatek_studio.exe"));
  EXPECT_FALSE(RegisterFileTypes(quoted, L"C:\\P\\Versions\\1\\plovatek_studio.exe"));
  EXPECT_TRUE(RegisterFileTypes(quoted, L"C:\\P\\Versions\\2\\plovatek_studio.exe"));
}

TEST_F(Registration, TheShellIsToldOnTheFirstRunAndAfterAVersionChangeOnly) {
  testing::AssociationWatcher watcher;
  ASSERT_TRUE(watcher.Watching());
  const std::filesystem::path launcher = home_ / L"PlovatekLauncher.exe";
  RegisterWithWindows(home_, launcher, "", "7");
  EXPECT_EQ(watcher.Count(), 1);
  RegisterWithWindows(home_, launcher, "", "7");
  EXPECT_EQ(watcher.Count(), 1) << "identical associations were announced again";
  RegisterWithWindows(home_, launcher, "", "8");
  EXPECT_EQ(watcher.Count(), 2);
}

void SetIconValue(const wchar_t* progId, DWORD type, const void* data, DWORD bytes) {
  const std::wstring key = std::wstring(L"Software\\Classes\\") + progId + L"\\DefaultIcon";
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(handle, nullptr, 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(handle);
}

// What is stored counts as the icon text only when it is exactly that text.
TEST_F(Registration, StoredIconValuesThatAreNotExactlyTheTextCountAsChanged) {
  const std::wstring quoted = L"\"C:\\P\\PlovatekLauncher.exe\"";
  const std::filesystem::path studio = L"C:\\P\\Versions\\1\\plovatek_studio.exe";
  const std::wstring icon = L"\"" + studio.native() + L"\",0";
  const DWORD number = 1;
  struct Case {
    const char* what;
    DWORD type;
    std::wstring text;  // stored as is, as many units as it holds
    bool changed;
  };
  const Case cases[] = {
      {"the text and its terminator", REG_SZ, icon + L'\0', false},
      {"the text without a terminator", REG_SZ, icon, false},
      {"the text, a zero, then more", REG_SZ, icon + std::wstring(L"\0,1\0", 4), true},
      {"the text less its last unit", REG_SZ, icon.substr(0, icon.size() - 1) + L'\0', true},
      {"the text in another case", REG_SZ, L"\"C:\\P\\VERSIONS\\1\\plovatek_studio.exe\",0" + std::wstring(1, L'\0'), true},
      {"longer than 2048 bytes", REG_SZ, std::wstring(1100, L'a') + L'\0', true},
      {"a number", REG_DWORD, L"", true},
  };
  for (const Case& c : cases) {
    Clean();
    for (const wchar_t* progId : {L"Plovatek.Place", L"Plovatek.Model"}) {
      if (c.type == REG_DWORD) {
        SetIconValue(progId, REG_DWORD, &number, sizeof number);
      } else {
        SetIconValue(progId, REG_SZ, c.text.data(), static_cast<DWORD>(c.text.size() * sizeof(wchar_t)));
      }
    }
    EXPECT_EQ(RegisterFileTypes(quoted, studio), c.changed) << c.what;
  }
}

TEST_F(Registration, EstimatedSizeWithoutVersionsIsOne) {
  EXPECT_EQ(EstimatedSize(home_), 1u);
}

}  // namespace
}  // namespace plovatek
