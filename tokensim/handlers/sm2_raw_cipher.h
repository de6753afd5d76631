// SM2 decryption of the token's raw ciphertext form 04 || x1 || y1 || C2 ||
// C3 (C3 the 32-byte SM3 check value) with OpenSSL, whose own form is DER
// (C1 as two integers, C3, C2).
#pragma once

#include <openssl/evp.h>

#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim {

constexpr size_t kSm2CipherOverhead = 1 + 64 + 32;  // 04 || x1 || y1 and C3

// Decrypts n raw ciphertext bytes with an SM2 private key into *pPlain.
// False for a malformed ciphertext or a failed check.
bool Sm2DecryptRaw(EVP_PKEY* key, const std::uint8_t* c, size_t n, SecretBytes* pPlain);

// The DER form OpenSSL takes of a raw ciphertext; empty when malformed.
Bytes Sm2RawToDer(const std::uint8_t* c, size_t n);

}  // namespace merro::tokensim
