#include "tokenapi/crypto/sm2/sm2_pkey.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <cstring>
#include <optional>
#include <utility>

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/common/secret_buffer.h"
#include "tokenapi/crypto/sm2/sm2_asn1.h"
#include "tokenapi/crypto/sm2/sm2_cipher.h"
#include "tokenapi/crypto/sm2/sm2_sign.h"

namespace merro::crypto {
namespace {

// Which SM2 curve an EC (or SM2-type) key lies on; empty for other curves.
std::optional<Sm2Curve> Sm2CurveOfKey(EVP_PKEY* pkey) {
  if (pkey == nullptr || (!EVP_PKEY_is_a(pkey, "EC") && !EVP_PKEY_is_a(pkey, "SM2"))) {
    return std::nullopt;
  }
  char name[64] = {};
  size_t nameLen = 0;
  if (EVP_PKEY_get_utf8_string_param(pkey, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof(name),
                                     &nameLen) == 1) {
    // A named group is the recommended curve or no SM2 curve at all: the
    // example curve has no name.
    if (OBJ_sn2nid(name) == NID_sm2) {
      return Sm2Curve::kRecommended;
    }
    return std::nullopt;
  }
  // Explicit parameters: compare them with both curves.
  OSSL_PARAM* raw = nullptr;
  if (EVP_PKEY_todata(pkey, EVP_PKEY_KEY_PARAMETERS, &raw) != 1) {
    return std::nullopt;
  }
  const OsslParamPtr params(raw);
  const EcGroupPtr group(EC_GROUP_new_from_params(params.get(), nullptr, nullptr));
  return SM2_IdentifyCurve(group.get());
}

bool PublicCoordinates(EVP_PKEY* pkey, BnPtr& x, BnPtr& y) {
  BIGNUM* bx = nullptr;
  BIGNUM* by = nullptr;
  const bool ok = EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_PUB_X, &bx) == 1 &&
                  EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_PUB_Y, &by) == 1;
  x.reset(bx);
  y.reset(by);
  return ok;
}

SecretBnPtr PrivateScalar(EVP_PKEY* pkey) {
  BIGNUM* d = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1) {
    BN_clear_free(d);
    return nullptr;
  }
  BN_set_flags(d, BN_FLG_CONSTTIME);
  return SecretBnPtr(d);
}

// Decodes a DER item and accepts it only when it is the exact, canonical
// encoding of what was decoded (no trailing bytes, no BER variants).
template <typename Ptr, typename Decode, typename Encode>
Ptr DecodeStrictDer(const unsigned char* in, size_t inlen, Decode decode, Encode encode) {
  if (in == nullptr || inlen == 0 || inlen > 0x7FFFFFFF) {
    return nullptr;
  }
  const unsigned char* p = in;
  Ptr item(decode(nullptr, &p, static_cast<long>(inlen)));
  if (!item || p != in + inlen) {
    return nullptr;
  }
  unsigned char* der = nullptr;
  const int derLen = encode(item.get(), &der);
  const bool canonical =
      derLen == static_cast<int>(inlen) && std::memcmp(der, in, inlen) == 0;
  OPENSSL_free(der);
  return canonical ? std::move(item) : nullptr;
}

// A DER INTEGER that must be a non-negative number of at most 32 bytes,
// written left-padded into a 32-byte field.
bool FieldFromInteger(const BIGNUM* bn, unsigned char out[kSm2FieldBytes]) {
  return bn != nullptr && !BN_is_negative(bn) && SM2_BN2Bytes(bn, out);
}

int EcdsaSign(EVP_PKEY* pkey, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
              size_t tbslen) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
  if (!ctx) {
    return 0;
  }
  const int init = EVP_PKEY_sign_init(ctx.get());
  return init <= 0 ? init : EVP_PKEY_sign(ctx.get(), sig, siglen, tbs, tbslen);
}

int EcdsaVerify(EVP_PKEY* pkey, const unsigned char* sig, size_t siglen, const unsigned char* tbs,
                size_t tbslen) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
  if (!ctx) {
    return -1;
  }
  const int init = EVP_PKEY_verify_init(ctx.get());
  return init <= 0 ? init : EVP_PKEY_verify(ctx.get(), sig, siglen, tbs, tbslen);
}

}  // namespace

