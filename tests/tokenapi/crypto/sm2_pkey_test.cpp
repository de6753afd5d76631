// The EVP_PKEY operations: SM2 for keys on either SM2 curve, ECDSA (through
// OpenSSL) for every other EC key, the signature-length query and the
// buffer-too-small error, and SM2 encryption refused for non-SM2 keys.
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/err.h>

#include "tests/tokenapi/crypto/sm2_test_support.h"
#include "tokenapi/crypto/sm2/sm2_pkey.h"

namespace merro::crypto {
namespace {

using namespace test;  // NOLINT

int OpenSslEcdsaVerify(EVP_PKEY* pkey, const Bytes& sig, const Bytes& tbs) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
  EXPECT_EQ(1, EVP_PKEY_verify_init(ctx.get()));
  return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), tbs.data(), tbs.size());
}

Bytes Sign(EVP_PKEY* pkey, const Bytes& tbs) {
  Bytes sig(72);
  size_t len = sig.size();
  EXPECT_EQ(1, pkey_ec_sign(pkey, sig.data(), &len, tbs.data(), tbs.size()));
  sig.resize(len);
  return sig;
}

TEST(Sm2Pkey, OtherCurvesStillSignWithEcdsa) {
  const EvpPkeyPtr p256 = MakeP256Key();
  ASSERT_TRUE(p256);
  const Bytes digest(32, 0x5C);
  size_t query = 0;
  ASSERT_EQ(1, pkey_ec_sign(p256.get(), nullptr, &query, digest.data(), digest.size()));
  EXPECT_EQ(72u, query);
  const Bytes sig = Sign(p256.get(), digest);
  EXPECT_EQ(1, OpenSslEcdsaVerify(p256.get(), sig, digest));
  EXPECT_EQ(1, pkey_ec_verify(p256.get(), sig.data(), sig.size(), digest.data(), digest.size()));
  Bytes other = digest;
  other[0] ^= 1;
  EXPECT_NE(1, pkey_ec_verify(p256.get(), sig.data(), sig.size(), other.data(), other.size()));

  // SM2 helpers refuse a key that is not on an SM2 curve.
  Bytes out(200);
  size_t outLen = out.size();
  EXPECT_EQ(-1, pkey_sm2_sign(p256.get(), out.data(), &outLen, digest.data(), digest.size()));
  EXPECT_EQ(-1, pkey_sm2_encrypt(p256.get(), out.data(), &outLen, digest.data(), digest.size()));
}

// On the example curve OpenSSL sees an ordinary EC key, so its verification
// is ECDSA: an SM2 signature holds under SM2 and not under ECDSA.
TEST(Sm2Pkey, SmTwoCurvesSignWithSmTwoNotEcdsa) {
  const Sm2KeyBytes key = RandomKey(Sm2Curve::kTest);
  const EvpPkeyPtr pkey = MakePkey("EC", Sm2Curve::kTest, key);
  ASSERT_TRUE(pkey);
  const Bytes e(32, 0x3A);
  const Bytes sig = Sign(pkey.get(), e);
  EXPECT_EQ(1, pkey_ec_verify(pkey.get(), sig.data(), sig.size(), e.data(), e.size()));
  EXPECT_NE(1, OpenSslEcdsaVerify(pkey.get(), sig, e));
  Bytes other = e;
  other[31] ^= 1;
  EXPECT_EQ(-1, pkey_ec_verify(pkey.get(), sig.data(), sig.size(), other.data(), other.size()));
}

TEST(Sm2Pkey, SignatureLengthQueryAndShortBuffer) {
  for (Sm2Curve curve : {Sm2Curve::kRecommended, Sm2Curve::kTest}) {
    const EvpPkeyPtr pkey = MakePkey(KeyTypeFor(curve), curve, RandomKey(curve));
    const Bytes e(32, 0x11);
    size_t len = 0;
    ASSERT_EQ(1, pkey_ec_sign(pkey.get(), nullptr, &len, e.data(), e.size()));
    EXPECT_EQ(72u, len);
    Bytes sig(71, 0xA5);
    len = sig.size();
    ERR_clear_error();
    EXPECT_EQ(0, pkey_ec_sign(pkey.get(), sig.data(), &len, e.data(), e.size()));
    EXPECT_EQ(ERR_LIB_EC, ERR_GET_LIB(ERR_peek_last_error()));
    EXPECT_EQ(EC_R_BUFFER_TOO_SMALL, ERR_GET_REASON(ERR_peek_last_error()));
    EXPECT_EQ(Bytes(71, 0xA5), sig);
    ERR_clear_error();
  }
}

TEST(Sm2Pkey, EncryptThenDecryptOnBothCurves) {
  for (Sm2Curve curve : {Sm2Curve::kRecommended, Sm2Curve::kTest}) {
    const EvpPkeyPtr pkey = MakePkey(KeyTypeFor(curve), curve, RandomKey(curve));
    const Bytes plain = FromText("twenty bytes of text");
    Bytes der(plain.size() + 120);
    size_t derLen = der.size();
    ASSERT_EQ(1, pkey_sm2_encrypt(pkey.get(), der.data(), &derLen, plain.data(), plain.size()));
    der.resize(derLen);
    Bytes out(plain.size());
    size_t outLen = out.size();
    ASSERT_EQ(1, pkey_sm2_decrypt(pkey.get(), out.data(), &outLen, der.data(), der.size()));
    EXPECT_EQ(20u, outLen);
    EXPECT_EQ(plain, out);
  }
}

}  // namespace
}  // namespace merro::crypto
