#include "net/fingerprint.h"

#include "net/release_key.h"

namespace plovatek {

std::string HexDigest(const unsigned char (&digest)[32]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(kFingerprintLength);
  for (const unsigned char byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

bool PublicKeyIsSet(PublicKeyBytes publicKey) {
  for (const unsigned char byte : publicKey) {
    if (byte != 0) return true;
  }
  return false;
}

bool ReleaseKeyIsSet() { return PublicKeyIsSet(ReleasePublicKey); }

}  // namespace plovatek
