#include "system/removal.h"

#include <windows.h>
#include <knownfolders.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "association_watcher.h"
#include "install_home.h"

namespace plovatek {
namespace {

TEST(LauncherDeletion, QuotesBothCopiesAndWaitsFirst) {
  EXPECT_EQ(LauncherDeletionCommandLine(L"D:\\My Games\\Plovatek"),
            L"cmd.exe /c ping 127.0.0.1 -n 3 > nul & del /f /q \"D:\\My Games\\Plovatek\\PlovatekLauncher.exe\" & "
            L"del /f /q \"D:\\My Games\\Plovatek\\PlovatekLauncher.old.exe\"");
}

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void MakeKey(const wchar_t* path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(RemoveFromWindows, TakesOffKeysStartMenuFolderAndDesktopShortcut) {
  const wchar_t* keys[] = {
      L"Software\\Classes\\plovatek\\shell\\open\\command",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Plovatek",
      L"Software\\Classes\\.plovlvl",
      L"Software\\Classes\\Plovatek.Place\\DefaultIcon",
      L"Software\\Classes\\.plovm",
      L"Software\\Classes\\Plovatek.Model\\shell\\open\\command",
  };
  for (const wchar_t* key : keys) MakeKey(key);
  MakeKey(L"Software\\Classes\\.txt-plovatek-test");  // not ours: must stay

  const std::filesystem::path startMenu = std::filesystem::path(KnownFolderPath(FOLDERID_Programs)) / L"Plovatek";
  const std::filesystem::path desktopLink = std::filesystem::path(KnownFolderPath(FOLDERID_Desktop)) /
                                            L"Plovatek Studio.lnk";
  ASSERT_TRUE(WriteWholeFile(startMenu / L"Plovatek Studio.lnk", "x"));
  ASSERT_TRUE(WriteWholeFile(startMenu / L"a user file.txt", "x"));
  ASSERT_TRUE(WriteWholeFile(desktopLink, "x"));

  testing::AssociationWatcher watcher;
  ASSERT_TRUE(watcher.Watching());
  RemoveFromWindows(L"C:\\unused");
  EXPECT_EQ(watcher.Count(), 1);

  for (const wchar_t* key : keys) EXPECT_FALSE(KeyExists(key)) << key;
  EXPECT_FALSE(KeyExists(L"Software\\Classes\\plovatek"));
  EXPECT_FALSE(KeyExists(L"Software\\Classes\\Plovatek.Place"));
  EXPECT_TRUE(KeyExists(L"Software\\Classes\\.txt-plovatek-test"));
  EXPECT_FALSE(std::filesystem::exists(startMenu));
  EXPECT_FALSE(std::filesystem::exists(desktopLink));

  // A second run finds nothing and ends quietly.
  RemoveFromWindows(L"C:\\unused");
  EXPECT_EQ(watcher.Count(), 2) << "the shell is told on every removal";
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.txt-plovatek-test");
}

}  // namespace
}  // namespace plovatek
