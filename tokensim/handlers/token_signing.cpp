#include "tokensim/handlers/token_signing.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>

namespace merro::tokensim::signing {
namespace {

constexpr size_t kCoordLen = 32;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, EvpDeleter<ECDSA_SIG_free>>;

bool AppendNumber(const BIGNUM* bn, Bytes* out) {
  std::uint8_t b[kCoordLen];
  if (BN_bn2binpad(bn, b, kCoordLen) != static_cast<int>(kCoordLen)) {
    return false;
  }
  out->insert(out->end(), b, b + kCoordLen);
  return true;
}

bool KeyPoint(EVP_PKEY* key, Bytes* out) {
  std::uint8_t xy[2 * kCoordLen];
  if (!KeyParamBytes(key, OSSL_PKEY_PARAM_EC_PUB_X, xy, kCoordLen) ||
      !KeyParamBytes(key, OSSL_PKEY_PARAM_EC_PUB_Y, xy + kCoordLen, kCoordLen)) {
    return false;
  }
  out->insert(out->end(), xy, xy + sizeof xy);
  return true;
}

// ENTL || ID || a || b || xG || yG || xA || yA of GB/T 32918.2.
bool ZInput(EVP_PKEY* publicKey, const std::uint8_t* id, size_t idLen, Bytes* out) {
  const EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  const BnPtr a(BN_new()), b(BN_new()), p(BN_new()), gx(BN_new()), gy(BN_new());
  if (!group || !a || !b || !p || !gx || !gy || idLen >= 8192 ||
      EC_GROUP_get_curve(group.get(), p.get(), a.get(), b.get(), nullptr) != 1 ||
      EC_POINT_get_affine_coordinates(group.get(), EC_GROUP_get0_generator(group.get()), gx.get(),
                                      gy.get(), nullptr) != 1) {
    return false;
  }
  const size_t bits = idLen * 8;
  out->push_back(static_cast<std::uint8_t>(bits >> 8));
  out->push_back(static_cast<std::uint8_t>(bits));
  out->insert(out->end(), id, id + idLen);
  return AppendNumber(a.get(), out) && AppendNumber(b.get(), out) && AppendNumber(gx.get(), out) &&
         AppendNumber(gy.get(), out) && KeyPoint(publicKey, out);
}

EvpMdCtxPtr NewDigest(const EVP_MD* md) {
  EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) {
    return nullptr;
  }
  return ctx;
}

}  // namespace

EvpMdCtxPtr Sm2StartHash(EVP_PKEY* publicKey, const std::uint8_t* id, size_t idLen) {
  Bytes zInput;
  if (publicKey == nullptr || !EVP_PKEY_is_a(publicKey, "SM2") ||
      !ZInput(publicKey, id, idLen, &zInput)) {
    return nullptr;
  }
  std::uint8_t z[kSm2DigestLen];
  unsigned zLen = 0;
  if (EVP_Digest(zInput.data(), zInput.size(), z, &zLen, EVP_sm3(), nullptr) != 1) {
    return nullptr;
  }
  EvpMdCtxPtr ctx = NewDigest(EVP_sm3());
  if (!ctx || EVP_DigestUpdate(ctx.get(), z, zLen) != 1) {
    return nullptr;
  }
  return ctx;
}

bool Sm2SignDigest(EVP_PKEY* privateKey, const std::uint8_t* e,
                   std::uint8_t (&sig)[kSm2SignatureLen]) {
  if (privateKey == nullptr || !EVP_PKEY_is_a(privateKey, "SM2")) {
    return false;
  }
  // OpenSSL's SM2 signer takes the given bytes as e and answers in DER.
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, privateKey, nullptr));
  size_t derLen = 0;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_sign(ctx.get(), nullptr, &derLen, e, kSm2DigestLen) != 1) {
    return false;
  }
  Bytes der(derLen);
  if (EVP_PKEY_sign(ctx.get(), der.data(), &derLen, e, kSm2DigestLen) != 1) {
    return false;
  }
  const std::uint8_t* p = der.data();
  const EcdsaSigPtr rs(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLen)));
  if (!rs) {
    return false;
  }
  Bytes raw;
  if (!AppendNumber(ECDSA_SIG_get0_r(rs.get()), &raw) ||
      !AppendNumber(ECDSA_SIG_get0_s(rs.get()), &raw)) {
    return false;
  }
  std::copy(raw.begin(), raw.end(), sig);
  return true;
}

bool RsaPrivateRaw(EVP_PKEY* privateKey, const std::uint8_t* in, size_t n, SecretBytes* pOut) {
  if (privateKey == nullptr || !EVP_PKEY_is_a(privateKey, "RSA") ||
      static_cast<size_t>(EVP_PKEY_get_size(privateKey)) != n) {
    return false;
  }
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, privateKey, nullptr));
  SecretBytes out(n);
  size_t len = n;
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), out.data(), &len, in, n) != 1 || len != n) {
    return false;
  }
  pOut->bytes().swap(out.bytes());
  return true;
}

bool RsaSignDigest(EVP_PKEY* privateKey, const EVP_MD* md, const std::uint8_t* digest, size_t n,
                   Bytes* pSig) {
  if (privateKey == nullptr || !EVP_PKEY_is_a(privateKey, "RSA")) {
    return false;
  }
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, privateKey, nullptr));
  size_t len = static_cast<size_t>(EVP_PKEY_get_size(privateKey));
  Bytes sig(len);
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      (md != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1) ||
      EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest, n) != 1 || len != sig.size()) {
    return false;
  }
  pSig->swap(sig);
  return true;
}

namespace {

const EVP_MD* DigestOfCode(std::uint8_t code) {
  switch (code) {
    case 0x00:
    case 0x06:
      return EVP_sha1();
    case 0x02:
      return EVP_sha256();
    case 0x04:
      return EVP_sha512();
    case 0x05:
      return EVP_md5();
    default:
      return nullptr;
  }
}

}  // namespace

bool TokenDigest::Known(std::uint8_t code) { return DigestOfCode(code) != nullptr; }

bool TokenDigest::Start(std::uint8_t code) {
  m_code = 0xFF;
  m_second.reset();
  const EVP_MD* md = DigestOfCode(code);
  if (md == nullptr || !(m_first = NewDigest(md)) ||
      (code == 0x06 && !(m_second = NewDigest(EVP_md5())))) {
    return false;
  }
  m_code = code;
  return true;
}

bool TokenDigest::Update(const std::uint8_t* p, size_t n) {
  return m_first && EVP_DigestUpdate(m_first.get(), p, n) == 1 &&
         (!m_second || EVP_DigestUpdate(m_second.get(), p, n) == 1);
}

size_t TokenDigest::Length() const {
  const EVP_MD* md = DigestOfCode(m_code);
  if (md == nullptr) {
    return 0;
  }
  return static_cast<size_t>(EVP_MD_get_size(md)) + (m_code == 0x06 ? 16 : 0);
}

bool TokenDigest::Finish(Bytes* pDigest, const EVP_MD** pMd) {
  std::uint8_t buf[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  if (!m_first || EVP_DigestFinal_ex(m_first.get(), buf, &n) != 1) {
    return false;
  }
  pDigest->assign(buf, buf + n);
  if (m_second) {
    if (EVP_DigestFinal_ex(m_second.get(), buf, &n) != 1) {
      return false;
    }
    pDigest->insert(pDigest->end(), buf, buf + n);
  }
  *pMd = m_code == 0x06 ? nullptr : DigestOfCode(m_code);
  m_first.reset();
  m_second.reset();
  return true;
}

}  // namespace merro::tokensim::signing
