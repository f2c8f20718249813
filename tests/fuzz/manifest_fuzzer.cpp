// ParseReleaseManifest on any bytes. The first byte chooses: even, the rest is
// signed with the fuzzer's key so the JSON and the rules are reached; odd, its
// last 64 bytes are taken as the signature. Whatever comes in, the result is
// one of the sentences, and an accepted manifest obeys every rule.
#include "install_home.h"
#include "update/release_manifest.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct FuzzKey {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  std::array<unsigned char, 64> publicKey{};
  FuzzKey() {
    unsigned char point[65];
    size_t length = 0;
    if (key == nullptr || EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof point, &length) != 1) {
      std::abort();
    }
    std::copy(point + 1, point + 65, publicKey.begin());
  }

  std::string Sign(const std::string& bytes) const {
    unsigned char digest[32];
    unsigned int digestLength = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &digestLength, EVP_sha256(), nullptr);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    unsigned char der[80];
    size_t derLength = sizeof der;
    if (EVP_PKEY_sign_init(context) != 1 || EVP_PKEY_sign(context, der, &derLength, digest, sizeof digest) != 1) std::abort();
    EVP_PKEY_CTX_free(context);
    const unsigned char* cursor = der;
    ECDSA_SIG* parts = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength));
    std::string raw(64, '\0');
    BN_bn2binpad(ECDSA_SIG_get0_r(parts), reinterpret_cast<unsigned char*>(raw.data()), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(parts), reinterpret_cast<unsigned char*>(raw.data()) + 32, 32);
    ECDSA_SIG_free(parts);
    return raw;
  }
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const FuzzKey key;
  if (size == 0) return 0;
  const bool signedByUs = (data[0] & 1) == 0;
  std::string json(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string signature;
  if (signedByUs) {
    signature = key.Sign(json);
  } else {
    const size_t cut = json.size() >= 64 ? json.size() - 64 : 0;
    signature = json.substr(cut);
    json.resize(cut);
  }

  plovatek::ReleaseManifest manifest;
  std::string error;
  if (plovatek::ParseReleaseManifest(json, signature, key.publicKey, manifest, error)) {
    Check(error.empty());
    Check(plovatek::IsValidVersionName(manifest.version));
    Check(!manifest.files.empty());
    for (const plovatek::ManifestFile& file : manifest.files) {
      Check(plovatek::IsSafeRelativePath(file.path) && plovatek::IsFingerprintText(file.sha256));
    }
    const plovatek::ManifestFile& launcher = manifest.launcher;
    Check(launcher.path.empty() ? launcher.sha256.empty() && launcher.size == 0
                                : plovatek::IsSafeRelativePath(launcher.path) && plovatek::IsFingerprintText(launcher.sha256));
  } else if (signedByUs) {
    const std::string start = plovatek::kManifestNonsenseStart;
    Check(error.rfind(start, 0) == 0 && error.back() == ')');
  } else {
    Check(error == plovatek::kNotSignedSentence);
  }
  return 0;
}