int pkey_ec_sign(EVP_PKEY* pkey, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
                 size_t tbslen) {
  if (pkey == nullptr || siglen == nullptr) {
    return 0;
  }
  const int maxSize = EVP_PKEY_get_size(pkey);
  if (maxSize <= 0) {
    return 0;
  }
  if (sig == nullptr) {
    *siglen = static_cast<size_t>(maxSize);
    return 1;
  }
  if (*siglen < static_cast<size_t>(maxSize)) {
    ERR_raise(ERR_LIB_EC, EC_R_BUFFER_TOO_SMALL);
    return 0;
  }
  const int ret = Sm2CurveOfKey(pkey) ? pkey_sm2_sign(pkey, sig, siglen, tbs, tbslen)
                                      : EcdsaSign(pkey, sig, siglen, tbs, tbslen);
  return ret <= 0 ? ret : 1;
}

int pkey_ec_verify(EVP_PKEY* pkey, const unsigned char* sig, size_t siglen,
                   const unsigned char* tbs, size_t tbslen) {
  if (Sm2CurveOfKey(pkey)) {
    return pkey_sm2_verify(pkey, sig, siglen, tbs, tbslen);
  }
  return pkey == nullptr ? -1 : EcdsaVerify(pkey, sig, siglen, tbs, tbslen);
}

int pkey_sm2_sign(EVP_PKEY* pkey, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
                  size_t tbslen) {
  const std::optional<Sm2Curve> curve = Sm2CurveOfKey(pkey);
  // e is the 32-byte SM3 value; the verifier takes exactly 32 bytes too.
  if (!curve || sig == nullptr || siglen == nullptr || tbs == nullptr ||
      tbslen != kSm2DigestBytes) {
    return -1;
  }
  const SecretBnPtr d = PrivateScalar(pkey);
  BnPtr e(BN_bin2bn(tbs, static_cast<int>(tbslen), nullptr));
  if (!d || !e) {
    return -1;
  }
  const EcdsaSigPtr rs = SM2_sign(e.get(), d.get(), *curve);
  if (!rs) {
    return -1;
  }
  const int derLen = i2d_ECDSA_SIG(rs.get(), nullptr);
  if (derLen <= 0 || static_cast<size_t>(derLen) > *siglen) {
    return -1;
  }
  unsigned char* p = sig;
  if (i2d_ECDSA_SIG(rs.get(), &p) != derLen) {
    return -1;
  }
  *siglen = static_cast<size_t>(derLen);
  return 1;
}

int pkey_sm2_verify(EVP_PKEY* pkey, const unsigned char* sig, size_t siglen,
                    const unsigned char* tbs, size_t tbslen) {
  const std::optional<Sm2Curve> curve = Sm2CurveOfKey(pkey);
  // Exactly the 32 bytes of e: a shorter input is never read past its end.
  if (!curve || tbs == nullptr || tbslen != kSm2DigestBytes) {
    return -1;
  }
  const EcdsaSigPtr rs =
      DecodeStrictDer<EcdsaSigPtr>(sig, siglen, d2i_ECDSA_SIG, i2d_ECDSA_SIG);
  BnPtr x, y;
  if (!rs || !PublicCoordinates(pkey, x, y)) {
    return -1;
  }
  unsigned char r[kSm2FieldBytes], s[kSm2FieldBytes], xb[kSm2FieldBytes], yb[kSm2FieldBytes];
  // r and s: non-zero and at most 32 bytes; coordinates padded to 32 bytes.
  if (BN_is_zero(ECDSA_SIG_get0_r(rs.get())) || BN_is_zero(ECDSA_SIG_get0_s(rs.get())) ||
      !FieldFromInteger(ECDSA_SIG_get0_r(rs.get()), r) ||
      !FieldFromInteger(ECDSA_SIG_get0_s(rs.get()), s) || !SM2_BN2Bytes(x.get(), xb) ||
      !SM2_BN2Bytes(y.get(), yb)) {
    return -1;
  }
  return SM2_verify_ex(r, s, xb, yb, tbs, *curve) == 1 ? 1 : -1;
}

