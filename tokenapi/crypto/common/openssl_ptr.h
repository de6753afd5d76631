// Owning pointers for OpenSSL objects: each frees its object with the
// matching OpenSSL function (the "secret" forms wipe before freeing).
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>

#include <memory>

namespace merro::crypto {

template <auto kFree>
struct OpenSslDeleter {
  template <typename T>
  void operator()(T* p) const {
    kFree(p);
  }
};

using BnPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_free>>;
using SecretBnPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, OpenSslDeleter<BN_CTX_free>>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, OpenSslDeleter<EC_GROUP_free>>;
using EcPointPtr = std::unique_ptr<EC_POINT, OpenSslDeleter<EC_POINT_free>>;
using SecretEcPointPtr = std::unique_ptr<EC_POINT, OpenSslDeleter<EC_POINT_clear_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OpenSslDeleter<ECDSA_SIG_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX_free>>;
using OsslParamPtr = std::unique_ptr<OSSL_PARAM, OpenSslDeleter<OSSL_PARAM_free>>;
using OsslParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslDeleter<OSSL_PARAM_BLD_free>>;

// A BIGNUM that holds a secret (private scalar, nonce): constant-time
// arithmetic and wiped when freed.
inline SecretBnPtr NewSecretBn() {
  SecretBnPtr bn(BN_secure_new());
  if (bn) {
    BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
  }
  return bn;
}

}  // namespace merro::crypto
