#include "command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace plovatek
