// The fixed sizes of SM2's numbers, signatures and raw ciphertext
// (0x04 || x1 || y1 || C2 || C3), apart from the curve code so that layers
// which only size buffers need no OpenSSL header.
#pragma once

#include <cstddef>

namespace merro::crypto {

constexpr size_t kSm2FieldBytes = 32;                          // every scalar and coordinate
constexpr size_t kSm2PublicKeyBytes = 2 * kSm2FieldBytes;      // x then y
constexpr size_t kSm2KeyPairBytes = 3 * kSm2FieldBytes;        // x, y, then d
constexpr size_t SM2_SIGNATURE_RS_SIZE = 2 * kSm2FieldBytes;   // r then s
constexpr size_t kSm2DigestBytes = 32;                         // e, an SM3 value
constexpr size_t kSm2C1Bytes = 1 + 2 * kSm2FieldBytes;         // 0x04 || x1 || y1
constexpr size_t kSm2C3Bytes = 32;                             // SM3 value
constexpr size_t kSm2CipherOverhead = kSm2C1Bytes + kSm2C3Bytes;  // 97

}  // namespace merro::crypto
