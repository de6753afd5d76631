// The two SM2 curves of GB/T 32918 and the 32-byte forms that every scalar
// and coordinate takes on the host.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/sm2/sm2_sizes.h"

namespace merro::crypto {

enum class Sm2Curve {
  kRecommended,  // the recommended curve (OpenSSL's NID_sm2)
  kTest,         // the 256-bit example curve of GB/T 32918 (no NID)
};

// Curve parameters as big-endian hexadecimal texts.
struct Sm2CurveParams {
  const char* p;
  const char* a;
  const char* b;
  const char* gx;
  const char* gy;
  const char* n;
};
const Sm2CurveParams& SM2_CurveParams(Sm2Curve curve);
// A number from one of those texts; empty when it cannot be made.
BnPtr SM2_HexBn(const char* hex);

// The curve's group, built once and shared read-only; null only when
// OpenSSL cannot build it (out of memory).
const EC_GROUP* SM2_Group(Sm2Curve curve);

// Which SM2 curve a group is: by NID for the recommended curve, by its
// parameters otherwise. Empty for every other curve.
std::optional<Sm2Curve> SM2_IdentifyCurve(const EC_GROUP* group);

// 32 bytes, big-endian, zero-filled on the left; fails (0) when the number
// needs more than 32 bytes. The output is cleared first.
int SM2_BN2Bytes(const BIGNUM* bn, std::uint8_t out[kSm2FieldBytes]);
// The 32 bytes as a non-negative number.
int SM2_Bytes2BN(const std::uint8_t in[kSm2FieldBytes], BIGNUM* bn);

// 1 when every byte is zero or len is 0. Runs in time independent of the
// contents.
int SM2_IsAllZero(const std::uint8_t* buf, size_t len);

// A point of the group from affine coordinates: both must be below p and the
// point must lie on the curve. Empty otherwise.
EcPointPtr SM2_PointFromAffine(const EC_GROUP* group, const BIGNUM* x, const BIGNUM* y,
                              BN_CTX* ctx);

// 1 when (x, y) is a point of the given curve (the recommended one by default).
int SM2_CheckPoint(const BIGNUM* x, const BIGNUM* y,
                   Sm2Curve curve = Sm2Curve::kRecommended);

}  // namespace merro::crypto
