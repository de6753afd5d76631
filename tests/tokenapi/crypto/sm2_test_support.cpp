#include "tests/tokenapi/crypto/sm2_test_support.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>

#include "tokenapi/crypto/sm2/sm2_asn1.h"
#include "tokenapi/crypto/sm2/sm2_keygen.h"
#include "tokenapi/crypto/sm2/sm2_z.h"
#include "tokenapi/crypto/sm3/sm3.h"

namespace merro::crypto::test {
namespace {

Bytes BnBytes(const BIGNUM* bn) {
  Bytes out(kSm2FieldBytes);
  EXPECT_EQ(1, SM2_BN2Bytes(bn, out.data()));
  return out;
}

BnPtr BytesBn(const Bytes& b) {
  return BnPtr(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}

EvpPkeyCtxPtr ContextFor(EVP_PKEY* pkey) {
  return EvpPkeyCtxPtr(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
}

}  // namespace

const char* KeyTypeFor(Sm2Curve curve) { return curve == Sm2Curve::kRecommended ? "SM2" : "EC"; }

Bytes DefaultId() { return Bytes(kSm2DefaultId, kSm2DefaultId + sizeof(kSm2DefaultId)); }

Sm2KeyBytes KeyFromPrivate(Sm2Curve curve, const std::string& dHex) {
  const EC_GROUP* group = SM2_Group(curve);
  BnPtr d = SM2_HexBn(dHex.c_str());
  BnPtr x(BN_new()), y(BN_new());
  EcPointPtr P(EC_POINT_new(group));
  EXPECT_TRUE(d && x && y && P);
  EXPECT_EQ(1, EC_POINT_mul(group, P.get(), d.get(), nullptr, nullptr, nullptr));
  EXPECT_EQ(1, EC_POINT_get_affine_coordinates(group, P.get(), x.get(), y.get(), nullptr));
  return {BnBytes(d.get()), BnBytes(x.get()), BnBytes(y.get())};
}

Sm2KeyBytes RandomKey(Sm2Curve curve) {
  Sm2KeyBytes key{Bytes(32), Bytes(32), Bytes(32)};
  EXPECT_EQ(1, SM2_generate_keypair(key.d.data(), key.x.data(), key.y.data(), curve));
  return key;
}

EvpPkeyPtr MakePkey(const char* type, Sm2Curve curve, const Sm2KeyBytes& key) {
  OsslParamBldPtr bld(OSSL_PARAM_BLD_new());
  const Sm2CurveParams& c = SM2_CurveParams(curve);
  BnPtr p = SM2_HexBn(c.p), a = SM2_HexBn(c.a), b = SM2_HexBn(c.b), n = SM2_HexBn(c.n);
  BnPtr one(BN_new());
  BN_one(one.get());
  const Bytes generator = Concat({{0x04}, FromHex(c.gx), FromHex(c.gy)});
  const Bytes pub = Concat({{0x04}, key.x, key.y});
  BnPtr d = key.d.empty() ? nullptr : BytesBn(key.d);
  if (curve == Sm2Curve::kRecommended) {
    OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
  } else {
    OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_EC_FIELD_TYPE,
                                    SN_X9_62_prime_field, 0);
    OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_EC_P, p.get());
    OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_EC_A, a.get());
    OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_EC_B, b.get());
    OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_EC_GENERATOR, generator.data(),
                                     generator.size());
    OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_EC_ORDER, n.get());
    OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_EC_COFACTOR, one.get());
  }
  OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size());
  if (d) {
    OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get());
  }
  OsslParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
  EVP_PKEY* pkey = nullptr;
  EXPECT_EQ(1, EVP_PKEY_fromdata_init(ctx.get()));
  EXPECT_EQ(1, EVP_PKEY_fromdata(ctx.get(), &pkey, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                                 params.get()));
  return EvpPkeyPtr(pkey);
}

EvpPkeyPtr MakeP256Key() {
  return EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

Bytes DigestE(Sm2Curve curve, const Bytes& id, const Sm2KeyBytes& key, const Bytes& msg) {
  const Sm2CurveParams& c = SM2_CurveParams(curve);
  BnPtr a = SM2_HexBn(c.a), b = SM2_HexBn(c.b), gx = SM2_HexBn(c.gx), gy = SM2_HexBn(c.gy);
  BnPtr x = BytesBn(key.x), y = BytesBn(key.y);
  Bytes z(kSm2ZBytes);
  EXPECT_EQ(1, SM2_CalculateZValue(id.data(), id.size(), a.get(), b.get(), gx.get(), gy.get(),
                                   x.get(), y.get(), z.data()));
  Bytes e(kSm3DigestBytes);
  const Bytes zm = Concat({z, msg});
  EXPECT_EQ(1, SM3(zm.data(), zm.size(), e.data()));
  return e;
}

Bytes OpenSslSign(EVP_PKEY* pkey, const Bytes& id, const Bytes& msg) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> mctx(EVP_MD_CTX_new(),
                                                               EVP_MD_CTX_free);
  EvpPkeyCtxPtr pctx = ContextFor(pkey);
  EXPECT_GT(EVP_PKEY_CTX_set1_id(pctx.get(), id.data(), id.size()), 0);
  EVP_MD_CTX_set_pkey_ctx(mctx.get(), pctx.get());
  EXPECT_EQ(1, EVP_DigestSignInit(mctx.get(), nullptr, EVP_sm3(), nullptr, pkey));
  size_t len = 0;
  EXPECT_EQ(1, EVP_DigestSign(mctx.get(), nullptr, &len, msg.data(), msg.size()));
  Bytes sig(len);
  EXPECT_EQ(1, EVP_DigestSign(mctx.get(), sig.data(), &len, msg.data(), msg.size()));
  sig.resize(len);
  return sig;
}

