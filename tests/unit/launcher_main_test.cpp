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

TEST(LauncherMain, AHomeGivenOnTheCommandLineIsTakenAsItIs) {
  struct Case {
    const char* home;
    std::filesystem::path defaultHome;
  };
  // No default needed; and an empty value is a folder like any other text (the current one).
  const Case cases[] = {{"Q:\\some home", std::filesystem::path()}, {"", "Q:\\default"}};
  for (const Case& c : cases) {
    g_texts.clear();
    const MessageBoxFunction previous = ReplaceMessageBoxForTesting(&RecordAndAnswerNo);
    EXPECT_EQ(LauncherMain({"--uninstall", "--home", c.home}, c.defaultHome), 0) << c.home;
    ReplaceMessageBoxForTesting(previous);
    ASSERT_EQ(g_texts.size(), 1u);
    EXPECT_EQ(g_texts[0], L"Take Plovatek off this computer?\n\nYour own places and saves stay in " + Utf8ToWide(c.home) +
                              L" (delete that folder too if you don't want them).");
  }
}

// Stand-ins for the module-name query, for a launcher whose file name is longer
// than the buffer (or just fits). Windows 10 cuts the name and ends it with a
// zero; Wine 8 (like Windows XP) fills the whole buffer and leaves no zero.
unsigned long NameJustFits(wchar_t* buffer, unsigned long capacity) {
  std::fill(buffer, buffer + capacity - 1, L'd');
  buffer[capacity - 1] = L'\0';
  return capacity - 1;
}
unsigned long NameCutWithZero(wchar_t* buffer, unsigned long capacity) {
  NameJustFits(buffer, capacity);
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return capacity;
}
unsigned long NameCutWithoutZero(wchar_t* buffer, unsigned long capacity) {
  std::fill(buffer, buffer + capacity, L'd');
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return capacity;
}
unsigned long NoName(wchar_t*, unsigned long) {
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}

TEST(OwnExecutablePath, IsEmptyWhenTheNameDoesNotFitItsBuffer) {
  struct Case {
    const char* name;
    ModuleFileNameFunction query;
    size_t length;  // of the path given back
  };
  const Case cases[] = {
      {"just fits", &NameJustFits, 1039},
      {"cut, with a zero", &NameCutWithZero, 0},
      {"cut, without a zero", &NameCutWithoutZero, 0},
      {"no name", &NoName, 0},
  };
  for (const Case& c : cases) {
    const ModuleFileNameFunction previous = ReplaceModuleFileNameForTesting(c.query);
    const std::filesystem::path path = OwnExecutablePath();
    ReplaceModuleFileNameForTesting(previous);
    EXPECT_EQ(path.native().size(), c.length) << c.name;
  }
  // The real query names this very program.
  std::string own;
  EXPECT_TRUE(ReadWholeFile(OwnExecutablePath(), own));
  EXPECT_EQ(own.substr(0, 2), "MZ");
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
