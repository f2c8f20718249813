#include "update/release_manifest.h"

#include "json/json.h"
#include "test_signer.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace plovatek {
namespace {

const std::string kFingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string Entry(const std::string& path, const std::string& sha256 = kFingerprint, const std::string& size = "1") {
  return R"({"path":")" + path + R"(","sha256":")" + sha256 + R"(","size":)" + size + "}";
}

std::string Manifest(const std::string& version, const std::string& files, const std::string& more = "") {
  return R"({"version":")" + version + R"(","files":)" + files + more + "}";
}

std::string Sense(const std::string& fault) { return std::string(kManifestNonsenseStart) + fault + ")"; }

// Every manifest here is signed with a fresh key, which is the key checked against.
class ReleaseManifestTest : public ::testing::Test {
 protected:
  struct Outcome {
    bool ok = false;
    std::string error;
    ReleaseManifest manifest;
  };

  Outcome Read(const std::string& json) { return ReadSigned(json, signer_.Sign(json)); }

  Outcome ReadSigned(const std::string& json, const std::string& signature) {
    Outcome outcome;
    outcome.ok = ParseReleaseManifest(json, signature, signer_.publicKey(), outcome.manifest, outcome.error);
    return outcome;
  }

  std::string ErrorOf(const std::string& json) {
    const Outcome outcome = Read(json);
    EXPECT_EQ(outcome.ok, outcome.error.empty()) << json;
    return outcome.error;
  }

  TestSigner signer_;
};

TEST_F(ReleaseManifestTest, ReadsAValidManifest) {
  const std::string json = Manifest("1.0-beta.2", "[" + Entry("plovatek_player.exe", kFingerprint, "12.9") + "," +
                                                      Entry("bin\\\\data\\\\a.pak", std::string(64, 'f'), "0") + "]",
                                    R"(,"launcher":)" + Entry("PlovatekLauncher.exe", std::string(64, '1'), "4096"));
  Outcome outcome = Read(json);
  outcome.error = "untouched";
  ASSERT_TRUE(ParseReleaseManifest(json, signer_.Sign(json), signer_.publicKey(), outcome.manifest, outcome.error));
  EXPECT_EQ(outcome.error, "untouched");
  const ReleaseManifest& manifest = outcome.manifest;
  EXPECT_EQ(manifest.version, "1.0-beta.2");
  ASSERT_EQ(manifest.files.size(), 2u);
  EXPECT_EQ(manifest.files[0].path, "plovatek_player.exe");
  EXPECT_EQ(manifest.files[0].sha256, kFingerprint);
  EXPECT_EQ(manifest.files[0].size, 12u);  // the fraction is dropped
  EXPECT_EQ(manifest.files[1].path, "bin\\data\\a.pak");
  EXPECT_EQ(manifest.files[1].size, 0u);
  EXPECT_EQ(manifest.launcher.path, "PlovatekLauncher.exe");
  EXPECT_EQ(manifest.launcher.size, 4096u);
}

TEST_F(ReleaseManifestTest, NothingIsReadWithoutAValidSignature) {
  const std::string json = Manifest("1.0", "[" + Entry("a") + "]");
  const std::string signature = signer_.Sign(json);
  const std::string notJson = "not json at all";
  const std::string unsignedCases[] = {signature + "\n", signature.substr(0, 63), "", TestSigner::ToDer(signature),
                                       signer_.Sign(json + "\n"), TestSigner().Sign(json)};
  for (const std::string& wrong : unsignedCases) {
    const Outcome outcome = ReadSigned(json, wrong);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, kNotSignedSentence) << wrong.size();
  }
  // A broken document with a broken signature is reported as unsigned: its JSON is never read.
  EXPECT_EQ(ReadSigned(notJson, signature).error, kNotSignedSentence);
}

TEST_F(ReleaseManifestTest, ALauncherWithoutAReleaseKeyInstallsNothing) {
  const std::string json = Manifest("1.0", "[" + Entry("a") + "]");
  const std::array<unsigned char, 64> zero{};
  ReleaseManifest manifest;
  std::string error;
  EXPECT_FALSE(ParseReleaseManifest(json, signer_.Sign(json), zero, manifest, error));
  EXPECT_EQ(error, "This copy of the launcher was built before the release key was made (see apps/launcher/README.txt)");
}

TEST_F(ReleaseManifestTest, FaultsOfTheDocument) {
  struct Case {
    std::string json;
    std::string error;
  };
  const std::string one = "[" + Entry("a") + "]";
  const Case cases[] = {
      {"{\"version\":", Sense("JSON error at character 11: the text ended too soon")},
      {"not json", Sense("JSON error at character 0: expected a value")},
      {"[" + Manifest("1.0", one) + "]", Sense("bad version")},
      {"\"1.0\"", Sense("bad version")},
      {Manifest(std::string(40, 'v'), one), ""},
      {Manifest(std::string(41, 'v'), one), Sense("bad version")},
      {Manifest("1_0", one), Sense("bad version")},
      {Manifest(".hidden", one), Sense("bad version")},
      {Manifest("", one), Sense("bad version")},
      {R"({"files":)" + one + "}", Sense("bad version")},
      {R"({"version":1,"files":)" + one + "}", Sense("bad version")},
      {Manifest("1.0", "[]"), Sense("no files")},
      {Manifest("1.0", "{}"), Sense("no files")},
      {Manifest("1.0", "null"), Sense("no files")},
      {R"({"version":"1.0"})", Sense("no files")},
      {Manifest("1.0", "[" + Entry("a") + ",7]"), Sense("bad file")},
      {Manifest("1.0", "[" + Entry("/a") + "," + Entry("b") + "]"), Sense("bad file")},
      // A path names a file on Windows only through the strict UTF-8 conversion.
      {Manifest("1.0", "[" + Entry("caf\xC3\xA9/\xF0\x9F\x98\x80.pak") + "]"), ""},
      {Manifest("1.0", "[" + Entry("a\xFF") + "]"), Sense("bad file")},
      {Manifest("1.0", "[" + Entry("caf\xC3") + "]"), Sense("bad file")},
      {Manifest("1.0", "[" + Entry("a\xC0\xAF" "b") + "]"), Sense("bad file")},  // an overlong '/'
      {Manifest("1.0", "[" + Entry("\\uD83D\\uDE00") + "]"), Sense("bad file")},  // halves, unpaired
      {Manifest("1.0", one, R"(,"launcher":)" + Entry("\xED\xA0\x80")), Sense("bad launcher")},
      {Manifest("1.0", one, R"(,"launcher":null)"), Sense("bad launcher")},
      {Manifest("1.0", one, R"(,"launcher":{})"), Sense("bad launcher")},
      {Manifest("1.0", one, R"(,"launcher":)" + Entry("..")), Sense("bad launcher")},
      // Unknown members are ignored, duplicates resolve to the first.
      {Manifest("1.0", one, R"(,"notes":[1,{"x":null}],"version":"bad name!")"), ""},
      {Manifest("1.0", one, R"(,"files":[])"), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.json), c.error) << c.json;
}