bool OpenSslVerify(EVP_PKEY* pkey, const Bytes& id, const Bytes& msg, const Bytes& derSig) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> mctx(EVP_MD_CTX_new(),
                                                               EVP_MD_CTX_free);
  EvpPkeyCtxPtr pctx = ContextFor(pkey);
  EXPECT_GT(EVP_PKEY_CTX_set1_id(pctx.get(), id.data(), id.size()), 0);
  EVP_MD_CTX_set_pkey_ctx(mctx.get(), pctx.get());
  EXPECT_EQ(1, EVP_DigestVerifyInit(mctx.get(), nullptr, EVP_sm3(), nullptr, pkey));
  return EVP_DigestVerify(mctx.get(), derSig.data(), derSig.size(), msg.data(), msg.size()) == 1;
}

Bytes OpenSslEncrypt(EVP_PKEY* pkey, const Bytes& plain) {
  EvpPkeyCtxPtr ctx = ContextFor(pkey);
  EXPECT_EQ(1, EVP_PKEY_encrypt_init(ctx.get()));
  size_t len = 0;
  EXPECT_EQ(1, EVP_PKEY_encrypt(ctx.get(), nullptr, &len, plain.data(), plain.size()));
  Bytes out(len);
  EXPECT_EQ(1, EVP_PKEY_encrypt(ctx.get(), out.data(), &len, plain.data(), plain.size()));
  out.resize(len);
  return out;
}

std::optional<Bytes> OpenSslDecrypt(EVP_PKEY* pkey, const Bytes& der) {
  EvpPkeyCtxPtr ctx = ContextFor(pkey);
  EXPECT_EQ(1, EVP_PKEY_decrypt_init(ctx.get()));
  size_t len = 0;
  if (EVP_PKEY_decrypt(ctx.get(), nullptr, &len, der.data(), der.size()) != 1) {
    return std::nullopt;
  }
  Bytes out(len);
  if (EVP_PKEY_decrypt(ctx.get(), out.data(), &len, der.data(), der.size()) != 1) {
    return std::nullopt;
  }
  out.resize(len);
  return out;
}

Bytes RawToDer(const Bytes& raw) {
  EXPECT_GE(raw.size(), kSm2CipherOverhead);
  const size_t c2Len = raw.size() - kSm2CipherOverhead;
  SM2CipherPtr item(SM2Cipher_new());
  BN_bin2bn(raw.data() + 1, 32, item->XCoordinate);
  BN_bin2bn(raw.data() + 33, 32, item->YCoordinate);
  ASN1_OCTET_STRING_set(item->HASH, raw.data() + kSm2C1Bytes + c2Len, 32);
  ASN1_OCTET_STRING_set(item->cipherText, raw.data() + kSm2C1Bytes, static_cast<int>(c2Len));
  Bytes der(static_cast<size_t>(i2d_SM2Cipher(item.get(), nullptr)));
  unsigned char* p = der.data();
  i2d_SM2Cipher(item.get(), &p);
  return der;
}

Bytes DerToRaw(const Bytes& der) {
  const unsigned char* p = der.data();
  SM2CipherPtr item(d2i_SM2Cipher(nullptr, &p, static_cast<long>(der.size())));
  EXPECT_TRUE(item);
  if (!item) {
    return {};
  }
  const auto* c2 = ASN1_STRING_get0_data(item->cipherText);
  const auto* c3 = ASN1_STRING_get0_data(item->HASH);
  return Concat({{0x04},
                 BnBytes(item->XCoordinate),
                 BnBytes(item->YCoordinate),
                 Bytes(c2, c2 + ASN1_STRING_length(item->cipherText)),
                 Bytes(c3, c3 + ASN1_STRING_length(item->HASH))});
}

Bytes DerSigToRaw(const Bytes& der) {
  const unsigned char* p = der.data();
  EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
  EXPECT_TRUE(sig);
  if (!sig) {
    return {};
  }
  return Concat({BnBytes(ECDSA_SIG_get0_r(sig.get())), BnBytes(ECDSA_SIG_get0_s(sig.get()))});
}

Bytes RawSigToDer(const Bytes& raw) {
  EcdsaSigPtr sig(ECDSA_SIG_new());
  ECDSA_SIG_set0(sig.get(), BN_bin2bn(raw.data(), 32, nullptr),
                 BN_bin2bn(raw.data() + 32, 32, nullptr));
  Bytes der(static_cast<size_t>(i2d_ECDSA_SIG(sig.get(), nullptr)));
  unsigned char* p = der.data();
  i2d_ECDSA_SIG(sig.get(), &p);
  return der;
}

}  // namespace merro::crypto::test
