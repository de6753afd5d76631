#include "tokensim/handlers/key_store.h"

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <cstring>

#include "tokensim/core/token.h"

namespace merro::tokensim::keystore {
namespace {

// Public half: [0] alg; RSA [1, 1 + nLen) n, [257] eLen, [258, 262) e;
// SM2 [1, 33) x, [33, 65) y.
constexpr size_t kPubN = kPublicOffset + 1;
constexpr size_t kPubELen = kPublicOffset + 257;
constexpr size_t kPubE = kPublicOffset + 258;
// Private half: [320] alg; RSA [321, 321 + nLen) n, [577, 577 + nLen) d;
// SM2 [321, 353) d.
constexpr size_t kPrivN = kPrivateOffset + 1;
constexpr size_t kPrivD = kPrivateOffset + 1 + 256;
constexpr size_t kPrivSm2D = kPrivateOffset + 1;

constexpr std::uint8_t kExponent65537[3] = {0x01, 0x00, 0x01};

bool IsKeyAlg(std::uint8_t alg) {
  return alg == kAlgRsa1024 || alg == kAlgRsa2048 || alg == kAlgSm2;
}

std::uint8_t* At(TokenFile& file, size_t offset) { return file.content.data() + offset; }
const std::uint8_t* At(const TokenFile& file, size_t offset) {
  return file.content.data() + offset;
}

EvpPkeyPtr FromParams(const char* type, ParamBldPtr& bld, int selection) {
  const ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1) {
    return nullptr;
  }
  return EvpPkeyPtr(key);
}

EvpPkeyPtr RsaKey(const std::uint8_t* n, size_t nLen, const std::uint8_t* e, size_t eLen,
                  const std::uint8_t* d) {
  const BnPtr bnN = BnFromBytes(n, nLen);
  const BnPtr bnE = BnFromBytes(e, eLen);
  // d in secure memory: the parameter built from it then lives there too
  // and is cleared when the parameters are freed.
  BnPtr bnD(d != nullptr ? BN_secure_new() : nullptr);
  if (bnD && BN_bin2bn(d, static_cast<int>(nLen), bnD.get()) == nullptr) {
    bnD.reset();
  }
  ParamBldPtr bld(OSSL_PARAM_BLD_new());
  if (!bnN || !bnE || (d != nullptr && !bnD) || !bld ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, bnN.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, bnE.get()) != 1 ||
      (bnD && OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_D, bnD.get()) != 1)) {
    return nullptr;
  }
  return FromParams("RSA", bld, d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY);
}

// 04 || x || y of a public point.
Bytes Uncompressed(const std::uint8_t* xy) {
  Bytes point{0x04};
  point.insert(point.end(), xy, xy + 2 * kSm2CoordLen);
  return point;
}

EvpPkeyPtr Sm2Key(const std::uint8_t* xy, const BIGNUM* d) {
  const Bytes point = Uncompressed(xy);
  ParamBldPtr bld(OSSL_PARAM_BLD_new());
  if (!bld ||
      OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, SN_sm2, 0) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                       point.size()) != 1 ||
      (d != nullptr && OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d) != 1)) {
    return nullptr;
  }
  return FromParams("SM2", bld, d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY);
}

// d x G on the SM2 curve as x || y; false for d outside [1, n - 1].
bool Sm2PublicPoint(const BIGNUM* d, std::uint8_t* xy) {
  const EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  const BnCtxPtr ctx(BN_CTX_new());
  if (!group || !ctx || BN_is_zero(d) || BN_is_negative(d) ||
      BN_cmp(d, EC_GROUP_get0_order(group.get())) >= 0) {
    return false;
  }
  const EcPointPtr point(EC_POINT_new(group.get()));
  std::uint8_t out[1 + 2 * kSm2CoordLen];
  if (!point || EC_POINT_mul(group.get(), point.get(), d, nullptr, nullptr, ctx.get()) != 1 ||
      EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, out, sizeof out,
                         ctx.get()) != sizeof out) {
    return false;
  }
  std::memcpy(xy, out + 1, 2 * kSm2CoordLen);
  return true;
}

}  // namespace

size_t ModulusLen(std::uint8_t alg) {
  return alg == kAlgRsa1024 ? 128 : (alg == kAlgRsa2048 ? 256 : 0);
}