TEST_F(ReleaseManifestTest, WithoutALauncherEntryTheLauncherIsEmpty) {
  const Outcome outcome = Read(Manifest("1.0", "[" + Entry("a") + "]"));
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.manifest.launcher.path, "");
  EXPECT_EQ(outcome.manifest.launcher.sha256, "");
  EXPECT_EQ(outcome.manifest.launcher.size, 0u);
}

TEST(ReadManifestFile, SizeMustBeAByteCount) {
  struct Case {
    std::string size;
    bool ok;
    std::uint64_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"-0", true, 0},
      {"12.9", true, 12},
      {"0.5", true, 0},
      {"1e3", true, 1000},
      {"0x10", true, 16},
      {"9007199254740993", true, 9007199254740992u},
      // The largest double below 2^64.
      {"18446744073709549568", true, 18446744073709549568u},
      {"-1", false, 0},
      {"-0.5", false, 0},
      {"18446744073709551616", false, 0},
      {"1e400", false, 0},
      {"inf", false, 0},
      {"nan", false, 0},
      {"-nan", false, 0},
      {"\"12\"", false, 0},
      {"null", false, 0},
      {"true", false, 0},
      {"[12]", false, 0},
  };
  for (const Case& c : cases) {
    ManifestFile file;
    EXPECT_EQ(ReadManifestFile(ParseJson(Entry("a", kFingerprint, c.size)), file), c.ok) << c.size;
    if (c.ok) {
      EXPECT_EQ(file.size, c.value) << c.size;
    }
  }
  ManifestFile file;
  EXPECT_FALSE(ReadManifestFile(ParseJson(R"({"path":"a","sha256":")" + kFingerprint + "\"}"), file));
}

TEST(ReadManifestFile, EntriesAreObjectsWithAllThreeMembers) {
  ManifestFile file;
  EXPECT_FALSE(ReadManifestFile(ParseJson("[]"), file));
  EXPECT_FALSE(ReadManifestFile(ParseJson("null"), file));
  EXPECT_FALSE(ReadManifestFile(ParseJson(R"({"sha256":")" + kFingerprint + R"(","size":1})"), file));
  EXPECT_FALSE(ReadManifestFile(ParseJson(R"({"path":"a","size":1})"), file));
  EXPECT_FALSE(ReadManifestFile(ParseJson(R"({"path":7,"sha256":")" + kFingerprint + R"(","size":1})"), file));
  // An object fills path and sha256 before they are tested.
  EXPECT_FALSE(ReadManifestFile(ParseJson(Entry("a/../b", "ABC")), file));
  EXPECT_EQ(file.path, "a/../b");
  EXPECT_EQ(file.sha256, "ABC");
  EXPECT_TRUE(ReadManifestFile(ParseJson(R"({"size":3,"extra":{},"sha256":")" + kFingerprint + R"(","path":"x/y"})"), file));
  EXPECT_EQ(file.path, "x/y");
  EXPECT_EQ(file.size, 3u);
}

TEST(IsSafeRelativePath, StaysInsideTheReleaseFolder) {
  const std::string good[] = {"bin/player.exe", "bin\\data\\a.pak", "a", "...", "a..b/.c", "a b/c\xC3\xA9", "x/y\\z",
                              std::string(300, 'p')};
  for (const std::string& path : good) EXPECT_TRUE(IsSafeRelativePath(path)) << path;
  const std::string bad[] = {"",      "/x",    "\\x",   "C:x",  "a:b",   "a//b",   "a/",  "a\\",  "./a",
                             "a/./b", "a/../b", "..",   ".",    "a/..",  "a\\..\\b", "//server/share",
                             std::string(301, 'p')};
  for (const std::string& path : bad) EXPECT_FALSE(IsSafeRelativePath(path)) << path;
}

TEST(IsFingerprintText, SixtyFourLowerCaseHexDigits) {
  EXPECT_TRUE(IsFingerprintText(kFingerprint));
  EXPECT_TRUE(IsFingerprintText(std::string(64, '0')));
  std::string upper = kFingerprint;
  upper[10] = 'A';
  const std::string bad[] = {upper, kFingerprint.substr(1), kFingerprint + "0", "", std::string(64, 'g'),
                             std::string(63, 'a') + " ", std::string(63, 'a') + "\n"};
  for (const std::string& text : bad) EXPECT_FALSE(IsFingerprintText(text)) << text;
}

}  // namespace
}  // namespace plovatek
