#include "signing.h"

#include "net/fingerprint.h"
#include "net/openssl_owners.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>

namespace plovatek::release {
namespace {

using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO_free_all>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX_free>>;

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

struct PrivateKey::Key {
  EVP_PKEY* pkey = nullptr;
  ~Key() { EVP_PKEY_free(pkey); }
};

PrivateKey::PrivateKey() : key_(std::make_unique<Key>()) {}
PrivateKey::~PrivateKey() = default;
PrivateKey::PrivateKey(PrivateKey&&) noexcept = default;
PrivateKey& PrivateKey::operator=(PrivateKey&&) noexcept = default;

bool PrivateKey::Generate(std::string& error) {
  EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (pkey == nullptr) {
    error = "OpenSSL could not make a P-256 key (" + OpenSslReason() + ")";
    return false;
  }
  EVP_PKEY_free(key_->pkey);
  key_->pkey = pkey;
  return true;
}

bool PrivateKey::Load(const std::filesystem::path& file, std::string& error) {
  const BioPtr bio(BIO_new_file(file.c_str(), "rb"));
  if (!bio) {
    error = "Couldn't read the private key " + file.string() + " (" + std::strerror(errno) + ")";
    ERR_clear_error();
    return false;
  }
  EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
  if (pkey == nullptr) {
    error = file.string() + " holds no private key in PEM form (" + OpenSslReason() + ")";
    return false;
  }
  char group[64] = {};
  size_t groupLength = 0;
  if (!EVP_PKEY_is_a(pkey, "EC") ||
      EVP_PKEY_get_utf8_string_param(pkey, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &groupLength) != 1 ||
      std::strcmp(group, "prime256v1") != 0) {
    EVP_PKEY_free(pkey);
    ERR_clear_error();
    error = file.string() + " is not a P-256 (prime256v1) private key";
    return false;
  }
  EVP_PKEY_free(key_->pkey);
  key_->pkey = pkey;
  return true;
}

bool PrivateKey::ToPem(std::string& pem, std::string& error) const {
  const BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey_traditional(bio.get(), key_->pkey, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = "OpenSSL could not write the private key (" + OpenSslReason() + ")";
    return false;
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  pem.assign(data, static_cast<size_t>(length));
  return true;
}

PublicKey PrivateKey::Public() const {
  PublicKey key{};
  unsigned char point[65];
  size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key_->pkey, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point, &length) == 1 &&
      length == 65 && point[0] == 0x04) {
    std::memcpy(key.data(), point + 1, 64);
  }
  return key;
}

std::string PrivateKey::Sign(std::string_view bytes) const {
  const DigestContextPtr context(EVP_MD_CTX_new());
  unsigned char der[80];
  size_t derLength = sizeof der;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_->pkey) != 1 ||
      EVP_DigestSign(context.get(), der, &derLength, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
    ERR_clear_error();
    return {};
  }
  // OpenSSL signs in DER; the launcher takes r and s as two 32-byte big-endian numbers.
  const unsigned char* cursor = der;
  const EcdsaSigPtr parts(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength)));
  std::string raw(64, '\0');
  auto* out = reinterpret_cast<unsigned char*>(raw.data());
  if (!parts || BN_bn2binpad(ECDSA_SIG_get0_r(parts.get()), out, 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(parts.get()), out + 32, 32) != 32) {
    ERR_clear_error();
    return {};
  }
  return raw;
}

std::string PublicKeyHex(const PublicKey& key) { return LowerHex(key); }

bool PublicKeyFromHex(std::string_view hex, PublicKey& key) {
  if (hex.size() != 2 * key.size()) return false;
  const auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < key.size(); ++i) {
    const int high = nibble(hex[2 * i]);
    const int low = nibble(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    key[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

}  // namespace plovatek::release
