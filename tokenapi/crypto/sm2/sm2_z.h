// The user's hash value Z of SM2 (GB/T 32918.2, 5.5):
// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA).
#pragma once

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>

#include "tokenapi/crypto/sm2/sm2_curve.h"

namespace merro::crypto {

constexpr size_t kSm2ZBytes = 32;
// ENTL is the identity's length in bits in two bytes: below 8192 bytes.
constexpr size_t kSm2MaxIdBytes = 8191;

// The default user identity of GM/T 0009-2012 (16 bytes, ENTL 0x0080).
extern const std::uint8_t kSm2DefaultId[16];

// Z for the given identity, curve values and public point. Returns 1, or 0
// for an identity of 8192 bytes or more or a value that does not fit 32 bytes.
int SM2_CalculateZValue(const std::uint8_t* id, size_t idLen, const BIGNUM* a, const BIGNUM* b,
                        const BIGNUM* Gx, const BIGNUM* Gy, const BIGNUM* xA, const BIGNUM* yA,
                        std::uint8_t Z[kSm2ZBytes]);

// Z with the default identity and the recommended curve's values, for a
// public point given as 32-byte x and y.
int SM2_CalculateDefaultZValue(const std::uint8_t x[kSm2FieldBytes],
                               const std::uint8_t y[kSm2FieldBytes], std::uint8_t Z[kSm2ZBytes]);

}  // namespace merro::crypto
