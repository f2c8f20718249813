// Fingerprints and the release signature on OpenSSL, for native builds (the
// release tool, the native tests and the fuzzers). Same contract as the CNG one.
#include "net/fingerprint.h"
#include "net/openssl_owners.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>
#include <memory>

namespace plovatek {
namespace {

using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslDeleter<OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, OpenSslDeleter<OSSL_PARAM_free>>;
void FreeOpenSslBytes(unsigned char* p) noexcept { OPENSSL_free(p); }
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslDeleter<FreeOpenSslBytes>>;

bool Sha256(std::string_view bytes, unsigned char (&digest)[32]) {
  unsigned int length = 0;
  return EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) == 1 && length == 32;
}

PkeyPtr ImportPublicKey(PublicKeyBytes publicKey) {
  unsigned char point[65];
  point[0] = 0x04;  // uncompressed
  std::memcpy(point + 1, publicKey.data(), publicKey.size());
  ParamBuildPtr build(OSSL_PARAM_BLD_new());
  if (!build || !OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point)) {
    return nullptr;
  }
  ParamsPtr params(OSSL_PARAM_BLD_to_param(build.get()));
  PkeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
  EVP_PKEY* key = nullptr;
  // Refuses a point that is not on the curve.
  if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
  return PkeyPtr(key);
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[32] = {};
  if (!Sha256(bytes, digest)) std::memset(digest, 0, sizeof digest);
  return HexDigest(digest);
}

bool VerifyReleaseSignature(std::string_view signedBytes, std::string_view signature, PublicKeyBytes publicKey) {
  if (signature.size() != kSignatureSize) return false;
  unsigned char digest[32];
  if (!Sha256(signedBytes, digest)) return false;
  PkeyPtr key = ImportPublicKey(publicKey);
  if (!key) return false;

  // OpenSSL verifies DER; r and s are re-encoded from the raw form. Values out
  // of range (zero, at or above the group order) are refused by the verify.
  const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
  EcdsaSigPtr parts(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw, 32, nullptr);
  BIGNUM* s = BN_bin2bn(raw + 32, 32, nullptr);
  if (!parts || !r || !s || ECDSA_SIG_set0(parts.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(parts.get(), &der);
  if (derLength <= 0) return false;
  const OpenSslBytesPtr derOwner(der);

  PkeyContextPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!context || EVP_PKEY_verify_init(context.get()) != 1) return false;
  return EVP_PKEY_verify(context.get(), der, static_cast<size_t>(derLength), digest, sizeof digest) == 1;
}

}  // namespace plovatek