TokenFile* FindKeyFile(Token& token, std::uint16_t fid, std::uint16_t* pSw) {
  TokenFile* file = token.Files().Find(fid);
  if (file == nullptr) {
    *pSw = sw::kFileNotFound;
    return nullptr;
  }
  if (file->content.size() < kKeyFileMinSize) {
    *pSw = sw::kConditionsNotSatisfied;
    return nullptr;
  }
  *pSw = sw::kOk;
  return file;
}

std::uint8_t PublicAlgorithm(const TokenFile& file) {
  const std::uint8_t alg =
      file.content.size() >= kKeyFileMinSize ? *At(file, kPublicOffset) : kNoKey;
  return IsKeyAlg(alg) ? alg : kNoKey;
}

std::uint8_t PrivateAlgorithm(const TokenFile& file) {
  const std::uint8_t alg =
      file.content.size() >= kKeyFileMinSize ? *At(file, kPrivateOffset) : kNoKey;
  return IsKeyAlg(alg) ? alg : kNoKey;
}

void WriteRsaPublic(TokenFile& file, std::uint8_t alg, const std::uint8_t* n, const std::uint8_t* e,
                    size_t eLen) {
  std::fill(At(file, kPublicOffset), At(file, kPrivateOffset), 0xFF);
  *At(file, kPublicOffset) = alg;
  std::memcpy(At(file, kPubN), n, ModulusLen(alg));
  *At(file, kPubELen) = static_cast<std::uint8_t>(eLen);
  std::memcpy(At(file, kPubE), e, eLen);
}

void WriteRsaPrivate(TokenFile& file, std::uint8_t alg, const std::uint8_t* n,
                     const std::uint8_t* d) {
  const size_t len = ModulusLen(alg);
  std::fill(At(file, kPrivateOffset), At(file, kKeyFileMinSize), 0xFF);
  *At(file, kPrivateOffset) = alg;
  std::memcpy(At(file, kPrivN), n, len);
  std::memcpy(At(file, kPrivD), d, len);
}

void WriteSm2Public(TokenFile& file, const std::uint8_t* x, const std::uint8_t* y) {
  std::fill(At(file, kPublicOffset), At(file, kPrivateOffset), 0xFF);
  *At(file, kPublicOffset) = kAlgSm2;
  std::memcpy(At(file, kPubN), x, kSm2CoordLen);
  std::memcpy(At(file, kPubN + kSm2CoordLen), y, kSm2CoordLen);
}

void WriteSm2Private(TokenFile& file, const std::uint8_t* d) {
  std::fill(At(file, kPrivateOffset), At(file, kKeyFileMinSize), 0xFF);
  *At(file, kPrivateOffset) = kAlgSm2;
  std::memcpy(At(file, kPrivSm2D), d, kSm2CoordLen);
}

bool ReadRsaPublic(const TokenFile& file, std::uint8_t alg, Bytes* pN, Bytes* pE) {
  if (ModulusLen(alg) == 0 || PublicAlgorithm(file) != alg) {
    return false;
  }
  const size_t eLen = *At(file, kPubELen);
  if (eLen == 0 || eLen > kRsaExponentMax) {
    return false;
  }
  pN->assign(At(file, kPubN), At(file, kPubN) + ModulusLen(alg));
  pE->assign(At(file, kPubE), At(file, kPubE) + eLen);
  return true;
}

bool ReadSm2Public(const TokenFile& file, Bytes* pXY) {
  if (PublicAlgorithm(file) != kAlgSm2) {
    return false;
  }
  pXY->assign(At(file, kPubN), At(file, kPubN) + 2 * kSm2CoordLen);
  return true;
}

EvpPkeyPtr PublicKey(const TokenFile& file, std::uint8_t* pAlg) {
  const std::uint8_t alg = PublicAlgorithm(file);
  if (alg == kNoKey || (*pAlg != kNoKey && *pAlg != alg)) {
    return nullptr;
  }
  *pAlg = alg;
  if (alg == kAlgSm2) {
    return Sm2Key(At(file, kPubN), nullptr);
  }
  Bytes n, e;
  if (!ReadRsaPublic(file, alg, &n, &e)) {
    return nullptr;
  }
  return RsaKey(n.data(), n.size(), e.data(), e.size(), nullptr);
}

