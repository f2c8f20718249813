#include "command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "install_home.h"
#include "messages.h"

namespace plovatek {
namespace {

std::vector<std::wstring> g_texts;
int RecordAndAnswerNo(const wchar_t* text, const wchar_t*, unsigned) {
  g_texts.push_back(text);
  return IDNO;
}

TEST(LauncherMain, WithoutAnyInstallHomeItEndsPlainlyWithExitCode1) {
  g_texts.clear();
  const MessageBoxFunction previous = ReplaceMessageBoxForTesting(&RecordAndAnswerNo);
  EXPECT_EQ(LauncherMain({"--uninstall"}, std::filesystem::path()), 1);
  ReplaceMessageBoxForTesting(previous);
  ASSERT_EQ(g_texts.size(), 1u);
  EXPECT_NE(g_texts[0].find(L"can't find a folder to install into"), std::wstring::npos);
}

TEST(LauncherMain, HomeGivenOnTheCommandLineNeedsNoDefault) {
  g_texts.clear();
  const MessageBoxFunction previous = ReplaceMessageBoxForTesting(&RecordAndAnswerNo);
  EXPECT_EQ(LauncherMain({"--uninstall", "--home", "Q:\\some home"}, std::filesystem::path()), 0);
  ReplaceMessageBoxForTesting(previous);
  ASSERT_EQ(g_texts.size(), 1u);
  EXPECT_EQ(g_texts[0],
            L"Take Plovatek off this computer?\n\nYour own places and saves stay in Q:\\some home (delete that "
            L"folder too if you don't want them).");
}

int AnswerYes(const wchar_t* text, const wchar_t*, unsigned) {
  g_texts.push_back(text);
  return IDYES;
}

// The studio still running from a version folder holds its file: the rest of the
// release goes all the same, and the user's own files stay.
TEST(LauncherMain, RemovalTakesWhatItCanOfTheReleaseAndKeepsTheUsersFiles) {
  const std::filesystem::path home = std::filesystem::temp_directory_path() / L"plovatek removal home";
  std::filesystem::remove_all(home);
  const std::filesystem::path versions = home / L"Versions";
  std::vector<std::filesystem::path> release;
  for (const wchar_t* version : {L"1.0", L"2.0"}) {
    for (const wchar_t* name : {L"plovatek_studio.exe", L"plovatek_player.exe", L"data\\a.bin", L"data\\b.bin"})
      release.push_back(versions / version / name);
  }
  release.push_back(home / L"current.txt");
  release.push_back(home / L"website.txt");
  for (const auto& file : release) ASSERT_TRUE(WriteWholeFile(file, "x"));
  ASSERT_TRUE(WriteWholeFile(home / L"saves" / L"my place.plovlvl", "mine"));
  const std::filesystem::path running = versions / L"1.0" / L"plovatek_studio.exe";
  HANDLE held = CreateFileW(running.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  g_texts.clear();
  const MessageBoxFunction previous = ReplaceMessageBoxForTesting(&AnswerYes);
  const int exitCode = LauncherMain({"--uninstall", "--home", PathToUtf8(home)}, std::filesystem::path());
  ReplaceMessageBoxForTesting(previous);
  CloseHandle(held);

  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(g_texts.size(), 2u);
  std::vector<std::filesystem::path> left;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(home, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) left.push_back(it->path());
  }
  std::sort(left.begin(), left.end());
  std::vector<std::filesystem::path> kept = {home / L"saves" / L"my place.plovlvl", running};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(left, kept);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace plovatek
