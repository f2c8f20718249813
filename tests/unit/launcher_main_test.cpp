#include "command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
}  // namespace plovatek
