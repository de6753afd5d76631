// The simulator's own wrapping of imported key pairs (tokensim/README.md,
// "Wrapped key import"): a 16-byte SM4 key travels SM2-encrypted under the
// public key of the token's key file 0x0012, the key pair SM4-CBC-encrypted
// under that key (zero IV, no padding).
#pragma once

#include <cstdint>

#include "tokensim/core/command.h"
#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim {
class Token;
}

namespace merro::tokensim::keywrap {

constexpr std::uint16_t kUnwrapKeyFid = 0x0012;
constexpr size_t kWrapKeyLen = 16;
constexpr size_t kWrappedWrapKeyLen = 113;  // 04 || x1 || y1 || C2 (16) || C3
constexpr size_t kWrapKeyBlockLen = 128;    // the 113 bytes, then zeros
constexpr size_t kRsaPairBlocks = 5;
constexpr size_t kRsaPairLen = 640;      // n (256) || d (256) || e (4) || zeros
constexpr size_t kSm2PairPlainLen = 96;  // x || y || d
constexpr size_t kSm2PairBlobLen = kWrappedWrapKeyLen + kSm2PairPlainLen;  // 209
// x || y || d SM2-encrypted whole under file 0x0012: 04 || x1 || y1 || C2 || C3.
constexpr size_t kSm2PairCipherLen = 1 + 64 + kSm2PairPlainLen + 32;  // 193

// Decrypts n bytes of raw SM2 ciphertext (04 || x1 || y1 || C2 || C3) under
// the private key of file 0x0012 into *pPlain: 9000; 6985 when that file
// holds no key, 6A80 when the ciphertext does not decrypt (C3 differs).
std::uint16_t DecryptUnderTokenKey(Token& token, const std::uint8_t* c, size_t n, SecretBytes* pPlain);

// The SM4 key of a wrapped-key block of n bytes (113 bytes of SM2
// ciphertext, then zeros up to n) under the private key of file 0x0012.
// A status word other than 9000 when it does not unwrap.
std::uint16_t UnwrapKey(Token& token, const std::uint8_t* block, size_t n, SecretBytes* pKey);

// SM4-CBC decryption with a zero IV and no padding; n a multiple of 16.
bool Sm4CbcDecrypt(const std::uint8_t* key, const std::uint8_t* in, size_t n, SecretBytes* pOut);

}  // namespace merro::tokensim::keywrap
