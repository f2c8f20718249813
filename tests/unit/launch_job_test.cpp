#include "launch_job.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "install_home.h"
#include "messages.h"

namespace plovatek {
namespace {

struct Box {
  std::wstring text;
  unsigned style;
  bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* out) {
  *out << "box 0x" << std::hex << box.style << std::dec << " \"" << WideToUtf8(box.text) << "\"";
}
std::vector<Box> g_boxes;
int RecordBox(const wchar_t* text, const wchar_t*, unsigned style) {
  g_boxes.push_back({text, style});
  return IDOK;
}

// An install home in a fresh temporary folder, removed afterwards.
class InstallHomeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    home_ = std::filesystem::temp_directory_path() /
            ("plovatek-launch-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    g_boxes.clear();
    previousBox_ = ReplaceMessageBoxForTesting(&RecordBox);
  }
  void TearDown() override {
    ReplaceMessageBoxForTesting(previousBox_);
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  // Version 7 current and complete, but without any client in it.
  void InstallVersion7() {
    ASSERT_TRUE(WriteWholeFile(home_ / "Versions" / "7" / "plovatek-installed.txt", "marker"));
    ASSERT_TRUE(WriteWholeFile(home_ / "current.txt", "7\n"));
  }

  int Run(LaunchRequest request) {
    request.installHome = home_;
    reports_.clear();
    return RunLaunchJob(request, [this](const std::string& text, double fraction) {
      reports_.emplace_back(text, fraction);
    });
  }

  std::filesystem::path home_;
  std::vector<std::pair<std::string, double>> reports_;

 private:
  MessageBoxFunction previousBox_ = nullptr;
};

struct NoWebsiteCase {
  const char* name;
  bool installed;
  LaunchRequest request;
  const wchar_t* box;  // null: no box at all
  unsigned style;
  int exitCode;
  bool startingReported;
};

LaunchRequest Request(std::string link, bool studio, std::string file, bool noStart) {
  LaunchRequest request;
  request.link = std::move(link);
  request.openStudio = studio;
  request.fileToOpen = std::move(file);
  request.noStart = noStart;
  return request;
}

constexpr wchar_t kInstalledBox[] =
    L"Plovatek 7 is installed!\n\nTo play, press Play on any game on the website.\nTo make games, open Plovatek "
    L"Studio from the Start menu or the desktop.";

TEST_F(InstallHomeFixture, WithoutAWebsiteTheInstalledVersionIsUsedOrTheInstallFails) {
  const NoWebsiteCase cases[] = {
      {"nothing installed", false, Request("plovatek:play?id=1", false, "", false),
       L"Plovatek couldn't be installed:\nNo website to update from", kWarningStyle, 1, false},
      {"nothing installed, no start", false, Request("", false, "", true),
       L"Plovatek couldn't be installed:\nNo website to update from", kWarningStyle, 1, false},
      {"no start", true, Request("plovatek:play", false, "", true), nullptr, 0, 0, false},
      {"nothing to start", true, Request("", false, "", false), kInstalledBox, kInformationStyle, 0, true},
      {"player missing", true, Request("plovatek:play", false, "", false),
       L"Couldn't start the game: Windows wouldn't start it (Windows error 2)", kWarningStyle, 1, true},
      {"link wins over the studio", true, Request("plovatek:play", true, "a.plovlvl", false),
       L"Couldn't start the game: Windows wouldn't start it (Windows error 2)", kWarningStyle, 1, true},
      {"studio missing", true, Request("", true, "My Place.plovlvl", false),
       L"Couldn't start the studio: Windows wouldn't start it (Windows error 2)", kWarningStyle, 1, true},
      {"quote in the link", true, Request("plovatek:play?name=\"x\"", false, "", false),
       L"Couldn't start the game: That link has a \" in it", kWarningStyle, 1, true},
  };
  for (const NoWebsiteCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(home_ / "Versions");
    std::filesystem::remove(home_ / "current.txt");
    if (c.installed) InstallVersion7();
    g_boxes.clear();

    EXPECT_EQ(Run(c.request), c.exitCode);

    std::vector<Box> expected;
    if (c.box != nullptr) expected.push_back({c.box, c.style});
    EXPECT_EQ(g_boxes, expected);
    const std::vector<std::pair<std::string, double>> starting{{"Starting Plovatek...", -1.0}};
    EXPECT_EQ(reports_, c.startingReported ? starting : decltype(reports_){});
  }
}

TEST_F(InstallHomeFixture, VersionFolderWithoutItsMarkerIsNotInstalled) {
  ASSERT_TRUE(WriteWholeFile(home_ / "Versions" / "7" / "plovatek_player.exe", "x"));
  ASSERT_TRUE(WriteWholeFile(home_ / "current.txt", "7\n"));
  EXPECT_EQ(Run(Request("plovatek:play", false, "", false)), 1);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Plovatek couldn't be installed:\nNo website to update from");
}

}  // namespace
}  // namespace plovatek
