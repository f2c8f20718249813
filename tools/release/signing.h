#pragma once
// The release key on OpenSSL: making it, reading it, and signing a manifest in
// the launcher's form (ECDSA P-256 over SHA-256, raw 64-byte r||s).

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace plovatek::release {

using PublicKey = std::array<unsigned char, 64>;

class PrivateKey {
 public:
  PrivateKey();
  ~PrivateKey();
  PrivateKey(PrivateKey&&) noexcept;
  PrivateKey& operator=(PrivateKey&&) noexcept;

  // A fresh P-256 key pair.
  bool Generate(std::string& error);
  // A P-256 private key in PEM (SEC 1 or PKCS #8).
  bool Load(const std::filesystem::path& file, std::string& error);
  // SEC 1 PEM ("EC PRIVATE KEY"), as keygen writes it.
  bool ToPem(std::string& pem, std::string& error) const;

  // X then Y, as the launcher build takes them.
  PublicKey Public() const;
  // 64 bytes r||s over the SHA-256 of bytes; empty on failure.
  std::string Sign(std::string_view bytes) const;

 private:
  struct Key;
  std::unique_ptr<Key> key_;
};

std::string PublicKeyHex(const PublicKey& key);
// 128 hexadecimal characters, either case.
bool PublicKeyFromHex(std::string_view hex, PublicKey& key);

}  // namespace plovatek::release
