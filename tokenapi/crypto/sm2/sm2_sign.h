// SM2 digital signature (GB/T 32918.2, 6 and 7) over a 32-byte value e,
// normally SM3(Z || M).
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstdint>

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/sm2/sm2_curve.h"

namespace merro::crypto {

// Signs e with the private scalar d (which must lie in [1, n - 2]). Returns
// the pair (r, s), or empty on failure.
EcdsaSigPtr SM2_sign(const BIGNUM* e, const BIGNUM* d, Sm2Curve curve = Sm2Curve::kRecommended);

// The same on 32-byte big-endian values; r and s are written only on success.
int SM2_sign_ex(const std::uint8_t e[kSm2DigestBytes], const std::uint8_t d[kSm2FieldBytes],
                std::uint8_t r[kSm2FieldBytes], std::uint8_t s[kSm2FieldBytes],
                Sm2Curve curve = Sm2Curve::kRecommended);

// 1 when (r, s) is a valid signature of e under the public point (x, y);
// 0 otherwise (a point off the curve included).
int SM2_verify(const ECDSA_SIG* sig, const BIGNUM* x, const BIGNUM* y, const BIGNUM* e,
               Sm2Curve curve = Sm2Curve::kRecommended);

// The same on 32-byte big-endian values.
int SM2_verify_ex(const std::uint8_t r[kSm2FieldBytes], const std::uint8_t s[kSm2FieldBytes],
                  const std::uint8_t x[kSm2FieldBytes], const std::uint8_t y[kSm2FieldBytes],
                  const std::uint8_t e[kSm2DigestBytes], Sm2Curve curve = Sm2Curve::kRecommended);

}  // namespace merro::crypto
