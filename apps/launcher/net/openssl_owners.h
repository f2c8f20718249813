#pragma once
// Owners for OpenSSL objects in native builds: each frees with its own call.

#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>

namespace plovatek {

template <auto Free>
struct OpenSslDeleter {
  template <typename T>
  void operator()(T* p) const noexcept { Free(p); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using PkeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OpenSslDeleter<ECDSA_SIG_free>>;

}  // namespace plovatek
