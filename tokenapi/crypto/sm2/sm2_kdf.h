// The key derivation function of SM2 encryption (GB/T 32918.4, 5.4.3).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenapi/crypto/sm2/sm2_curve.h"

namespace merro::crypto {

constexpr size_t kSm2KdfInputBytes = 2 * kSm2FieldBytes;  // x2 || y2

// Writes the first klen bits (klen / 8 whole bytes) of
// SM3(Z || ct=1) || SM3(Z || ct=2) || ..., ct a 32-bit big-endian counter.
// Returns 1, or 0 for a null argument or a length beyond the counter's range.
int SM2_KDF(const std::uint8_t Z[kSm2KdfInputBytes], std::uint8_t* out, size_t klen);

}  // namespace merro::crypto
