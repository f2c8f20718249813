#include "net/download.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace plovatek {
namespace {

// A one-connection-at-a-time HTTP server on 127.0.0.1 that answers every request
// with the same raw response and remembers the request it saw.
class RawServer {
 public:
  explicit RawServer(std::string response) : response_(std::move(response)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 4);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    closesocket(listener_);
    thread_.join();
    WSACleanup();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::string request() const { return request_; }

 private:
  void Serve() {
    while (true) {
      const SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      char buffer[4096];
      std::string seen;
      while (seen.find("\r\n\r\n") == std::string::npos) {
        const int n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        seen.append(buffer, n);
      }
      request_ = seen;
      send(client, response_.data(), static_cast<int>(response_.size()), 0);
      shutdown(client, SD_SEND);
      closesocket(client);
    }
  }

  std::string response_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::thread thread_;
  std::string request_;
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
  const Outcome o = Download(server.Url("/client/files/abc?q=1"), 12345);
  EXPECT_TRUE(o.ok);
  EXPECT_TRUE(o.reached);
  EXPECT_EQ(o.body, body);
  EXPECT_EQ(o.error, "untouched");
  ASSERT_FALSE(o.progress.empty());
  EXPECT_EQ(o.progress.back().first, 100000u);
  for (const auto& [received, expected] : o.progress) EXPECT_EQ(expected, 12345u);
  EXPECT_EQ(server.request().rfind("GET /client/files/abc?q=1 HTTP/1.1\r\n", 0), 0u) << server.request();
  EXPECT_NE(server.request().find("User-Agent: PlovatekLauncher/1.0\r\n"), std::string::npos) << server.request();
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
    const Outcome o = Download(server.Url("/client/files/abc"), c.expected);
    EXPECT_TRUE(o.ok) << c.name;
    EXPECT_EQ(o.body, body) << c.name;
    ASSERT_FALSE(o.progress.empty()) << c.name;
    EXPECT_EQ(o.progress.back(), std::make_pair(std::uint64_t{100000}, c.expected)) << c.name;
  }
}

TEST(DownloadUrl, EmptyBodyGivesNoProgressCall) {
  RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  const Outcome o = Download(server.Url("/x"));
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
    const Outcome o = Download(server.Url("/client/manifest.json"));
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
    RawServer gone("");
    url = gone.Url("/client/manifest.json");
  }
  Outcome o = Download(url);
  EXPECT_FALSE(o.ok);
  EXPECT_FALSE(o.reached);
  EXPECT_EQ(o.error, "Couldn't reach 127.0.0.1 (is the internet on?)");

  for (const char* bad : {"ftp://a.example/x", "not a url", "http://a.example:70000/x", ""}) {
    o = Download(bad);
    EXPECT_FALSE(o.ok);
    EXPECT_FALSE(o.reached);
    EXPECT_EQ(o.error, std::string("That isn't a web address: ") + bad);
    EXPECT_EQ(o.body, "");
  }
}

}  // namespace
}  // namespace plovatek
