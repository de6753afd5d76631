// OpenSSL's RSA keys in the two forms the key object converts between: the
// body of a CryptoAPI private-key blob (little-endian parts) and the
// big-endian values the token's key record holds. No Windows header here:
// wincrypt.h and OpenSSL's headers do not mix.
#pragma once

#include <cstdint>
#include <vector>

namespace merro::testing {

struct RsaBlobKey {
  std::vector<std::uint8_t> body;  // modulus, P, Q, dP, dQ, qInv, d: little-endian
  std::vector<std::uint8_t> n;     // big-endian, as long as the modulus
  std::vector<std::uint8_t> e;     // big-endian, without leading zeros
  std::vector<std::uint8_t> d;     // big-endian, as long as the modulus
};

// A fresh OpenSSL RSA key of `bits` bits (exponent 65537) in both forms.
RsaBlobKey GenerateRsaBlobKey(int bits);

}  // namespace merro::testing
