#include "update/update_engine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "install_home.h"
#include "net/fingerprint.h"
#include "test_signer.h"
#include "test_website.h"

namespace plovatek {
namespace {

namespace fs = std::filesystem;

struct Report {
  std::string text;
  double fraction;
};

class UpdateEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("plovatek update home " + std::to_string(counter_++));
    fs::remove_all(home_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(home_, ignored);
  }

  // Publishes a release: each file's bytes under its fingerprint, then the signed manifest.
  void Publish(const std::string& version, const std::vector<std::pair<std::string, std::string>>& files,
               const std::map<std::string, std::uint64_t>& sizeOverride = {}) {
    std::string json = "{\"version\":\"" + version + "\",\"files\":[";
    for (size_t i = 0; i < files.size(); ++i) {
      const auto& [path, bytes] = files[i];
      const std::string sha = Sha256Hex(bytes);
      const auto size = sizeOverride.count(path) ? sizeOverride.at(path) : bytes.size();
      std::string escaped;
      for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
      if (i > 0) json += ",";
      json += "{\"path\":\"";
      json += escaped;
      json += "\",\"sha256\":\"";
      json += sha;
      json += "\",\"size\":";
      json += std::to_string(size);
      json += "}";
      site_.Set("/client/files/" + sha, {200, bytes, ""});
    }
    json += "]}";
    site_.Set("/client/manifest.json", {200, json, ""});
    site_.Set("/client/manifest.sig", {200, signer_.Sign(json), ""});
  }

  UpdateResult Run() {
    reports_.clear();
    site_.ClearLog();
    return RunUpdate(site_.address(), home_,
                     [this](const std::string& text, double fraction) { reports_.push_back({text, fraction}); },
                     signer_.publicKey());
  }

  std::string Read(const fs::path& path) {
    std::string bytes = "<missing>";
    ReadWholeFile(path, bytes);
    return bytes;
  }

  std::vector<std::string> VersionsFolder() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(home_ / "Versions")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  size_t FileRequests() {
    const auto log = site_.requests();
    return std::count_if(log.begin(), log.end(), [](const std::string& p) { return p.starts_with("/client/files/"); });
  }

  static inline int counter_ = 0;
  fs::path home_;
  TestSigner signer_;
  TestWebsite site_;
  std::vector<Report> reports_;
};

TEST_F(UpdateEngine, WithoutAWebsiteNothingHappens) {
  std::vector<Report> reports;
  const UpdateResult r = RunUpdate("", home_, [&](const std::string& t, double f) { reports.push_back({t, f}); },
                                   signer_.publicKey());
  EXPECT_FALSE(r.upToDate);
  EXPECT_FALSE(r.websiteAnswered);
  EXPECT_EQ(r.error, "No website to update from");
  EXPECT_TRUE(reports.empty());
}

TEST_F(UpdateEngine, AnswersAndSilencesOfTheWebsite) {
  UpdateResult r = Run();  // nothing published: 404
  EXPECT_TRUE(r.websiteAnswered);
  EXPECT_EQ(r.error, "The website said 404 (there's no release on it yet)");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].text, "Checking for updates...");
  EXPECT_EQ(reports_[0].fraction, -1.0);

  Publish("1", {{"plovatek_player.exe", "p"}});
  site_.Set("/client/manifest.sig", {200, std::string(65, 'x'), ""});
  r = Run();
  EXPECT_TRUE(r.websiteAnswered);
  EXPECT_EQ(r.error, "The update isn't signed by Plovatek, so it wasn't installed");
  EXPECT_FALSE(fs::exists(home_ / "Versions"));

  r = RunUpdate("http://127.0.0.1:1", home_, [](const std::string&, double) {}, signer_.publicKey());
  EXPECT_FALSE(r.websiteAnswered);
  EXPECT_EQ(r.error, "Couldn't reach 127.0.0.1 (is the internet on?)");
}

