// Independent judges of the key object's ciphers: Wine's own RSA provider
// (rsaenh) for RSA public-key encryption and the DES, triple-DES and RC4
// session ciphers, and OpenSSL for SM2 encryption and raw RSA blocks.
// Every value here is most significant byte first, as the token keeps it.
#pragma once

#include <windows.h>
// After windows.h:
#include <wincrypt.h>

#include <cstdint>
#include <vector>

namespace merro::testing {

using Bytes = std::vector<std::uint8_t>;

// rsaenh's PKCS#1 v1.5 encryption under the public key (modulus n, exponent
// e): the ciphertext turned into the token's byte order. Empty on failure.
Bytes RsaenhPublicEncrypt(const Bytes& n, const Bytes& e, const Bytes& plain);

// rsaenh's encryption with a session key imported as a PLAINTEXTKEYBLOB,
// zero IV, KP_MODE set when mode is not 0, final block with padding. Empty
// on failure (the failing call is reported to the test).
Bytes RsaenhSessionEncrypt(ALG_ID alg, DWORD mode, const Bytes& key, const Bytes& plain);

// The raw RSA public operation (no padding) on a block of modulus length.
Bytes RawRsaPublic(const Bytes& n, const Bytes& e, const Bytes& block);

// OpenSSL's SM2 encryption under the public key x || y, split from its DER
// form (SEQUENCE of x, y, C3, C2) into the four parts.
struct Sm2Parts {
  Bytes x, y, c3, c2;
  Bytes XyC2C3() const;
  Bytes XyC3C2() const;
};
Sm2Parts OpenSslSm2Encrypt(const Bytes& xy, const Bytes& plain);

}  // namespace merro::testing
