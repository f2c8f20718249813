#include "install_home.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace plovatek {
namespace {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    // Spaces and non-ASCII letters in the name: paths must survive the UTF-16 boundary.
    path_ = std::filesystem::temp_directory_path() /
            PathFromUtf8("plovatek test \xC3\xBC\xC3\xB1 " + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(NormaliseWebsiteAddress, AcceptsAndTrims) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"  https://a.example//  ", "https://a.example"},
      {"http://a.example/ / \t\r\n", "http://a.example"},
      {"\t\nhttps://a.example/path", "https://a.example/path"},
      {"https://", ""},
      {"https:///", ""},
      {"HTTPS://a.example", ""},
      {"https://a b.example", ""},
      {"https://a\".example", ""},
      {"https://a\\b.example", ""},
      {"https://a<b", ""},
      {"https://a>b", ""},
      {"https://a\x01", ""},
      {"ftp://a.example", ""},
      {"", ""},
      {"https://caf\xC3\xA9.example", "https://caf\xC3\xA9.example"},
      {"https://a\x7F", "https://a\x7F"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormaliseWebsiteAddress(c.in), c.out) << c.in;
}

TEST(NormaliseWebsiteAddress, AtMost200Bytes) {
  const std::string base = "https://";
  const std::string exact = base + std::string(200 - base.size(), 'a');
  EXPECT_EQ(NormaliseWebsiteAddress(exact), exact);
  EXPECT_EQ(NormaliseWebsiteAddress(exact + "a"), "");
  // Trimming happens before the length is measured.
  EXPECT_EQ(NormaliseWebsiteAddress(exact + "///"), exact);
}

std::string Stamp(const std::string& address) { return "\r\nPLOVATEK-WEBSITE=" + address + "\r\n"; }

TEST(WebsiteStamp, ReadsTheStampAtTheVeryEnd) {
  const std::string image(5000, 'M');
  EXPECT_EQ(ReadWebsiteStamp(image + Stamp("https://a.example")), "https://a.example");
  EXPECT_EQ(ReadWebsiteStamp(image + Stamp("https://a.example") + "x"), "");
  EXPECT_EQ(ReadWebsiteStamp(image + Stamp("https://a.example") + Stamp("https://b.example")),
            "https://b.example");
  EXPECT_EQ(ReadWebsiteStamp(image), "");
  EXPECT_EQ(ReadWebsiteStamp(""), "");
  EXPECT_EQ(ReadWebsiteStamp(image + Stamp("not a website")), "");
  EXPECT_EQ(ReadWebsiteStamp(image + "\r\nPLOVATEK-WEBSITE=https://a.example\r\nmore\r\n"), "");
  EXPECT_EQ(ReadWebsiteStamp(image + "\r\nPLOVATEK-WEBSITE=\r"), "");
  EXPECT_EQ(ReadWebsiteStamp("\r\nPLOVATEK-WEBSITE=https://a.example/\r\n"), "https://a.example");
}

TEST(WebsiteStamp, OnlyAMarkerWithinTheLast1024BytesCounts) {
  // The marker's text also stands in the launcher's constant data, far from the end.
  const std::string constantData = "xx" + std::string(WebsiteStampMarker) + "https://wrong.example\r\n";
  EXPECT_EQ(ReadWebsiteStamp(constantData + std::string(4000, 'M')), "");

  // A stamp whose address is so long that its marker starts 1025 bytes from the end.
  const std::string head = "\r\nPLOVATEK-WEBSITE=";
  const std::string far = head + "https://a.example/" + std::string(1025 - head.size() - 18 - 2, ' ') + "\r\n";
  ASSERT_EQ(far.size(), 1025u);
  EXPECT_EQ(ReadWebsiteStamp("MZ" + far), "");
  const std::string at1024 = head + "https://a.example" + std::string(1024 - head.size() - 17 - 2, '/') + "\r\n";
  ASSERT_EQ(at1024.size(), 1024u);
  EXPECT_EQ(ReadWebsiteStamp(std::string(3000, 'M') + at1024), "https://a.example");
}

