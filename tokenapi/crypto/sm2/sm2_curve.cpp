#include "tokenapi/crypto/sm2/sm2_curve.h"

#include <openssl/obj_mac.h>

#include "tokenapi/crypto/common/openssl_ptr.h"

namespace merro::crypto {
namespace {

// GB/T 32918.5-2017, the recommended curve parameters.
constexpr Sm2CurveParams kRecommended = {
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC",
    "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93",
    "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7",
    "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123",
};

// GB/T 32918 (2010 edition), the 256-bit prime-field example curve of its
// worked examples.
constexpr Sm2CurveParams kTest = {
    "8542D69E4C044F18E8B92435BF6FF7DE457283915C45517D722EDB8B08F1DFC3",
    "787968B4FA32C3FD2417842E73BBFEFF2F3C848B6831D7E0EC65228B3937E498",
    "63E4C6D3B23B0C849CF84241484BFE48F61D59A5B16BA06E6E12D1DA27C5249A",
    "421DEBD61B62EAB6746434EBC3CC315E32220B3BADD50BDC4C4E6C147FEDD43D",
    "0680512BCBB42C07D47349D2153B70C4E5D7FDFCBFA36EA1A85841B9E46E09A2",
    "8542D69E4C044F18E8B92435BF6FF7DD297720630485628D5AE74EE7C32E79B7",
};

// The example curve has no NID: build it from its parameters (cofactor 1).
EcGroupPtr BuildTestGroup() {
  const Sm2CurveParams& c = kTest;
  BnCtxPtr ctx(BN_CTX_new());
  BnPtr p = SM2_HexBn(c.p), a = SM2_HexBn(c.a), b = SM2_HexBn(c.b);
  BnPtr gx = SM2_HexBn(c.gx), gy = SM2_HexBn(c.gy), n = SM2_HexBn(c.n);
  BnPtr one(BN_new());
  if (!ctx || !p || !a || !b || !gx || !gy || !n || !one || !BN_one(one.get())) {
    return nullptr;
  }
  EcGroupPtr group(EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), ctx.get()));
  if (!group) {
    return nullptr;
  }
  EcPointPtr g(EC_POINT_new(group.get()));
  if (!g ||
      !EC_POINT_set_affine_coordinates(group.get(), g.get(), gx.get(), gy.get(), ctx.get()) ||
      !EC_GROUP_set_generator(group.get(), g.get(), n.get(), one.get())) {
    return nullptr;
  }
  return group;
}

}  // namespace

BnPtr SM2_HexBn(const char* hex) {
  BIGNUM* bn = nullptr;
  if (hex == nullptr || BN_hex2bn(&bn, hex) == 0) {
    return nullptr;
  }
  return BnPtr(bn);
}

const Sm2CurveParams& SM2_CurveParams(Sm2Curve curve) {
  return curve == Sm2Curve::kRecommended ? kRecommended : kTest;
}

const EC_GROUP* SM2_Group(Sm2Curve curve) {
  // Built once (thread-safe static initialisation) and only read afterwards.
  static const EcGroupPtr recommended(EC_GROUP_new_by_curve_name(NID_sm2));
  static const EcGroupPtr test = BuildTestGroup();
  return curve == Sm2Curve::kRecommended ? recommended.get() : test.get();
}

std::optional<Sm2Curve> SM2_IdentifyCurve(const EC_GROUP* group) {
  if (group == nullptr) {
    return std::nullopt;
  }
  if (EC_GROUP_get_curve_name(group) == NID_sm2) {
    return Sm2Curve::kRecommended;
  }
  BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) {
    return std::nullopt;
  }
  for (Sm2Curve curve : {Sm2Curve::kRecommended, Sm2Curve::kTest}) {
    const EC_GROUP* known = SM2_Group(curve);
    if (known != nullptr && EC_GROUP_cmp(group, known, ctx.get()) == 0) {
      return curve;
    }
  }
  return std::nullopt;
}

int SM2_BN2Bytes(const BIGNUM* bn, std::uint8_t out[kSm2FieldBytes]) {
  if (out == nullptr) {
    return 0;
  }
  for (size_t i = 0; i < kSm2FieldBytes; ++i) {
    out[i] = 0;
  }
  if (bn == nullptr || BN_is_negative(bn)) {
    return 0;
  }
  return BN_bn2binpad(bn, out, kSm2FieldBytes) == static_cast<int>(kSm2FieldBytes) ? 1 : 0;
}

int SM2_Bytes2BN(const std::uint8_t in[kSm2FieldBytes], BIGNUM* bn) {
  if (in == nullptr || bn == nullptr) {
    return 0;
  }
  return BN_bin2bn(in, kSm2FieldBytes, bn) != nullptr ? 1 : 0;
}

int SM2_IsAllZero(const std::uint8_t* buf, size_t len) {
  std::uint8_t acc = 0;
  for (size_t i = 0; i < len; ++i) {
    acc |= buf[i];
  }
  return acc == 0 ? 1 : 0;
}

EcPointPtr SM2_PointFromAffine(const EC_GROUP* group, const BIGNUM* x, const BIGNUM* y,
                              BN_CTX* ctx) {
  if (group == nullptr || x == nullptr || y == nullptr) {
    return nullptr;
  }
  const BIGNUM* p = EC_GROUP_get0_field(group);
  // Coordinates at or above p would alias a reduced point: refuse them.
  if (p == nullptr || BN_is_negative(x) || BN_is_negative(y) || BN_cmp(x, p) >= 0 ||
      BN_cmp(y, p) >= 0) {
    return nullptr;
  }
  EcPointPtr point(EC_POINT_new(group));
  if (!point || !EC_POINT_set_affine_coordinates(group, point.get(), x, y, ctx) ||
      EC_POINT_is_on_curve(group, point.get(), ctx) != 1) {
    return nullptr;
  }
  return point;
}

int SM2_CheckPoint(const BIGNUM* x, const BIGNUM* y, Sm2Curve curve) {
  BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) {
    return 0;
  }
  return SM2_PointFromAffine(SM2_Group(curve), x, y, ctx.get()) ? 1 : 0;
}

}  // namespace merro::crypto
