#pragma once
// A fresh P-256 key pair for tests, signing the way the release tool does
// (SHA-256, raw 64-byte r||s); on the platform's own crypto (CNG or OpenSSL).

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace plovatek {

class TestSigner {
 public:
  TestSigner();
  ~TestSigner();
  TestSigner(const TestSigner&) = delete;
  TestSigner& operator=(const TestSigner&) = delete;

  const std::array<unsigned char, 64>& publicKey() const { return publicKey_; }
  // 64 bytes r||s; the same signature in DER form.
  std::string Sign(std::string_view bytes) const;
  static std::string ToDer(std::string_view raw);

 private:
  struct Key;
  std::unique_ptr<Key> key_;
  std::array<unsigned char, 64> publicKey_{};
};

}  // namespace plovatek
