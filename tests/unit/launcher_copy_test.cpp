#include "update/launcher_copy.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "install_home.h"
#include "net/fingerprint.h"
#include "test_website.h"

namespace plovatek {
namespace {

namespace fs = std::filesystem;

// The running program (this test) stands in for the running launcher.
class LauncherCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("plovatek copy home " + std::to_string(counter_++));
    fs::remove_all(home_);
    ASSERT_TRUE(ReadWholeFile(OwnExecutablePath(), own_));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(home_, ignored);
  }
  std::string Read(const fs::path& path) {
    std::string bytes = "<missing>";
    ReadWholeFile(path, bytes);
    return bytes;
  }
  ReleaseManifest WithLauncher(const std::string& bytes) {
    ReleaseManifest manifest;
    manifest.launcher = {"PlovatekLauncher.exe", Sha256Hex(bytes), bytes.size()};
    return manifest;
  }

  static inline int counter_ = 0;
  fs::path home_;
  std::string own_;
  TestWebsite site_;
};

TEST_F(LauncherCopy, WithoutALauncherEntryTheCopyIsTheRunningLauncher) {
  std::string error;
  EXPECT_TRUE(ReplaceLauncherCopy(home_, "https://a.example", ReleaseManifest{}, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(Read(home_ / "PlovatekLauncher.exe"), own_);
  EXPECT_EQ(Read(home_ / "website.txt"), "https://a.example\n");
  EXPECT_TRUE(site_.requests().empty());

  // Equal already: nothing is renamed or written; an old copy is cleared away.
  ASSERT_TRUE(WriteWholeFile(home_ / "PlovatekLauncher.old.exe", "old"));
  EXPECT_TRUE(ReplaceLauncherCopy(home_, "", ReleaseManifest{}, error));
  EXPECT_FALSE(fs::exists(home_ / "PlovatekLauncher.old.exe"));
  EXPECT_EQ(Read(home_ / "website.txt"), "https://a.example\n");  // an empty website leaves it
}

TEST_F(LauncherCopy, TheReleasesLauncherReplacesADifferentCopy) {
  const std::string release = "MZ the release's launcher";
  site_.Set("/client/files/" + Sha256Hex(release), {200, release, ""});
  ASSERT_TRUE(WriteWholeFile(home_ / "PlovatekLauncher.exe", "previous copy"));
  std::string error;
  EXPECT_TRUE(ReplaceLauncherCopy(home_, site_.address(), WithLauncher(release), error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(Read(home_ / "PlovatekLauncher.exe"), release);
  EXPECT_EQ(Read(home_ / "PlovatekLauncher.old.exe"), "previous copy");

  // The next call removes the old copy.
  EXPECT_TRUE(ReplaceLauncherCopy(home_, site_.address(), WithLauncher(release), error));
  EXPECT_FALSE(fs::exists(home_ / "PlovatekLauncher.old.exe"));
}

TEST_F(LauncherCopy, TheRunningLauncherThatIsTheReleasesOneIsNotDownloaded) {
  std::string error;
  EXPECT_TRUE(ReplaceLauncherCopy(home_, site_.address(), WithLauncher(own_), error));
  EXPECT_TRUE(site_.requests().empty());
  EXPECT_EQ(Read(home_ / "PlovatekLauncher.exe"), own_);
}

TEST_F(LauncherCopy, AFailedOrWrongDownloadFallsBackToTheRunningLauncher) {
  const std::string release = "MZ new";
  std::string error;
  EXPECT_TRUE(ReplaceLauncherCopy(home_, site_.address(), WithLauncher(release), error));  // 404
  EXPECT_EQ(error, "The website said 404 (there's no release on it yet)");
  EXPECT_EQ(Read(home_ / "PlovatekLauncher.exe"), own_);

  site_.Set("/client/files/" + Sha256Hex(release), {200, "MZ tampered", ""});
  error.clear();
  EXPECT_TRUE(ReplaceLauncherCopy(home_, site_.address(), WithLauncher(release), error));
  EXPECT_EQ(error, "The new launcher came out wrong");
  EXPECT_EQ(Read(home_ / "PlovatekLauncher.exe"), own_);
}

TEST_F(LauncherCopy, ACopyThatCannotBeWrittenIsReported) {
  const fs::path copy = home_ / "PlovatekLauncher.exe";
  ASSERT_TRUE(WriteWholeFile(copy, "held"));
  // Held open without sharing: it can neither be moved aside nor overwritten.
  HANDLE file = CreateFileW(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::string error;
  const bool ok = ReplaceLauncherCopy(home_, "", ReleaseManifest{}, error);
  CloseHandle(file);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "Couldn't write " + PathToUtf8(copy));
}

}  // namespace
}  // namespace plovatek
