#include "tokenapi/crypto/sm2/sm2_keygen.h"

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/sm2/sm2_nonce.h"

namespace merro::crypto {

int SM2_generate_key(BIGNUM* d, BIGNUM* x, BIGNUM* y, Sm2Curve curve) {
  const EC_GROUP* group = SM2_Group(curve);
  if (group == nullptr || d == nullptr || x == nullptr || y == nullptr) {
    return 0;
  }
  BnCtxPtr ctx(BN_CTX_secure_new());
  BnPtr range(BN_dup(EC_GROUP_get0_order(group)));
  SecretBnPtr priv = NewSecretBn();
  SecretEcPointPtr P(EC_POINT_new(group));
  // A draw in [1, n - 2] is a draw in [1, n - 1) of the range n - 1.
  if (!ctx || !range || !priv || !P || !BN_sub_word(range.get(), 1) ||
      !SM2_DrawScalar(priv.get(), range.get(), ctx.get()) ||
      !EC_POINT_mul(group, P.get(), priv.get(), nullptr, nullptr, ctx.get()) ||
      !EC_POINT_get_affine_coordinates(group, P.get(), x, y, ctx.get()) ||
      !BN_copy(d, priv.get())) {
    return 0;
  }
  return 1;
}

int SM2_generate_keypair(std::uint8_t d[kSm2FieldBytes], std::uint8_t x[kSm2FieldBytes],
                         std::uint8_t y[kSm2FieldBytes], Sm2Curve curve) {
  SecretBnPtr dBn = NewSecretBn();
  BnPtr xBn(BN_new()), yBn(BN_new());
  return dBn && xBn && yBn && SM2_generate_key(dBn.get(), xBn.get(), yBn.get(), curve) &&
                 SM2_BN2Bytes(dBn.get(), d) && SM2_BN2Bytes(xBn.get(), x) &&
                 SM2_BN2Bytes(yBn.get(), y)
             ? 1
             : 0;
}

}  // namespace merro::crypto
