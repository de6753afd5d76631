#include "tests/device/support/key_material.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>

#include <memory>

namespace merro::testing {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct BnFree {
  void operator()(BIGNUM* p) const { BN_clear_free(p); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

// A parameter of the key, `width` bytes with leading zeros, or its own
// length when width is 0.
KeyBytes Param(EVP_PKEY* key, const char* name, int width) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
    return {};
  }
  const BnPtr bn(raw);
  KeyBytes out(width != 0 ? width : BN_num_bytes(bn.get()));
  BN_bn2binpad(bn.get(), out.data(), static_cast<int>(out.size()));
  return out;
}

}  // namespace

RsaKeyParts GenerateRsaKeyParts(int bits) {
  const std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_RSA_gen(static_cast<unsigned>(bits)));
  if (!key) {
    return {};
  }
  return {Param(key.get(), OSSL_PKEY_PARAM_RSA_N, bits / 8), Param(key.get(), OSSL_PKEY_PARAM_RSA_E, 0),
          Param(key.get(), OSSL_PKEY_PARAM_RSA_D, 0)};
}

Sm2KeyParts GenerateSm2KeyParts() {
  const std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
  if (!key) {
    return {};
  }
  Sm2KeyParts parts;
  parts.xy = Param(key.get(), OSSL_PKEY_PARAM_EC_PUB_X, 32);
  const KeyBytes y = Param(key.get(), OSSL_PKEY_PARAM_EC_PUB_Y, 32);
  parts.xy.insert(parts.xy.end(), y.begin(), y.end());
  parts.d = Param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  return parts;
}

bool IsSm2CurvePoint(const KeyBytes& xy) {
  if (xy.size() != 64) {
    return false;
  }
  const std::unique_ptr<EC_GROUP, void (*)(EC_GROUP*)> group(EC_GROUP_new_by_curve_name(NID_sm2),
                                                             &EC_GROUP_free);
  if (!group) {
    return false;
  }
  const std::unique_ptr<EC_POINT, void (*)(EC_POINT*)> point(EC_POINT_new(group.get()),
                                                             &EC_POINT_free);
  const BnPtr x(BN_bin2bn(xy.data(), 32, nullptr));
  const BnPtr y(BN_bin2bn(xy.data() + 32, 32, nullptr));
  // Setting the coordinates refuses a point off the curve; ask again anyway.
  return point && x && y &&
         EC_POINT_set_affine_coordinates(group.get(), point.get(), x.get(), y.get(), nullptr) == 1 &&
         EC_POINT_is_on_curve(group.get(), point.get(), nullptr) == 1;
}

}  // namespace merro::testing