int pkey_sm2_encrypt(EVP_PKEY* pkey, unsigned char* out, size_t* outlen, const unsigned char* in,
                     size_t inlen) {
  const std::optional<Sm2Curve> curve = Sm2CurveOfKey(pkey);
  if (!curve || out == nullptr || outlen == nullptr || in == nullptr || inlen == 0 ||
      inlen > 0x7FFFFFFF - kSm2CipherOverhead) {
    return -1;
  }
  BnPtr x, y;
  if (!PublicCoordinates(pkey, x, y)) {
    return -1;
  }
  SecretBuffer raw(inlen + kSm2CipherOverhead);
  if (!raw.ok() || !SM2_encrypt(in, inlen, x.get(), y.get(), raw.data(), raw.size(), *curve)) {
    return -1;
  }
  // Raw 0x04 || x1 || y1 || C2 || C3 to SEQUENCE { x1, y1, C3, C2 }.
  const unsigned char* c2 = raw.data() + kSm2C1Bytes;
  const SM2CipherPtr item(SM2Cipher_new());
  if (!item ||
      !BN_bin2bn(raw.data() + 1, kSm2FieldBytes, item->XCoordinate) ||
      !BN_bin2bn(raw.data() + 1 + kSm2FieldBytes, kSm2FieldBytes, item->YCoordinate) ||
      !ASN1_OCTET_STRING_set(item->HASH, c2 + inlen, kSm2C3Bytes) ||
      !ASN1_OCTET_STRING_set(item->cipherText, c2, static_cast<int>(inlen))) {
    return -1;
  }
  const int derLen = i2d_SM2Cipher(item.get(), nullptr);
  if (derLen <= 0 || static_cast<size_t>(derLen) > *outlen) {
    return -1;
  }
  unsigned char* p = out;
  if (i2d_SM2Cipher(item.get(), &p) != derLen) {
    return -1;
  }
  *outlen = static_cast<size_t>(derLen);
  return 1;
}

int pkey_sm2_decrypt(EVP_PKEY* pkey, unsigned char* out, size_t* outlen, const unsigned char* in,
                     size_t inlen) {
  const std::optional<Sm2Curve> curve = Sm2CurveOfKey(pkey);
  if (!curve || out == nullptr || outlen == nullptr) {
    return -1;
  }
  const SM2CipherPtr item =
      DecodeStrictDer<SM2CipherPtr>(in, inlen, d2i_SM2Cipher, i2d_SM2Cipher);
  if (!item) {
    return -1;
  }
  const size_t c2Len = static_cast<size_t>(ASN1_STRING_length(item->cipherText));
  // C3 is an SM3 value; C2 must fit the caller's buffer.
  if (ASN1_STRING_length(item->HASH) != static_cast<int>(kSm2C3Bytes) || c2Len == 0 ||
      c2Len > *outlen) {
    return -1;
  }
  // Rebuild the raw form; x1 and y1 are zero-filled on the left when their
  // INTEGERs are shorter than 32 bytes.
  SecretBuffer raw(c2Len + kSm2CipherOverhead);
  if (!raw.ok()) {
    return -1;
  }
  raw.data()[0] = 0x04;
  if (!FieldFromInteger(item->XCoordinate, raw.data() + 1) ||
      !FieldFromInteger(item->YCoordinate, raw.data() + 1 + kSm2FieldBytes)) {
    return -1;
  }
  std::memcpy(raw.data() + kSm2C1Bytes, ASN1_STRING_get0_data(item->cipherText), c2Len);
  std::memcpy(raw.data() + kSm2C1Bytes + c2Len, ASN1_STRING_get0_data(item->HASH), kSm2C3Bytes);
  const SecretBnPtr d = PrivateScalar(pkey);
  if (!d || !SM2_decrypt(raw.data(), raw.size(), d.get(), out, *outlen, *curve)) {
    return -1;
  }
  *outlen = c2Len;
  return 1;
}

}  // namespace merro::crypto
