#pragma once
// A small HTTP server on 127.0.0.1 for in-process tests under Wine: answers
// each path from a table (404 otherwise) and logs every request path.

#include <winsock2.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plovatek {

class TestWebsite {
 public:
  struct Response {
    int status = 200;
    std::string body;
    std::string raw;  // when set, sent as it stands instead of status and body
  };

  TestWebsite();
  ~TestWebsite();
  TestWebsite(const TestWebsite&) = delete;
  TestWebsite& operator=(const TestWebsite&) = delete;

  std::string address() const;  // "http://127.0.0.1:PORT"
  void Set(const std::string& path, Response response);
  void Remove(const std::string& path);
  std::vector<std::string> requests() const;  // paths, in order
  std::string lastRequestHead() const;
  void ClearLog();

 private:
  void Serve();
  void Answer(SOCKET client);

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Response> responses_;
  std::vector<std::string> requests_;
  std::string lastHead_;
  std::thread thread_;
};

}  // namespace plovatek
