#pragma once

namespace plovatek {

// X then Y of the P-256 release public key, big-endian; all zero when the
// launcher was built before a release key existed.
extern const unsigned char ReleasePublicKey[64];

}  // namespace plovatek
