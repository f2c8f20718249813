#include "test_signer.h"

#include "net/fingerprint.h"

#include <algorithm>
#include <stdexcept>

#ifdef _WIN32
#include "win/unique_handle.h"
#else
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#endif

namespace plovatek {
namespace {

std::string DigestOf(std::string_view bytes) {
  const std::string hex = Sha256Hex(bytes);
  std::string digest;
  for (size_t i = 0; i < hex.size(); i += 2) digest += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return digest;
}

}  // namespace

std::string TestSigner::ToDer(std::string_view raw) {
  const auto integer = [](std::string_view bytes) {
    while (bytes.size() > 1 && bytes.front() == '\0') bytes.remove_prefix(1);
    std::string out(bytes);
    if (static_cast<unsigned char>(out.front()) & 0x80) out.insert(out.begin(), '\0');
    return std::string{'\x02', static_cast<char>(out.size())} + out;
  };
  const std::string body = integer(raw.substr(0, 32)) + integer(raw.substr(32, 32));
  return std::string{'\x30', static_cast<char>(body.size())} + body;
}

#ifdef _WIN32

struct TestSigner::Key {
  UniqueBcryptAlgorithm algorithm;
  UniqueBcryptKey key;
};

TestSigner::TestSigner() : key_(std::make_unique<Key>()) {
  if (BCryptOpenAlgorithmProvider(key_->algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0 ||
      BCryptGenerateKeyPair(key_->algorithm.get(), key_->key.put(), 256, 0) != 0 ||
      BCryptFinalizeKeyPair(key_->key.get(), 0) != 0) {
    throw std::runtime_error("no CNG key pair");
  }
  unsigned char blob[72];
  ULONG length = 0;
  if (BCryptExportKey(key_->key.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &length, 0) != 0 || length != 72) {
    throw std::runtime_error("no CNG public key");
  }
  std::copy(blob + 8, blob + 72, publicKey_.begin());
}

TestSigner::~TestSigner() = default;

std::string TestSigner::Sign(std::string_view bytes) const {
  std::string digest = DigestOf(bytes);
  std::string signature(64, '\0');
  ULONG length = 0;
  if (BCryptSignHash(key_->key.get(), nullptr, reinterpret_cast<PUCHAR>(digest.data()), 32,
                     reinterpret_cast<PUCHAR>(signature.data()), 64, &length, 0) != 0 ||
      length != 64) {
    throw std::runtime_error("CNG could not sign");
  }
  return signature;
}

#else

struct TestSigner::Key {
  EVP_PKEY* key = nullptr;
  ~Key() { EVP_PKEY_free(key); }
};

TestSigner::TestSigner() : key_(std::make_unique<Key>()) {
  key_->key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  unsigned char point[65];
  size_t length = 0;
  if (key_->key == nullptr ||
      EVP_PKEY_get_octet_string_param(key_->key, "encoded-pub-key", point, sizeof point, &length) != 1 || length != 65) {
    throw std::runtime_error("no OpenSSL key pair");
  }
  std::copy(point + 1, point + 65, publicKey_.begin());
}

TestSigner::~TestSigner() = default;

std::string TestSigner::Sign(std::string_view bytes) const {
  const std::string digest = DigestOf(bytes);
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key_->key, nullptr);
  unsigned char der[80];
  size_t derLength = sizeof der;
  const bool signedOk = context != nullptr && EVP_PKEY_sign_init(context) == 1 &&
                        EVP_PKEY_sign(context, der, &derLength, reinterpret_cast<const unsigned char*>(digest.data()),
                                      digest.size()) == 1;
  EVP_PKEY_CTX_free(context);
  if (!signedOk) throw std::runtime_error("OpenSSL could not sign");
  const unsigned char* cursor = der;
  ECDSA_SIG* parts = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength));
  if (parts == nullptr) throw std::runtime_error("OpenSSL signature unreadable");
  std::string signature(64, '\0');
  BN_bn2binpad(ECDSA_SIG_get0_r(parts), reinterpret_cast<unsigned char*>(signature.data()), 32);
  BN_bn2binpad(ECDSA_SIG_get0_s(parts), reinterpret_cast<unsigned char*>(signature.data()) + 32, 32);
  ECDSA_SIG_free(parts);
  return signature;
}

#endif

}  // namespace plovatek
