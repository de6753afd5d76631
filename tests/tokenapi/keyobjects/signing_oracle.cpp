#include "tests/tokenapi/keyobjects/signing_oracle.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstring>

namespace merro::testing {
namespace {

constexpr char kId[] = "1234567812345678";

struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct SigFree {
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};

Bytes Coordinate(EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  Bytes out(32);
  if (EVP_PKEY_get_bn_param(key, name, &bn) == 1) {
    BN_bn2binpad(bn, out.data(), 32);
  }
  BN_free(bn);
  return out;
}

// A public key of the given type from the parameters that bld holds.
PkeyPtr FromParams(const char* type, OSSL_PARAM_BLD* bld) {
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
  EVP_PKEY* key = nullptr;
  if (params == nullptr || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    key = nullptr;
  }
  OSSL_PARAM_free(params);
  return PkeyPtr(key);
}

}  // namespace

PkeyPtr Sm2PublicKey(const Bytes& xy) {
  Bytes point = {0x04};
  point.insert(point.end(), xy.begin(), xy.end());
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
  OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
  PkeyPtr key = FromParams("SM2", bld);
  OSSL_PARAM_BLD_free(bld);
  return key;
}

PkeyPtr RsaPublicKey(const Bytes& n, const Bytes& e) {
  BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
  BIGNUM* be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr);
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be);
  PkeyPtr key = FromParams("RSA", bld);
  OSSL_PARAM_BLD_free(bld);
  BN_free(bn);
  BN_free(be);
  return key;
}

Bytes Sm2PublicXY(EVP_PKEY* key) {
  Bytes xy = Coordinate(key, OSSL_PKEY_PARAM_EC_PUB_X);
  const Bytes y = Coordinate(key, OSSL_PKEY_PARAM_EC_PUB_Y);
  xy.insert(xy.end(), y.begin(), y.end());
  return xy;
}

Bytes Sm2MessageDigest(EVP_PKEY* key, const Bytes& message) {
  // ENTL || ID || a || b || xG || yG || xA || yA, from the curve's values.
  const std::unique_ptr<EC_GROUP, void (*)(EC_GROUP*)> group(
      EC_GROUP_new_by_curve_name(NID_sm2), EC_GROUP_free);
  BIGNUM* p = BN_new();
  BIGNUM* a = BN_new();
  BIGNUM* b = BN_new();
  BIGNUM* gx = BN_new();
  BIGNUM* gy = BN_new();
  EC_GROUP_get_curve(group.get(), p, a, b, nullptr);
  EC_POINT_get_affine_coordinates(group.get(), EC_GROUP_get0_generator(group.get()), gx, gy, nullptr);
  Bytes z = {0x00, 0x80};
  z.insert(z.end(), kId, kId + 16);
  for (BIGNUM* v : {a, b, gx, gy}) {
    Bytes c(32);
    BN_bn2binpad(v, c.data(), 32);
    z.insert(z.end(), c.begin(), c.end());
    BN_free(v);
  }
  BN_free(p);
  const Bytes xy = Sm2PublicXY(key);
  z.insert(z.end(), xy.begin(), xy.end());
  Bytes input = Digest(EVP_sm3(), z);
  input.insert(input.end(), message.begin(), message.end());
  return Digest(EVP_sm3(), input);
}

bool Sm2VerifyMessage(EVP_PKEY* key, const Bytes& message, const Bytes& signature) {
  if (signature.size() != 64) {
    return false;
  }
  std::unique_ptr<ECDSA_SIG, SigFree> sig(ECDSA_SIG_new());
  ECDSA_SIG_set0(sig.get(), BN_bin2bn(signature.data(), 32, nullptr),
                 BN_bin2bn(signature.data() + 32, 32, nullptr));
  unsigned char* der = nullptr;
  const int derLen = i2d_ECDSA_SIG(sig.get(), &der);
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> md(EVP_MD_CTX_new());
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> pctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  EVP_PKEY_CTX_set1_id(pctx.get(), kId, 16);
  EVP_MD_CTX_set_pkey_ctx(md.get(), pctx.get());
  const bool ok = derLen > 0 &&
                  EVP_DigestVerifyInit(md.get(), nullptr, EVP_sm3(), nullptr, key) == 1 &&
                  EVP_DigestVerify(md.get(), der, static_cast<size_t>(derLen), message.data(),
                                   message.size()) == 1;
  OPENSSL_free(der);
  return ok;
}

Bytes Digest(const EVP_MD* md, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

bool RsaVerifyDigest(EVP_PKEY* key, const EVP_MD* md, const Bytes& digest, const Bytes& signature) {
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
         (md == nullptr || EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1) &&
         EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest.data(),
                         digest.size()) == 1;
}

Bytes Pkcs1SignatureBlock(const Bytes& sha256Digest, size_t k) {
  static const std::uint8_t kInfo[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  Bytes block(k, 0xFF);
  block[0] = 0x00;
  block[1] = 0x01;
  const size_t tail = sizeof kInfo + sha256Digest.size();
  block[k - tail - 1] = 0x00;
  std::memcpy(block.data() + k - tail, kInfo, sizeof kInfo);
  std::memcpy(block.data() + k - sha256Digest.size(), sha256Digest.data(), sha256Digest.size());
  return block;
}

}  // namespace merro::testing