TEST_F(UpdateEngine, FirstInstallBuildsTheVersionFolder) {
  Publish("1.0", {{"plovatek_player.exe", std::string(300, 'p')},
                  {"plovatek_studio.exe", std::string(100, 's')},
                  {"data/maps\\a.pak", "map"}});
  const UpdateResult r = Run();
  ASSERT_TRUE(r.upToDate) << r.error;
  EXPECT_EQ(r.version, "1.0");
  EXPECT_EQ(r.error, "");
  const fs::path v = home_ / "Versions" / "1.0";
  EXPECT_EQ(Read(v / "plovatek_player.exe"), std::string(300, 'p'));
  EXPECT_EQ(Read(v / "data" / "maps" / "a.pak"), "map");
  EXPECT_EQ(Read(v / "manifest.sig").size(), 64u);
  EXPECT_EQ(Read(v / "plovatek-installed.txt"),
            "Plovatek 1.0, installed by PlovatekLauncher.exe.\r\nYour own files (logins, settings, saves, places) "
            "are in the folder two up from here.\r\n");
  EXPECT_EQ(Read(home_ / "current.txt"), "1.0\n");
  EXPECT_EQ(InstalledVersionFolder(home_), v);
  EXPECT_EQ(VersionsFolder(), std::vector<std::string>{"1.0"});

  ASSERT_GE(reports_.size(), 4u);
  EXPECT_EQ(reports_[0].text, "Checking for updates...");
  EXPECT_EQ(reports_[1].text, "Installing Plovatek... 0%");
  EXPECT_EQ(reports_[1].fraction, 0.0);
  EXPECT_EQ(reports_.back().text, "Installing Plovatek... 100%");
  EXPECT_EQ(reports_.back().fraction, 1.0);
  // Each file's first report shows the progress reached before it: 300 of 403 bytes.
  const auto studioStart = std::find_if(reports_.begin(), reports_.end(),
                                        [](const Report& x) { return x.text == "Installing Plovatek... 74%"; });
  EXPECT_NE(studioStart, reports_.end());
}

TEST_F(UpdateEngine, AnInstalledReleaseOnlyPointsCurrentAtIt) {
  Publish("2", {{"plovatek_player.exe", "p"}});
  ASSERT_TRUE(Run().upToDate);
  ASSERT_TRUE(WriteWholeFile(home_ / "current.txt", "1\n"));
  const UpdateResult r = Run();
  EXPECT_TRUE(r.upToDate);
  EXPECT_EQ(site_.requests(), (std::vector<std::string>{"/client/manifest.json", "/client/manifest.sig"}));
  EXPECT_EQ(Read(home_ / "current.txt"), "2\n");
  EXPECT_EQ(reports_.size(), 1u);
}

TEST_F(UpdateEngine, AnUpdateReusesUnchangedFilesAndKeepsTwoVersions) {
  Publish("A", {{"plovatek_player.exe", "player A"}, {"big.pak", std::string(1000, 'b')}, {"same.txt", "same"}});
  ASSERT_TRUE(Run().upToDate);
  // Leftovers from elsewhere: a stale staging folder and a stray file.
  ASSERT_TRUE(WriteWholeFile(home_ / "Versions" / "Z.partial" / "x", "x"));
  ASSERT_TRUE(WriteWholeFile(home_ / "Versions" / "stray.txt", "x"));
  // The user changed a reusable file on disk: it must be fetched again.
  ASSERT_TRUE(WriteWholeFile(home_ / "Versions" / "A" / "same.txt", "edited"));

  Publish("B", {{"plovatek_player.exe", "player B"}, {"big.pak", std::string(1000, 'b')}, {"same.txt", "same"}});
  const UpdateResult r = Run();
  ASSERT_TRUE(r.upToDate) << r.error;
  EXPECT_EQ(Read(home_ / "Versions" / "B" / "big.pak"), std::string(1000, 'b'));
  EXPECT_EQ(Read(home_ / "Versions" / "B" / "same.txt"), "same");
  EXPECT_EQ(FileRequests(), 2u);  // the new player and the edited file; big.pak reused
  EXPECT_EQ(VersionsFolder(), (std::vector<std::string>{"A", "B"}));
  ASSERT_GE(reports_.size(), 2u);
  EXPECT_EQ(reports_[1].text, "Updating Plovatek... 0%");
  // same.txt was not in the total (8 bytes of player): done passes total.
  EXPECT_EQ(reports_.back().text, "Updating Plovatek... 150%");
  EXPECT_GT(reports_.back().fraction, 1.0);

  Publish("C", {{"plovatek_player.exe", "player C"}});
  ASSERT_TRUE(Run().upToDate);
  EXPECT_EQ(VersionsFolder(), (std::vector<std::string>{"B", "C"}));
}

TEST_F(UpdateEngine, EverythingReusedMeansNoProgressAfterChecking) {
  Publish("A", {{"a", "1"}, {"b", "2"}});
  ASSERT_TRUE(Run().upToDate);
  Publish("B", {{"a", "1"}, {"b", "2"}, {"c", "1"}});  // two entries with one fingerprint
  const UpdateResult r = Run();
  ASSERT_TRUE(r.upToDate) << r.error;
  EXPECT_EQ(FileRequests(), 0u);
  EXPECT_EQ(reports_.size(), 1u);
  EXPECT_EQ(Read(home_ / "Versions" / "B" / "c"), "1");
}

TEST_F(UpdateEngine, AChangedFileWithNothingToFetchShowsTheLabelAlone) {
  Publish("A", {{"a", "1"}});
  ASSERT_TRUE(Run().upToDate);
  ASSERT_TRUE(WriteWholeFile(home_ / "Versions" / "A" / "a", "changed"));
  Publish("B", {{"a", "1"}, {"b", "1"}});
  ASSERT_TRUE(Run().upToDate);
  ASSERT_GE(reports_.size(), 2u);
  EXPECT_EQ(reports_[1].text, "Updating Plovatek... ");
  EXPECT_EQ(reports_[1].fraction, -1.0);
}

