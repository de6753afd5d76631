// Key material for the key-slot tests, made and judged by OpenSSL: RSA and
// SM2 key pairs as big-endian parts, and whether x || y is a point of the
// SM2 curve. Values are most significant byte first, as the token holds them.
#pragma once

#include <cstdint>
#include <vector>

namespace merro::testing {

using KeyBytes = std::vector<std::uint8_t>;

struct RsaKeyParts {
  KeyBytes n;  // as long as the modulus
  KeyBytes e;  // without leading zeros
  KeyBytes d;  // without leading zeros
};
// A fresh RSA key pair with the exponent 65537.
RsaKeyParts GenerateRsaKeyParts(int bits);

struct Sm2KeyParts {
  KeyBytes xy;  // 64 bytes
  KeyBytes d;   // 32 bytes
};
// A fresh SM2 key pair on the recommended curve.
Sm2KeyParts GenerateSm2KeyParts();

// Whether x || y (64 bytes) is a point of the SM2 curve.
bool IsSm2CurvePoint(const KeyBytes& xy);

}  // namespace merro::testing
