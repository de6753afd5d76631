// The public keys that a CryptoAPI provider exports as PUBLICKEYBLOB, read
// into the big-endian values OpenSSL takes. Only the two layouts this
// token's keys come in: RSA (header, "RSA1", bit length, exponent, modulus)
// and SM2 (header, bit length 256, x and y each followed by 32 zero bytes).
// The blob's numbers are little-endian. No Windows header here, so that the
// OpenSSL side can use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace merro::demo {

using Bytes = std::vector<std::uint8_t>;

struct PublicKey {
  enum class Kind { Rsa, Sm2 };
  Kind kind = Kind::Rsa;
  std::uint32_t algId = 0;  // the header's aiKeyAlg
  std::uint32_t bits = 0;
  Bytes n;   // RSA modulus, as long as the bit length says
  Bytes e;   // RSA exponent, without leading zeros
  Bytes xy;  // SM2 point x || y, 64 bytes
};

// Reads a PUBLICKEYBLOB. false, with the reason in *pWhy, when the blob is
// not one of the two layouts or its length does not match its header.
bool ReadPublicKeyBlob(const Bytes& blob, PublicKey* pKey, std::string* pWhy);

}  // namespace merro::demo
