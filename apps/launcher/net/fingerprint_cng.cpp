// Fingerprints and the release signature on Windows CNG (bcrypt).
#include "net/fingerprint.h"

#include "win/unique_handle.h"

#include <algorithm>
#include <cstring>

namespace plovatek {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// BCRYPT_ECCKEY_BLOB as bytes: "ECS1" (P-256 ECDSA public), length 32, X, Y.
constexpr unsigned char kEcdsaP256PublicMagic[4] = {0x45, 0x43, 0x53, 0x31};
constexpr unsigned char kP256KeyLength[4] = {0x20, 0x00, 0x00, 0x00};

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[32] = {};
  UniqueBcryptAlgorithm algorithm;
  if (Succeeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    UniqueBcryptHash hash;
    if (Succeeded(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
      // One call takes a 32-bit length: feed at most 1 GiB at a time.
      constexpr size_t kPiece = 0x40000000;
      bool fed = true;
      for (size_t offset = 0; fed && offset < bytes.size(); offset += kPiece) {
        const size_t length = std::min(kPiece, bytes.size() - offset);
        auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + offset));
        fed = Succeeded(BCryptHashData(hash.get(), data, static_cast<ULONG>(length), 0));
      }
      // A hash that could not be fed or finished is no fingerprint: keep the zeros.
      if (!fed || !Succeeded(BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) std::memset(digest, 0, sizeof digest);
    }
  }
  return HexDigest(digest);
}

bool VerifyReleaseSignature(std::string_view signedBytes, std::string_view signature, PublicKeyBytes publicKey) {
  if (signature.size() != kSignatureSize) return false;

  const std::string fingerprint = Sha256Hex(signedBytes);
  unsigned char digest[32];
  for (size_t i = 0; i < sizeof digest; ++i) {
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    digest[i] = static_cast<unsigned char>(nibble(fingerprint[2 * i]) << 4 | nibble(fingerprint[2 * i + 1]));
  }

  UniqueBcryptAlgorithm algorithm;
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;

  unsigned char blob[72];
  std::memcpy(blob, kEcdsaP256PublicMagic, 4);
  std::memcpy(blob + 4, kP256KeyLength, 4);
  std::memcpy(blob + 8, publicKey.data(), publicKey.size());
  UniqueBcryptKey key;
  if (!Succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob, sizeof blob, 0))) {
    return false;
  }

  auto* raw = reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data()));
  // Only success counts: STATUS_INVALID_SIGNATURE and every other status are a refusal.
  return BCryptVerifySignature(key.get(), nullptr, digest, sizeof digest, raw, static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace plovatek
