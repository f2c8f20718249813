#include "command_line.h"

#include <gtest/gtest.h>

#include "install_home.h"

namespace plovatek {
namespace {

LaunchRequest Scan(const std::vector<std::string>& arguments) {
  LaunchRequest request;
  request.installHome = "default-home";
  ScanArguments(arguments, request);
  return request;
}

TEST(ArgumentScan, NoArgumentsLeavesTheInitialRequest) {
  const LaunchRequest r = Scan({});
  EXPECT_EQ(r.link, "");
  EXPECT_EQ(r.fileToOpen, "");
  EXPECT_FALSE(r.openStudio || r.noStart || r.removePlatform);
  EXPECT_EQ(r.installHome, std::filesystem::path("default-home"));
}

TEST(ArgumentScan, LinkIsTheLastArgumentWithTheExactScheme) {
  EXPECT_EQ(Scan({"plovatek:"}).link, "plovatek:");
  EXPECT_EQ(Scan({"PLOVATEK:"}).link, "");
  EXPECT_EQ(Scan({"plovatek"}).link, "");
  EXPECT_EQ(Scan({"plovatek:a", "plovatek:b?x=1&y=2"}).link, "plovatek:b?x=1&y=2");
}

TEST(ArgumentScan, FlagsAreExactAndCaseSensitive) {
  const LaunchRequest r = Scan({"--studio", "--no-start", "--uninstall"});
  EXPECT_TRUE(r.openStudio);
  EXPECT_TRUE(r.noStart);
  EXPECT_TRUE(r.removePlatform);
  const LaunchRequest none = Scan({"--Studio", "-studio", "--studio=1", "--NO-START", "--uninstall2"});
  EXPECT_FALSE(none.openStudio || none.noStart || none.removePlatform);
}

TEST(ArgumentScan, WebsiteValueIsNormalisedAndConsumed) {
  EXPECT_EQ(Scan({"--website", " https://a.example/ "}).websiteAddress, "https://a.example");
  // A bad later value empties an earlier good one.
  EXPECT_EQ(Scan({"--website", "https://a.example", "--website", "ftp://b"}).websiteAddress, "");
  // The value is consumed whatever it looks like.
  const LaunchRequest r = Scan({"--website", "--studio"});
  EXPECT_FALSE(r.openStudio);
  EXPECT_EQ(r.websiteAddress, "");
  // As the last argument it is ignored.
  EXPECT_EQ(Scan({"--website"}).websiteAddress, "");
}

TEST(ArgumentScan, HomeTakesTheNextArgumentWhateverItIs) {
  const LaunchRequest r = Scan({"--home", "--studio"});
  EXPECT_EQ(r.installHome, std::filesystem::path("--studio"));
  EXPECT_FALSE(r.openStudio);
  EXPECT_EQ(Scan({"--home", "a", "--home", "b"}).installHome, std::filesystem::path("b"));
  EXPECT_EQ(Scan({"--home"}).installHome, std::filesystem::path("default-home"));
}

TEST(ArgumentScan, PlaceAndModelFilesOpenTheStudio) {
  struct Case {
    const char* argument;
    bool isFile;
  };
  const Case cases[] = {
      {"Level.PLOVLVL", true},   {"notes.JSON", true},     {"a.plovl", true},
      {"thing.plovm", true},     {"C:\\x y\\p.plovlvl", true}, {"dir.json/readme.txt", false},
      {".plovlvl", false},       {"notes.txt", false},     {"plovlvl", false},
      {"a.json:stream", true},   {"a.txt:x.json", false},  {"C:b.json", true},
      {"..plovlvl", true},       {"..", false},            {"x.json.", false},
      // A root name is no file name ("\\server" runs to its first separator), and "C:" is
      // one only at the very start: later, its ':' ends the element.
      {"\\\\host.json", false},    {"\\\\host\\share.json", true}, {"//?/C:x.json", false},
  };
  for (const Case& c : cases) {
    const LaunchRequest r = Scan({c.argument});
    EXPECT_EQ(r.openStudio, c.isFile) << c.argument;
    EXPECT_EQ(r.fileToOpen, c.isFile ? c.argument : "") << c.argument;
  }
  EXPECT_EQ(Scan({"one.plovlvl", "two.plovm"}).fileToOpen, "two.plovm");
}

TEST(ArgumentScan, LinkStudioAndFileAreAllRecorded) {
  const LaunchRequest r = Scan({"plovatek:play", "--studio", "p.plovlvl"});
  EXPECT_EQ(r.link, "plovatek:play");
  EXPECT_EQ(r.fileToOpen, "p.plovlvl");
  EXPECT_TRUE(r.openStudio);
}

TEST(QueryParameter, FindsTheFirstExactNameUndecoded) {
  struct Case {
    const char* link;
    const char* value;
  };
  const Case cases[] = {
      {"plovatek:x?origin=https%3A%2F%2Fa.example", "https%3A%2F%2Fa.example"},
      {"plovatek:x?a=1&origin=b&origin=c", "b"},
      {"plovatek:x?origin", ""},
      {"plovatek:x?Origin=b", ""},
      {"plovatek:x?origin=", ""},
      {"plovatek:x?a=1&origin=b=c", "b=c"},
      {"plovatek:origin=b", ""},
      {"plovatek:x?", ""},
      {"plovatek:x?&&origin=z&", "z"},
  };
  for (const Case& c : cases) EXPECT_EQ(QueryParameter(c.link, "origin"), c.value) << c.link;
}

TEST(PercentDecode, DecodesPairsAndPlusAndKeepsTheRest) {
  EXPECT_EQ(PercentDecode("https%3A%2F%2Fa.example"), "https://a.example");
  EXPECT_EQ(PercentDecode("a+b"), "a b");
  EXPECT_EQ(PercentDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(PercentDecode("%"), "%");
  EXPECT_EQ(PercentDecode("%e9%C3%a9"), "\xE9\xC3\xA9");
  EXPECT_EQ(PercentDecode("%2541"), "%41");
}

TEST(WebsiteAddress, SettlesInOrderOfItsSources) {
  LaunchRequest r;
  r.link = "plovatek:x?origin=https%3A%2F%2Flink.example";
  EXPECT_EQ(SettleWebsiteAddress(r, ""), "https://link.example");
  r.websiteFileText = "https://file.example/\r\nsomething else\n";
  EXPECT_EQ(SettleWebsiteAddress(r, ""), "https://file.example");
  EXPECT_EQ(SettleWebsiteAddress(r, "https://stamp.example"), "https://stamp.example");
  r.websiteAddress = "https://option.example";
  EXPECT_EQ(SettleWebsiteAddress(r, "https://stamp.example"), "https://option.example");
}

TEST(WebsiteAddress, OriginWithPlusIsUnacceptableAndNeedsALink) {
  LaunchRequest r;
  r.link = "plovatek:x?origin=https%3A%2F%2Fa+b.example";
  EXPECT_EQ(SettleWebsiteAddress(r, ""), "");
  r.link = "";
  r.websiteFileText = "not an address";
  EXPECT_EQ(SettleWebsiteAddress(r, ""), "");
}

}  // namespace
}  // namespace plovatek