TEST(WebsiteStamp, StripGivesBackTheOriginalBytes) {
  const std::string image = std::string("MZ\0\x01", 4) + std::string(3000, '\xCC') + "\r\n";
  EXPECT_EQ(StripWebsiteStamp(image + Stamp("https://a.example")), image);
  EXPECT_EQ(StripWebsiteStamp(image), image);
  // An unusable stamp stays in place.
  const std::string bad = image + Stamp("nonsense");
  EXPECT_EQ(StripWebsiteStamp(bad), bad);
  // Two stamps: only the last goes.
  EXPECT_EQ(StripWebsiteStamp(image + Stamp("https://a.example") + Stamp("https://b.example")),
            image + Stamp("https://a.example"));
}

TEST(FirstLine, StopsAtTheFirstCrOrLf) {
  EXPECT_EQ(FirstLine("https://a.example\r\nsecond\n"), "https://a.example");
  EXPECT_EQ(FirstLine("one\rtwo"), "one");
  EXPECT_EQ(FirstLine("whole"), "whole");
  EXPECT_EQ(FirstLine("\nrest"), "");
  EXPECT_EQ(FirstLine(""), "");
}

TEST(IsValidVersionName, FollowsTheVersionRule) {
  struct Case {
    std::string name;
    bool valid;
  };
  const Case cases[] = {
      {"1.0-beta.2", true},      {"7", true},           {"a..b", true},       {"1.", true},
      {std::string(40, 'v'), true},                     {std::string(41, 'v'), false},
      {"", false},               {".hidden", false},    {"1_0", false},       {"1 0", false},
      {"caf\xC3\xA9", false},    {"a/b", false},        {"a\\b", false},      {"-x", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidVersionName(c.name), c.valid) << c.name;
}

TEST(InstallHomeFrom, PrefersLocalAppDataThenTemporary) {
  EXPECT_EQ(InstallHomeFrom("L", "T"), std::filesystem::path("L") / "Plovatek");
  EXPECT_EQ(InstallHomeFrom("", "T"), std::filesystem::path("T") / "Plovatek");
  EXPECT_TRUE(InstallHomeFrom("", "").empty());
}

TEST(WholeFiles, WriteMakesParentsAndReadGivesTheBytesBack) {
  TempFolder temp;
  const std::filesystem::path file = temp.path() / "a" / "b" / "c.bin";
  const std::string bytes("x\0y\r\n\xFF", 6);
  ASSERT_TRUE(WriteWholeFile(file, bytes));
  std::string read = "old";
  ASSERT_TRUE(ReadWholeFile(file, read));
  EXPECT_EQ(read, bytes);
  ASSERT_TRUE(WriteWholeFile(file, "z"));  // truncates
  ASSERT_TRUE(ReadWholeFile(file, read));
  EXPECT_EQ(read, "z");
  ASSERT_TRUE(WriteWholeFile(file, ""));
  ASSERT_TRUE(ReadWholeFile(file, read));
  EXPECT_EQ(read, "");
}

TEST(WholeFiles, FailuresLeaveTheOutputAlone) {
  TempFolder temp;
  std::string read = "kept";
  EXPECT_FALSE(ReadWholeFile(temp.path() / "missing", read));
  EXPECT_FALSE(ReadWholeFile(temp.path(), read));  // a folder is not a file
  EXPECT_EQ(read, "kept");
  EXPECT_FALSE(WriteWholeFile(temp.path(), "x"));  // cannot write over a folder
}

TEST(InstalledVersionFolder, NeedsAValidNameAndTheMarker) {
  TempFolder temp;
  const std::filesystem::path home = temp.path();
  const std::filesystem::path folder = home / "Versions" / "7.1";
  EXPECT_TRUE(InstalledVersionFolder(home).empty());  // no current.txt

  ASSERT_TRUE(WriteWholeFile(home / "current.txt", "7.1\n"));
  EXPECT_TRUE(InstalledVersionFolder(home).empty());  // folder without its marker
  ASSERT_TRUE(WriteWholeFile(folder / "plovatek-installed.txt", "x"));

  struct Case {
    std::string current;
    bool found;
  };
  const Case cases[] = {
      {"7.1\n", true},  {"7.1\r\n", true}, {"7.1   \t", true}, {"7.1", true},
      {" 7.1\n", false}, {"7.2\n", false}, {"../7.1\n", false}, {"", false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteWholeFile(home / "current.txt", c.current));
    EXPECT_EQ(InstalledVersionFolder(home), c.found ? folder : std::filesystem::path()) << c.current;
  }
}

}  // namespace
}  // namespace plovatek
