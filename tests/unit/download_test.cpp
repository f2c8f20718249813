#include "net/download.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_website.h"

namespace plovatek {
namespace {

// The test website, answering the one path a test asks for with a raw response.
struct RawServer {
  explicit RawServer(std::string response) { site.Set(kPath, {200, "", std::move(response)}); }
  std::string Url() const { return site.address() + kPath; }
  static constexpr char kPath[] = "/client/files/abc?q=1";
  TestWebsite site;
};

struct Outcome {
  bool ok;
  std::string body;
  std::string error = "untouched";
  bool reached = false;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

Outcome Download(const std::string& url, std::uint64_t expected = 0) {
  Outcome o{};
  o.body = "stale";
  o.reached = true;
  o.ok = DownloadUrl(url, o.body, o.error, o.reached, expected,
                     [&o](std::uint64_t received, std::uint64_t size) { o.progress.emplace_back(received, size); });
  return o;
}

TEST(DownloadUrl, ReadsAWholeBodyAndReportsProgress) {
  const std::string body(100000, 'x');
  RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n" + body);
  const Outcome o = Download(server.Url(), 12345);
  EXPECT_TRUE(o.ok);
  EXPECT_TRUE(o.reached);
  EXPECT_EQ(o.body, body);
  EXPECT_EQ(o.error, "untouched");
  ASSERT_FALSE(o.progress.empty());
  EXPECT_EQ(o.progress.back().first, 100000u);
  for (const auto& [received, expected] : o.progress) EXPECT_EQ(expected, 12345u);
  EXPECT_EQ(server.site.lastRequestHead().rfind("GET /client/files/abc?q=1 HTTP/1.1\r\n", 0), 0u) << server.site.lastRequestHead();
  EXPECT_NE(server.site.lastRequestHead().find("User-Agent: PlovatekLauncher/1.0\r\n"), std::string::npos) << server.site.lastRequestHead();
}

TEST(DownloadUrl, ExpectedSizeThatIsWrongDoesNotMatter) {
  // The expected size comes from the manifest and only ever guides memory: a
  // wrong one, even absurdly large, must neither fail the download nor cut it.
  struct Case {
    const char* name;
    std::uint64_t expected;
    bool announceLength;
  };
  const Case cases[] = {
      {"absurdly large, length announced", std::uint64_t{1} << 62, true},
      {"absurdly large, no length announced", std::uint64_t{1} << 62, false},
      {"too small", 10, true},
      {"right", 100000, true},
  };
  const std::string body(100000, 'y');
  for (const Case& c : cases) {
    RawServer server(std::string("HTTP/1.1 200 OK\r\n") + (c.announceLength ? "Content-Length: 100000\r\n" : "") +
                     "Connection: close\r\n\r\n" + body);
    const Outcome o = Download(server.Url(), c.expected);
    EXPECT_TRUE(o.ok) << c.name;
    EXPECT_EQ(o.body, body) << c.name;
    ASSERT_FALSE(o.progress.empty()) << c.name;
    EXPECT_EQ(o.progress.back(), std::make_pair(std::uint64_t{100000}, c.expected)) << c.name;
  }
}

TEST(DownloadUrl, EmptyBodyGivesNoProgressCall) {
  RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  const Outcome o = Download(server.Url());
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.body, "");
  EXPECT_TRUE(o.progress.empty());
}

TEST(DownloadUrl, StatusOtherThan200IsAnAnswerButAFailure) {
  struct Case {
    const char* statusLine;
    const char* error;
  };
  const Case cases[] = {
      {"HTTP/1.1 404 Not Found", "The website said 404 (there's no release on it yet)"},
      {"HTTP/1.1 500 Internal Server Error", "The website said 500"},
      {"HTTP/1.1 403 Forbidden", "The website said 403"},
  };
  for (const Case& c : cases) {
    RawServer server(std::string(c.statusLine) + "\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello");
    const Outcome o = Download(server.Url());
    EXPECT_FALSE(o.ok) << c.statusLine;
    EXPECT_TRUE(o.reached) << c.statusLine;
    EXPECT_EQ(o.error, c.error);
    EXPECT_TRUE(o.progress.empty()) << "no body is read";
  }
}

TEST(DownloadUrl, UnreachableAndMalformedAddresses) {
  // A port nobody listens on: take one from a server that has gone again.
  std::string url;
  {
    TestWebsite gone;
    url = gone.address() + "/client/manifest.json";
  }
  Outcome o = Download(url);
  EXPECT_FALSE(o.ok);
  EXPECT_FALSE(o.reached);
  EXPECT_EQ(o.error, "Couldn't reach 127.0.0.1 (is the internet on?)");

  for (const char* bad : {"ftp://a.example/x", "not a url", "http://a.example:70000/x", "", "http://caf\xE9.example"}) {
    o = Download(bad);
    EXPECT_FALSE(o.ok);
    EXPECT_FALSE(o.reached);
    EXPECT_EQ(o.error, std::string("That isn't a web address: ") + bad);
    EXPECT_EQ(o.body, "");
  }
}

}  // namespace
}  // namespace plovatek
