// The simulated token's side of the host's proofs and of secure messaging,
// on OpenSSL EVP: MD5, CBC with a zero IV and PKCS#7 padding (two-key triple
// DES for external authentication, SM4 for the session key and secure
// messaging), and the derivation of the per-token external-authentication
// key from the chip serial number.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>

#include "tokensim/core/token.h"
#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim {

constexpr size_t kMd5Len = 16;
constexpr size_t kAuthKeyLen = 16;

// Both false when OpenSSL fails; decryption also when the padding is wrong.
bool CbcEncrypt(const EVP_CIPHER* cipher, const std::uint8_t* key, const std::uint8_t* in,
                size_t n, SecretBytes* pOut);
bool CbcDecrypt(const EVP_CIPHER* cipher, const std::uint8_t* key, const std::uint8_t* in,
                size_t n, SecretBytes* pOut);

bool Md5(const std::uint8_t* in, size_t n, std::uint8_t (&out)[kMd5Len]);
// MD5(first || second).
bool Md5Pair(const std::uint8_t* first, size_t firstLen, const std::uint8_t* second,
             size_t secondLen, std::uint8_t (&out)[kMd5Len]);

// The external-authentication key 0x33 of a token: the first 16 bytes of
// the two-key triple-DES CBC encryption of MD5(chip serial number) under
// the configuration key.
bool DeriveExternKey(const std::array<std::uint8_t, kChipSnLen>& chipSn,
                     std::uint8_t (&key)[kAuthKeyLen]);

// The token's current challenge when it has exactly n bytes; the challenge
// is used up either way (one command per challenge).
bool TakeChallenge(Token& token, size_t n, Bytes* pChallenge);

}  // namespace merro::tokensim