EvpPkeyPtr PrivateKey(const TokenFile& file, std::uint8_t* pAlg) {
  const std::uint8_t alg = PrivateAlgorithm(file);
  if (alg == kNoKey || (*pAlg != kNoKey && *pAlg != alg)) {
    return nullptr;
  }
  *pAlg = alg;
  if (alg == kAlgSm2) {
    return Sm2KeyFromPrivate(At(file, kPrivSm2D), nullptr);
  }
  // The exponent is the public half's when it belongs to the same modulus.
  Bytes n, e;
  const size_t len = ModulusLen(alg);
  if (!ReadRsaPublic(file, alg, &n, &e) || !std::equal(n.begin(), n.end(), At(file, kPrivN))) {
    e.assign(kExponent65537, kExponent65537 + sizeof kExponent65537);
  }
  return RsaKey(At(file, kPrivN), len, e.data(), e.size(), At(file, kPrivD));
}

bool StoreKeyPair(TokenFile& file, const EVP_PKEY* key) {
  if (file.content.size() < kKeyFileMinSize) {
    return false;
  }
  if (EVP_PKEY_is_a(key, "SM2")) {
    SecretBytes d(kSm2CoordLen);
    std::uint8_t xy[2 * kSm2CoordLen];
    if (!KeyParamBytes(key, OSSL_PKEY_PARAM_PRIV_KEY, d.data(), d.size()) ||
        !KeyParamBytes(key, OSSL_PKEY_PARAM_EC_PUB_X, xy, kSm2CoordLen) ||
        !KeyParamBytes(key, OSSL_PKEY_PARAM_EC_PUB_Y, xy + kSm2CoordLen, kSm2CoordLen)) {
      return false;
    }
    WriteSm2Public(file, xy, xy + kSm2CoordLen);
    WriteSm2Private(file, d.data());
    return true;
  }
  if (!EVP_PKEY_is_a(key, "RSA")) {
    return false;
  }
  const int bits = EVP_PKEY_get_bits(key);
  const std::uint8_t alg = bits == 1024 ? kAlgRsa1024 : (bits == 2048 ? kAlgRsa2048 : kNoKey);
  const size_t len = ModulusLen(alg);
  if (len == 0) {
    return false;
  }
  Bytes n(len);
  SecretBytes d(len);
  std::uint8_t e[kRsaExponentMax];
  BIGNUM* rawE = nullptr;
  if (!KeyParamBytes(key, OSSL_PKEY_PARAM_RSA_N, n.data(), len) ||
      !KeyParamBytes(key, OSSL_PKEY_PARAM_RSA_D, d.data(), len) ||
      EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &rawE) != 1) {
    return false;
  }
  const BnPtr bnE(rawE);
  const int eLen = BN_num_bytes(bnE.get());
  if (eLen < 1 || eLen > static_cast<int>(kRsaExponentMax) || BN_bn2bin(bnE.get(), e) != eLen) {
    return false;
  }
  WriteRsaPublic(file, alg, n.data(), e, static_cast<size_t>(eLen));
  WriteRsaPrivate(file, alg, n.data(), d.data());
  return true;
}

EvpPkeyPtr Sm2KeyFromPrivate(const std::uint8_t* d, const std::uint8_t* pXY) {
  const BnPtr bnD(BN_secure_new());
  std::uint8_t xy[2 * kSm2CoordLen];
  if (!bnD || BN_bin2bn(d, static_cast<int>(kSm2CoordLen), bnD.get()) == nullptr ||
      !Sm2PublicPoint(bnD.get(), xy)) {
    return nullptr;
  }
  if (pXY != nullptr && std::memcmp(pXY, xy, sizeof xy) != 0) {
    return nullptr;
  }
  return Sm2Key(xy, bnD.get());
}

EvpPkeyPtr Sm2KeyFromPoint(const std::uint8_t* xy) {
  EvpPkeyPtr key = Sm2Key(xy, nullptr);
  if (!key) {
    return nullptr;
  }
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!ctx || EVP_PKEY_public_check(ctx.get()) != 1) {
    return nullptr;
  }
  return key;
}

}  // namespace merro::tokensim::keystore
