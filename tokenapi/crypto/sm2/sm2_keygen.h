// SM2 key pairs (GB/T 32918.1, 6.1): d uniformly in [1, n - 2], P = dG.
#pragma once

#include <openssl/bn.h>

#include <cstdint>

#include "tokenapi/crypto/sm2/sm2_curve.h"

namespace merro::crypto {

// Into three existing numbers. Returns 1, or 0 on failure.
int SM2_generate_key(BIGNUM* d, BIGNUM* x, BIGNUM* y, Sm2Curve curve = Sm2Curve::kRecommended);

// The same as three 32-byte big-endian values.
int SM2_generate_keypair(std::uint8_t d[kSm2FieldBytes], std::uint8_t x[kSm2FieldBytes],
                         std::uint8_t y[kSm2FieldBytes], Sm2Curve curve = Sm2Curve::kRecommended);

}  // namespace merro::crypto
