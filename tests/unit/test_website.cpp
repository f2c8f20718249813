#include "test_website.h"

#include <ws2tcpip.h>

namespace plovatek {

TestWebsite::TestWebsite() {
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
  listen(listener_, 8);
  thread_ = std::thread([this] { Serve(); });
}

TestWebsite::~TestWebsite() {
  closesocket(listener_);  // ends accept()
  thread_.join();
  WSACleanup();
}

std::string TestWebsite::address() const { return "http://127.0.0.1:" + std::to_string(port_); }

void TestWebsite::Set(const std::string& path, Response response) {
  std::lock_guard lock(mutex_);
  responses_[path] = std::move(response);
}

void TestWebsite::Remove(const std::string& path) {
  std::lock_guard lock(mutex_);
  responses_.erase(path);
}

std::vector<std::string> TestWebsite::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::string TestWebsite::lastRequestHead() const {
  std::lock_guard lock(mutex_);
  return lastHead_;
}

void TestWebsite::ClearLog() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

void TestWebsite::Serve() {
  while (true) {
    const SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    Answer(client);
    closesocket(client);
  }
}

void TestWebsite::Answer(SOCKET client) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    const int n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, n);
  }
  const size_t pathStart = head.find(' ') + 1;
  const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
  Response response{404, "not here", ""};
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(path);
    lastHead_ = head;
    const auto it = responses_.find(path);
    if (it != responses_.end()) response = it->second;
  }
  std::string out = response.raw;
  if (out.empty()) {
    out = "HTTP/1.1 " + std::to_string(response.status) + " Whatever\r\nContent-Length: " +
          std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n" + response.body;
  }
  size_t sent = 0;
  while (sent < out.size()) {
    const int n = send(client, out.data() + sent, static_cast<int>(out.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(client, SD_SEND);
}

}  // namespace plovatek
