#include "tokenapi/crypto/sm2/sm2_sign.h"

#include <algorithm>

#include "tokenapi/crypto/sm2/sm2_nonce.h"

namespace merro::crypto {
namespace {

// Draws of k that give r = 0, r + k = n or s = 0 are retried; each has a
// probability of about 2^-256, so many in a row mean a broken generator.
constexpr int kMaxSignAttempts = 64;

// x of the point k*G.
bool BaseMulX(const EC_GROUP* group, const BIGNUM* k, BIGNUM* x, BN_CTX* ctx) {
  SecretEcPointPtr point(EC_POINT_new(group));
  return point && EC_POINT_mul(group, point.get(), k, nullptr, nullptr, ctx) &&
         EC_POINT_get_affine_coordinates(group, point.get(), x, nullptr, ctx);
}

}  // namespace

EcdsaSigPtr SM2_sign(const BIGNUM* e, const BIGNUM* d, Sm2Curve curve) {
  const EC_GROUP* group = SM2_Group(curve);
  if (group == nullptr || e == nullptr || d == nullptr || BN_is_negative(e)) {
    return nullptr;
  }
  const BIGNUM* n = EC_GROUP_get0_order(group);
  BnCtxPtr ctx(BN_CTX_secure_new());
  BnPtr nMinus1(BN_dup(n)), nMinus2(BN_new()), x1(BN_new()), r(BN_new()), s(BN_new());
  SecretBnPtr k = NewSecretBn(), inv = NewSecretBn(), tmp = NewSecretBn(), dd = NewSecretBn();
  if (!ctx || !nMinus1 || !nMinus2 || !x1 || !r || !s || !k || !inv || !tmp || !dd ||
      !BN_sub_word(nMinus1.get(), 1) || !BN_sub(nMinus2.get(), nMinus1.get(), BN_value_one()) ||
      !BN_copy(dd.get(), d)) {
    return nullptr;
  }
  // d = n - 1 would make 1 + d non-invertible (GB/T 32918.1, 6.1).
  if (BN_is_zero(dd.get()) || BN_is_negative(dd.get()) || BN_cmp(dd.get(), nMinus1.get()) >= 0) {
    return nullptr;
  }
  // (1 + d)^-1 mod n, as (1 + d)^(n-2) by Fermat, in constant time.
  if (!BN_add(tmp.get(), dd.get(), BN_value_one()) ||
      !BN_mod_exp_mont_consttime(inv.get(), tmp.get(), nMinus2.get(), n, ctx.get(), nullptr)) {
    return nullptr;
  }
  for (int attempt = 0; attempt < kMaxSignAttempts; ++attempt) {
    if (!SM2_DrawScalar(k.get(), n, ctx.get()) || !BaseMulX(group, k.get(), x1.get(), ctx.get()) ||
        !BN_mod_add(r.get(), e, x1.get(), n, ctx.get())) {
      return nullptr;
    }
    if (BN_is_zero(r.get())) {
      continue;
    }
    if (!BN_add(tmp.get(), r.get(), k.get())) {
      return nullptr;
    }
    if (BN_cmp(tmp.get(), n) == 0) {
      continue;
    }
    // s = (1 + d)^-1 * (k - r*d) mod n
    if (!BN_mod_mul(tmp.get(), r.get(), dd.get(), n, ctx.get()) ||
        !BN_mod_sub(tmp.get(), k.get(), tmp.get(), n, ctx.get()) ||
        !BN_mod_mul(s.get(), inv.get(), tmp.get(), n, ctx.get())) {
      return nullptr;
    }
    if (BN_is_zero(s.get())) {
      continue;
    }
    EcdsaSigPtr sig(ECDSA_SIG_new());
    if (!sig || !ECDSA_SIG_set0(sig.get(), r.get(), s.get())) {
      return nullptr;
    }
    r.release();  // now owned by sig
    s.release();
    return sig;
  }
  return nullptr;
}

int SM2_sign_ex(const std::uint8_t e[kSm2DigestBytes], const std::uint8_t d[kSm2FieldBytes],
                std::uint8_t r[kSm2FieldBytes], std::uint8_t s[kSm2FieldBytes], Sm2Curve curve) {
  if (e == nullptr || d == nullptr || r == nullptr || s == nullptr) {
    return 0;
  }
  BnPtr eBn(BN_new());
  SecretBnPtr dBn = NewSecretBn();
  if (!eBn || !dBn || !SM2_Bytes2BN(e, eBn.get()) || !SM2_Bytes2BN(d, dBn.get())) {
    return 0;
  }
  const EcdsaSigPtr sig = SM2_sign(eBn.get(), dBn.get(), curve);
  if (!sig) {
    return 0;
  }
  std::uint8_t rBytes[kSm2FieldBytes], sBytes[kSm2FieldBytes];
  if (!SM2_BN2Bytes(ECDSA_SIG_get0_r(sig.get()), rBytes) ||
      !SM2_BN2Bytes(ECDSA_SIG_get0_s(sig.get()), sBytes)) {
    return 0;
  }
  std::copy(rBytes, rBytes + kSm2FieldBytes, r);
  std::copy(sBytes, sBytes + kSm2FieldBytes, s);
  return 1;
}

int SM2_verify(const ECDSA_SIG* sig, const BIGNUM* x, const BIGNUM* y, const BIGNUM* e,
               Sm2Curve curve) {
  const EC_GROUP* group = SM2_Group(curve);
  if (group == nullptr || sig == nullptr || e == nullptr || BN_is_negative(e)) {
    return 0;
  }
  const BIGNUM* r = ECDSA_SIG_get0_r(sig);
  const BIGNUM* s = ECDSA_SIG_get0_s(sig);
  const BIGNUM* n = EC_GROUP_get0_order(group);
  // r and s in [1, n - 1].
  if (r == nullptr || s == nullptr || BN_is_zero(r) || BN_is_zero(s) || BN_is_negative(r) ||
      BN_is_negative(s) || BN_cmp(r, n) >= 0 || BN_cmp(s, n) >= 0) {
    return 0;
  }
  BnCtxPtr ctx(BN_CTX_new());
  BnPtr t(BN_new()), x1(BN_new()), check(BN_new());
  if (!ctx || !t || !x1 || !check || !BN_mod_add(t.get(), r, s, n, ctx.get()) ||
      BN_is_zero(t.get())) {
    return 0;
  }
  const EcPointPtr P = SM2_PointFromAffine(group, x, y, ctx.get());
  EcPointPtr R(EC_POINT_new(group));
  // (x1, y1) = s*G + t*P; the point at infinity has no affine x and fails.
  if (!P || !R || !EC_POINT_mul(group, R.get(), s, P.get(), t.get(), ctx.get()) ||
      !EC_POINT_get_affine_coordinates(group, R.get(), x1.get(), nullptr, ctx.get()) ||
      !BN_mod_add(check.get(), e, x1.get(), n, ctx.get())) {
    return 0;
  }
  return BN_cmp(check.get(), r) == 0 ? 1 : 0;
}

int SM2_verify_ex(const std::uint8_t r[kSm2FieldBytes], const std::uint8_t s[kSm2FieldBytes],
                  const std::uint8_t x[kSm2FieldBytes], const std::uint8_t y[kSm2FieldBytes],
                  const std::uint8_t e[kSm2DigestBytes], Sm2Curve curve) {
  if (r == nullptr || s == nullptr || x == nullptr || y == nullptr || e == nullptr) {
    return 0;
  }
  BnPtr rBn(BN_new()), sBn(BN_new()), xBn(BN_new()), yBn(BN_new()), eBn(BN_new());
  EcdsaSigPtr sig(ECDSA_SIG_new());
  if (!rBn || !sBn || !xBn || !yBn || !eBn || !sig || !SM2_Bytes2BN(r, rBn.get()) ||
      !SM2_Bytes2BN(s, sBn.get()) || !SM2_Bytes2BN(x, xBn.get()) || !SM2_Bytes2BN(y, yBn.get()) ||
      !SM2_Bytes2BN(e, eBn.get()) || !ECDSA_SIG_set0(sig.get(), rBn.get(), sBn.get())) {
    return 0;
  }
  rBn.release();  // now owned by sig
  sBn.release();
  return SM2_verify(sig.get(), xBn.get(), yBn.get(), eBn.get(), curve);
}

}  // namespace merro::crypto
