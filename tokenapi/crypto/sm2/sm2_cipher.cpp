#include "tokenapi/crypto/sm2/sm2_cipher.h"

#include <openssl/crypto.h>

#include <cstring>
#include <limits>

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/common/secret_buffer.h"
#include "tokenapi/crypto/sm2/sm2_kdf.h"
#include "tokenapi/crypto/sm2/sm2_nonce.h"
#include "tokenapi/crypto/sm3/sm3.h"

namespace merro::crypto {
namespace {

// An all-zero key stream (probability 2^-8len) makes encryption draw a new k;
// many in a row mean a broken generator.
constexpr int kMaxEncryptAttempts = 64;

// The largest plaintext whose bit length the KDF can take and whose
// ciphertext length fits a size_t.
constexpr size_t kMaxPlaintext = std::numeric_limits<size_t>::max() / 8 - kSm2CipherOverhead;

// Fails for the point at infinity or a point whose multiple by the cofactor
// is the point at infinity (GB/T 32918.4, 6.1 step A3 / 7.1 step B2). Both
// SM2 curves have cofactor 1, where hP is P itself.
bool CofactorMultipleIsFinite(const EC_GROUP* group, const EC_POINT* point, BN_CTX* ctx) {
  const BIGNUM* h = EC_GROUP_get0_cofactor(group);
  if (h == nullptr) {
    return false;
  }
  if (BN_is_one(h)) {
    return EC_POINT_is_at_infinity(group, point) == 0;
  }
  EcPointPtr S(EC_POINT_new(group));
  return S && EC_POINT_mul(group, S.get(), nullptr, point, h, ctx) &&
         EC_POINT_is_at_infinity(group, S.get()) == 0;
}

// x2 || y2 of scalar * point, 32 bytes each.
bool SharedPoint(const EC_GROUP* group, const EC_POINT* point, const BIGNUM* scalar, BN_CTX* ctx,
                 std::uint8_t x2y2[kSm2KdfInputBytes]) {
  SecretEcPointPtr Q(EC_POINT_new(group));
  SecretBnPtr x2 = NewSecretBn(), y2 = NewSecretBn();
  return Q && x2 && y2 && EC_POINT_mul(group, Q.get(), nullptr, point, scalar, ctx) &&
         EC_POINT_get_affine_coordinates(group, Q.get(), x2.get(), y2.get(), ctx) &&
         SM2_BN2Bytes(x2.get(), x2y2) && SM2_BN2Bytes(y2.get(), x2y2 + kSm2FieldBytes);
}

// C3 = SM3(x2 || M || y2).
void ComputeC3(const std::uint8_t x2y2[kSm2KdfInputBytes], const std::uint8_t* msg, size_t len,
               std::uint8_t c3[kSm2C3Bytes]) {
  SM3_CTX sm3;
  SM3_Init(&sm3);
  SM3_Update(&sm3, x2y2, kSm2FieldBytes);
  SM3_Update(&sm3, msg, len);
  SM3_Update(&sm3, x2y2 + kSm2FieldBytes, kSm2FieldBytes);
  SM3_FinalDigest(&sm3, c3);
  OPENSSL_cleanse(&sm3, sizeof(sm3));
}

// The key stream t = KDF(x2 || y2, 8 * len); false when it is all zero.
bool KeyStream(const std::uint8_t x2y2[kSm2KdfInputBytes], SecretBuffer& t) {
  return SM2_KDF(x2y2, t.data(), t.size() * 8) && !SM2_IsAllZero(t.data(), t.size());
}

}  // namespace

int SM2_encrypt(const std::uint8_t* in, size_t len, const BIGNUM* x, const BIGNUM* y,
                std::uint8_t* out, size_t outSize, Sm2Curve curve) {
  const EC_GROUP* group = SM2_Group(curve);
  // An empty plaintext has an empty (all-zero) key stream: refuse it.
  if (group == nullptr || in == nullptr || out == nullptr || len == 0 || len > kMaxPlaintext ||
      outSize < len + kSm2CipherOverhead) {
    return 0;
  }
  BnCtxPtr ctx(BN_CTX_secure_new());
  if (!ctx) {
    return 0;
  }
  const EcPointPtr P = SM2_PointFromAffine(group, x, y, ctx.get());
  if (!P || !CofactorMultipleIsFinite(group, P.get(), ctx.get())) {
    return 0;
  }
  SecretBnPtr k = NewSecretBn();
  BnPtr x1(BN_new()), y1(BN_new());
  EcPointPtr C1(EC_POINT_new(group));
  SecretBuffer t(len);
  std::uint8_t x2y2[kSm2KdfInputBytes];
  int ok = 0;
  if (k && x1 && y1 && C1 && t.ok()) {
    for (int attempt = 0; attempt < kMaxEncryptAttempts && !ok; ++attempt) {
      if (!SM2_DrawScalar(k.get(), EC_GROUP_get0_order(group), ctx.get()) ||
          !EC_POINT_mul(group, C1.get(), k.get(), nullptr, nullptr, ctx.get()) ||
          !EC_POINT_get_affine_coordinates(group, C1.get(), x1.get(), y1.get(), ctx.get()) ||
          !SharedPoint(group, P.get(), k.get(), ctx.get(), x2y2)) {
        break;
      }
      ok = KeyStream(x2y2, t) ? 1 : 0;
    }
  }
  if (ok) {
    ok = SM2_BN2Bytes(x1.get(), out + 1) && SM2_BN2Bytes(y1.get(), out + 1 + kSm2FieldBytes);
  }
  if (ok) {
    out[0] = 0x04;
    std::uint8_t* c2 = out + kSm2C1Bytes;
    for (size_t i = 0; i < len; ++i) {
      c2[i] = in[i] ^ t.data()[i];
    }
    ComputeC3(x2y2, in, len, c2 + len);
  }
  OPENSSL_cleanse(x2y2, sizeof(x2y2));
  return ok;
}

int SM2_decrypt(const std::uint8_t* in, size_t inLen, const BIGNUM* d, std::uint8_t* out,
                size_t outSize, Sm2Curve curve) {
  const EC_GROUP* group = SM2_Group(curve);
  // The length comes first: C1, C2 (at least one byte) and C3 must be there
  // before any of them is read.
  if (group == nullptr || in == nullptr || inLen < kSm2CipherOverhead + 1 || d == nullptr ||
      BN_is_zero(d) || BN_is_negative(d) || out == nullptr) {
    return 0;
  }
  const size_t m = inLen - kSm2CipherOverhead;
  if (m > kMaxPlaintext || outSize < m || in[0] != 0x04) {
    return 0;
  }
  BnCtxPtr ctx(BN_CTX_secure_new());
  BnPtr x1(BN_new()), y1(BN_new());
  if (!ctx || !x1 || !y1 || !SM2_Bytes2BN(in + 1, x1.get()) ||
      !SM2_Bytes2BN(in + 1 + kSm2FieldBytes, y1.get())) {
    return 0;
  }
  const EcPointPtr C1 = SM2_PointFromAffine(group, x1.get(), y1.get(), ctx.get());
  if (!C1 || !CofactorMultipleIsFinite(group, C1.get(), ctx.get())) {
    return 0;
  }
  SecretBnPtr dd = NewSecretBn();
  SecretBuffer plain(m);
  std::uint8_t x2y2[kSm2KdfInputBytes];
  std::uint8_t u[kSm2C3Bytes];
  int ok = dd && plain.ok() && BN_copy(dd.get(), d) &&
           SharedPoint(group, C1.get(), dd.get(), ctx.get(), x2y2) && KeyStream(x2y2, plain);
  if (ok) {
    // M' = C2 xor t, in the scratch buffer; it reaches the caller only after
    // C3 has been checked, in constant time.
    const std::uint8_t* c2 = in + kSm2C1Bytes;
    for (size_t i = 0; i < m; ++i) {
      plain.data()[i] ^= c2[i];
    }
    ComputeC3(x2y2, plain.data(), m, u);
    ok = CRYPTO_memcmp(u, c2 + m, kSm2C3Bytes) == 0 ? 1 : 0;
  }
  if (ok) {
    std::memcpy(out, plain.data(), m);
  }
  OPENSSL_cleanse(x2y2, sizeof(x2y2));
  OPENSSL_cleanse(u, sizeof(u));
  return ok;
}

}  // namespace merro::crypto
