// Owning pointers for the OpenSSL objects the simulator's handlers use, and
// big-number helpers. The simulator works on OpenSSL's EVP interfaces only.
#pragma once

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "tokensim/core/command.h"

namespace merro::tokensim {

template <auto kFree>
struct EvpDeleter {
  template <typename T>
  void operator()(T* p) const {
    kFree(p);
  }
};

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpDeleter<EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpDeleter<EVP_PKEY_CTX_free>>;
using EvpCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, EvpDeleter<EVP_CIPHER_CTX_free>>;
using BnPtr = std::unique_ptr<BIGNUM, EvpDeleter<BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, EvpDeleter<BN_CTX_free>>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, EvpDeleter<EC_GROUP_free>>;
using EcPointPtr = std::unique_ptr<EC_POINT, EvpDeleter<EC_POINT_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, EvpDeleter<OSSL_PARAM_BLD_free>>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, EvpDeleter<OSSL_PARAM_free>>;

// A big-endian byte string as a number (null when out of memory).
inline BnPtr BnFromBytes(const std::uint8_t* p, size_t n) {
  return BnPtr(BN_bin2bn(p, static_cast<int>(n), nullptr));
}

// A number parameter of a key as exactly n big-endian bytes at pOut; false
// when the key lacks it or it does not fit.
inline bool KeyParamBytes(const EVP_PKEY* key, const char* name, std::uint8_t* pOut, size_t n) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
    return false;
  }
  const BnPtr bn(raw);
  return BN_bn2binpad(bn.get(), pOut, static_cast<int>(n)) == static_cast<int>(n);
}

// Bytes that hold key material: wiped when they go.
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(size_t n) : m_bytes(n, 0) {}
  SecretBytes(const std::uint8_t* p, size_t n) : m_bytes(p, p + n) {}
  ~SecretBytes() { Wipe(); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  void Wipe() {
    if (!m_bytes.empty()) {
      OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    }
  }
  Bytes& bytes() { return m_bytes; }
  const Bytes& bytes() const { return m_bytes; }
  std::uint8_t* data() { return m_bytes.data(); }
  const std::uint8_t* data() const { return m_bytes.data(); }
  size_t size() const { return m_bytes.size(); }

 private:
  Bytes m_bytes;
};

}  // namespace merro::tokensim
