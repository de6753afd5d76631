// OpenSSL as the independent judge of the token's signatures and
// decryptions in the signing tests, and key placement in the in-process
// simulator.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/platform.h"

namespace merro::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes in the other order: CryptoAPI blobs and signatures are least
// significant byte first, the token and OpenSSL most significant first.
inline Bytes Reversed(const Bytes& b) { return Bytes(b.rbegin(), b.rend()); }

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Public keys for OpenSSL from what the token exports: x || y (64 bytes),
// or the RSA modulus and exponent (big-endian).
PkeyPtr Sm2PublicKey(const Bytes& xy);
PkeyPtr RsaPublicKey(const Bytes& n, const Bytes& e);

// The 32-byte e = SM3(Z || message) for the identity "1234567812345678".
Bytes Sm2MessageDigest(EVP_PKEY* key, const Bytes& message);
// Checks r || s over the message with OpenSSL's SM2 (identity
// "1234567812345678").
bool Sm2VerifyMessage(EVP_PKEY* key, const Bytes& message, const Bytes& signature);
// x || y of an SM2 key (64 bytes).
Bytes Sm2PublicXY(EVP_PKEY* key);

// md's digest of data.
Bytes Digest(const EVP_MD* md, const Bytes& data);
// PKCS#1 v1.5 verification of a digest: with md's DigestInfo, or over the
// bytes alone when md is null.
bool RsaVerifyDigest(EVP_PKEY* key, const EVP_MD* md, const Bytes& digest, const Bytes& signature);
// The PKCS#1 v1.5 signature block (type 1) of a SHA-256 digest for a
// modulus of k bytes: what the host signs with the raw private operation.
Bytes Pkcs1SignatureBlock(const Bytes& sha256Digest, size_t k);

}  // namespace merro::testing
