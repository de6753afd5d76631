#include "tests/provider/support/rsa_blob_oracle.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
#include <stdexcept>

namespace merro::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct BnFree {
  void operator()(BIGNUM* p) const { BN_clear_free(p); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

BnPtr Param(EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) {
    throw std::runtime_error(std::string("no RSA parameter ") + name);
  }
  return BnPtr(bn);
}

Bytes LittleEndian(const BIGNUM* bn, size_t length) {
  Bytes out(length);
  BN_bn2lebinpad(bn, out.data(), static_cast<int>(length));
  return out;
}

Bytes BigEndian(const BIGNUM* bn, size_t length) {
  Bytes out(length);
  BN_bn2binpad(bn, out.data(), static_cast<int>(length));
  return out;
}

}  // namespace

RsaBlobKey GenerateRsaBlobKey(int bits) {
  const std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
      EVP_RSA_gen(static_cast<unsigned>(bits)), EVP_PKEY_free);
  if (!key) {
    throw std::runtime_error("EVP_RSA_gen failed");
  }
  const size_t m = static_cast<size_t>(bits) / 8;
  const size_t h = m / 2;
  RsaBlobKey out;
  const BnPtr n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N);
  const BnPtr e = Param(key.get(), OSSL_PKEY_PARAM_RSA_E);
  const BnPtr d = Param(key.get(), OSSL_PKEY_PARAM_RSA_D);
  const struct {
    const char* name;
    size_t length;
  } parts[] = {
      {OSSL_PKEY_PARAM_RSA_N, m},
      {OSSL_PKEY_PARAM_RSA_FACTOR1, h},
      {OSSL_PKEY_PARAM_RSA_FACTOR2, h},
      {OSSL_PKEY_PARAM_RSA_EXPONENT1, h},
      {OSSL_PKEY_PARAM_RSA_EXPONENT2, h},
      {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h},
      {OSSL_PKEY_PARAM_RSA_D, m},
  };
  for (const auto& part : parts) {
    const Bytes bytes = LittleEndian(Param(key.get(), part.name).get(), part.length);
    out.body.insert(out.body.end(), bytes.begin(), bytes.end());
  }
  out.n = BigEndian(n.get(), m);
  out.e = BigEndian(e.get(), static_cast<size_t>(BN_num_bytes(e.get())));
  out.d = BigEndian(d.get(), m);
  return out;
}

}  // namespace merro::testing
