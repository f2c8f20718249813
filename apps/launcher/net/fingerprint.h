#pragma once
// Fingerprints (SHA-256 as 64 lowercase hex characters) and the release
// signature (ECDSA P-256 over SHA-256, raw 64-byte r||s). One contract, two
// implementations: CNG in the launcher, OpenSSL in native builds.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace plovatek {

// X then Y of a P-256 point, each 32 bytes big-endian.
using PublicKeyBytes = std::span<const unsigned char, 64>;

inline constexpr std::size_t kSignatureSize = 64;
inline constexpr std::size_t kFingerprintLength = 64;

// The fingerprint of bytes; 64 '0' when the hash cannot be made (matches nothing).
std::string Sha256Hex(std::string_view bytes);

// True when the built-in release key is not all zero.
bool ReleaseKeyIsSet();
bool PublicKeyIsSet(PublicKeyBytes publicKey);

// True only for a valid 64-byte r||s signature of signedBytes under publicKey;
// every failure is plain false. A signature of another length is refused
// before any cryptographic call.
bool VerifyReleaseSignature(std::string_view signedBytes, std::string_view signature, PublicKeyBytes publicKey);

// Bytes as lowercase hex, two characters each, high nibble first.
std::string LowerHex(std::span<const unsigned char> bytes);
// 32 digest bytes as 64 lowercase hex characters.
std::string HexDigest(const unsigned char (&digest)[32]);

}  // namespace plovatek
