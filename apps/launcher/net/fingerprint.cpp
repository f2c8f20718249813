#include "net/fingerprint.h"

#include "net/release_key.h"

namespace plovatek {

std::string LowerHex(std::span<const unsigned char> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::string HexDigest(const unsigned char (&digest)[32]) { return LowerHex(digest); }

bool PublicKeyIsSet(PublicKeyBytes publicKey) {
  for (const unsigned char byte : publicKey) {
    if (byte != 0) return true;
  }
  return false;
}

bool ReleaseKeyIsSet() { return PublicKeyIsSet(ReleasePublicKey); }

}  // namespace plovatek
