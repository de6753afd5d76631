// SM2 public-key encryption (GB/T 32918.4, 6 and 7) in the raw layout
// 0x04 || x1 || y1 || C2 || C3, len + 97 bytes for len plaintext bytes.
#pragma once

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>

#include "tokenapi/crypto/sm2/sm2_curve.h"

namespace merro::crypto {

// Encrypts len (at least 1) bytes under the public point (x, y) into out,
// which must hold len + 97 bytes (outSize). Returns 1, or 0 on failure: an
// empty plaintext, a point that is not on the curve, a short output.
int SM2_encrypt(const std::uint8_t* in, size_t len, const BIGNUM* x, const BIGNUM* y,
                std::uint8_t* out, size_t outSize, Sm2Curve curve = Sm2Curve::kRecommended);

// Decrypts a raw ciphertext of inLen bytes with the private scalar d into out
// (inLen - 97 bytes, outSize the room there). The plaintext is checked
// against C3 before anything is written: on failure out is left untouched.
// Returns 1, or 0 on any failure (too short, C1 not on the curve, C3 differs).
int SM2_decrypt(const std::uint8_t* in, size_t inLen, const BIGNUM* d, std::uint8_t* out,
                size_t outSize, Sm2Curve curve = Sm2Curve::kRecommended);

}  // namespace merro::crypto