TEST_F(UpdateEngine, DuplicateFingerprintsAreEachFetchedAndCounted) {
  Publish("A", {{"one", "xx"}, {"two", "xx"}});
  ASSERT_TRUE(Run().upToDate);
  EXPECT_EQ(FileRequests(), 2u);
  EXPECT_EQ(Read(home_ / "Versions" / "A" / "two"), "xx");
  EXPECT_EQ(reports_[1].text, "Installing Plovatek... 0%");
  EXPECT_EQ(reports_[2].text, "Installing Plovatek... 50%");
}

TEST_F(UpdateEngine, TheFingerprintIsTheOnlyCheckOfADownload) {
  // Declared size 4, body 10 bytes: accepted, and progress never counts more than 4.
  Publish("A", {{"a", "0123456789"}}, {{"a", 4}});
  const UpdateResult r = Run();
  ASSERT_TRUE(r.upToDate) << r.error;
  EXPECT_EQ(reports_.back().text, "Installing Plovatek... 100%");
}

TEST_F(UpdateEngine, FailedFilesStopTheBuildAndLeaveCurrentAlone) {
  Publish("A", {{"plovatek_player.exe", "a"}});
  ASSERT_TRUE(Run().upToDate);

  Publish("B", {{"ok.txt", "fine"}, {"bin/player.exe", "right bytes"}});
  site_.Set("/client/files/" + Sha256Hex("right bytes"), {200, "wrong bytes", ""});
  UpdateResult r = Run();
  EXPECT_FALSE(r.upToDate);
  EXPECT_TRUE(r.websiteAnswered);
  EXPECT_EQ(r.version, "B");
  EXPECT_EQ(r.error, "bin/player.exe came out wrong (it didn't match its fingerprint): try again");
  EXPECT_EQ(Read(home_ / "current.txt"), "A\n");
  EXPECT_EQ(Read(home_ / "Versions" / "B.partial" / "ok.txt"), "fine");  // left for the next run to rebuild

  site_.Remove("/client/files/" + Sha256Hex("right bytes"));
  r = Run();
  EXPECT_EQ(r.error, "Couldn't download bin/player.exe: The website said 404 (there's no release on it yet)");
  EXPECT_EQ(InstalledVersionFolder(home_), home_ / "Versions" / "A");
}

TEST_F(UpdateEngine, APathWindowsCannotNameFailsTheUpdateWithASentence) {
  Publish("A", {{"plovatek_player.exe", "a"}});
  ASSERT_TRUE(Run().upToDate);
  Publish("B", {{"plovatek_player.exe", "b"}, {"caf\xE9.pak", "latin-1, not UTF-8"}});
  const UpdateResult r = Run();
  EXPECT_FALSE(r.upToDate);
  EXPECT_EQ(r.error, "The update's list of files doesn't make sense (bad file)");
  EXPECT_EQ(FileRequests(), 0u);
  EXPECT_EQ(Read(home_ / "current.txt"), "A\n");
}

TEST_F(UpdateEngine, AFolderThatCannotBeReplacedFailsTheSwitch) {
  // A version folder without its marker, holding a file that is open elsewhere.
  const fs::path held = home_ / "Versions" / "B" / "held.txt";
  ASSERT_TRUE(WriteWholeFile(held, "x"));
  HANDLE file = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Publish("B", {{"a", "1"}});
  const UpdateResult r = Run();
  CloseHandle(file);
  EXPECT_FALSE(r.upToDate);
  EXPECT_TRUE(r.error.starts_with("Couldn't finish installing (")) << r.error;
  EXPECT_TRUE(r.error.ends_with(")")) << r.error;
  EXPECT_EQ(r.error.find("unknown error"), std::string::npos) << r.error;
  EXPECT_TRUE(fs::exists(home_ / "Versions" / "B.partial" / "plovatek-installed.txt"));
  EXPECT_EQ(Read(home_ / "current.txt"), "<missing>");
}

TEST(UpdateProgressText, PercentagesRoundDown) {
  EXPECT_EQ(ProgressText("Installing Plovatek", 42, 100), "Installing Plovatek... 42%");
  EXPECT_EQ(ProgressText("Installing Plovatek", 2, 3), "Installing Plovatek... 66%");
  EXPECT_EQ(ProgressText("Updating Plovatek", 5, 0), "Updating Plovatek... ");
  EXPECT_EQ(ProgressText("x", UINT64_MAX, UINT64_MAX), "x... 100%");
  EXPECT_EQ(ProgressFraction(0, 0), -1.0);
  EXPECT_EQ(ProgressFraction(3, 2), 1.5);
}

}  // namespace
}  // namespace plovatek
