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
  // %WINDIR% would be expanded by cmd.exe, quotes or not.
  EXPECT_EQ(LauncherDeletionCommandLine(L"D:\\%WINDIR%\\Plovatek"), L"");
  EXPECT_EQ(LauncherDeletionCommandLine(L"D:\\100% fun\\Plovatek"), L"");
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

// A file held open without delete sharing cannot go; nothing else stays for it.
TEST(RemoveFromWindows, AFileInUseKeepsOnlyItselfInTheStartMenuFolder) {
  const std::filesystem::path startMenu = std::filesystem::path(KnownFolderPath(FOLDERID_Programs)) / L"Plovatek";
  std::vector<std::filesystem::path> files;
  for (int i = 0; i < 12; ++i) files.push_back(startMenu / (L"file " + std::to_wstring(i) + L".txt"));
  files.push_back(startMenu / L"sub" / L"inner.txt");
  for (const auto& file : files) ASSERT_TRUE(WriteWholeFile(file, "x"));
  const std::filesystem::path held = files[5];
  HANDLE open = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);

  RemoveFromWindows(L"C:\\unused");
  std::vector<std::filesystem::path> left;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(startMenu, error), end; !error && it != end; it.increment(error))
    left.push_back(it->path());
  CloseHandle(open);
  EXPECT_EQ(left, std::vector<std::filesystem::path>{held});

  RemoveFromWindows(L"C:\\unused");
  EXPECT_FALSE(std::filesystem::exists(startMenu));
}

}  // namespace
}  // namespace plovatek
