// The key files of the simulated token: each keeps a public half and a
// private half in its own content (layout in tokensim/README.md, "Key
// files"), so that erasing or deleting the file removes its keys and the
// image file keeps them. The commands of every family that uses a token key
// (generation, import, export, session key, signing, decryption) go through
// these functions.
#pragma once

#include <cstdint>

#include "tokensim/core/file_system.h"
#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim {
class Token;
}

namespace merro::tokensim::keystore {

// Key algorithms (the token's numbers).
constexpr std::uint8_t kAlgRsa1024 = 0x01;
constexpr std::uint8_t kAlgRsa2048 = 0x07;
constexpr std::uint8_t kAlgSm2 = 0x11;
constexpr std::uint8_t kNoKey = 0xFF;  // an empty half (what a new or erased file reads)

constexpr size_t kSm2CoordLen = 32;
constexpr size_t kRsaExponentMax = 4;
// Where the halves live in the file, and the smallest file that holds both.
constexpr size_t kPublicOffset = 0;
constexpr size_t kPrivateOffset = 320;
constexpr size_t kKeyFileMinSize = kPrivateOffset + 1 + 2 * 256;

// Modulus length of an RSA algorithm; 0 for any other value.
size_t ModulusLen(std::uint8_t alg);

// The file of this id when it exists and can hold a key pair; else null and
// *pSw = 6A82 (no such file) or 6985 (too small for keys).
TokenFile* FindKeyFile(Token& token, std::uint16_t fid, std::uint16_t* pSw);

std::uint8_t PublicAlgorithm(const TokenFile& file);
std::uint8_t PrivateAlgorithm(const TokenFile& file);

// Raw halves. RSA: n of ModulusLen(alg) bytes, e of 1 to 4 bytes, d of
// ModulusLen(alg) bytes. SM2: x, y, d of 32 bytes each. Readers return
// false when the half is empty or of another algorithm.
void WriteRsaPublic(TokenFile& file, std::uint8_t alg, const std::uint8_t* n, const std::uint8_t* e,
                    size_t eLen);
void WriteRsaPrivate(TokenFile& file, std::uint8_t alg, const std::uint8_t* n,
                     const std::uint8_t* d);
void WriteSm2Public(TokenFile& file, const std::uint8_t* x, const std::uint8_t* y);
void WriteSm2Private(TokenFile& file, const std::uint8_t* d);
bool ReadRsaPublic(const TokenFile& file, std::uint8_t alg, Bytes* pN, Bytes* pE);
bool ReadSm2Public(const TokenFile& file, Bytes* pXY);

// The halves as OpenSSL keys. PublicKey: the public half. PrivateKey: the
// private half ready for private operations (RSA: n, d and the public
// half's exponent, 65537 without one; SM2: d with its point). Null when the
// half is empty, of another algorithm than *pAlg asks (kNoKey: any), or
// malformed. *pAlg receives the algorithm found.
EvpPkeyPtr PublicKey(const TokenFile& file, std::uint8_t* pAlg);
EvpPkeyPtr PrivateKey(const TokenFile& file, std::uint8_t* pAlg);

// Stores both halves of an RSA-1024, RSA-2048 or SM2 key pair; false for
// any other key.
bool StoreKeyPair(TokenFile& file, const EVP_PKEY* key);

// Builds an SM2 key pair from its private scalar (32 bytes); the public
// point must equal d x G when pXY (64 bytes) is given. Null otherwise.
EvpPkeyPtr Sm2KeyFromPrivate(const std::uint8_t* d, const std::uint8_t* pXY);
// An SM2 public key from x || y (64 bytes); null when the point is not on
// the curve.
EvpPkeyPtr Sm2KeyFromPoint(const std::uint8_t* xy);

}  // namespace merro::tokensim::keystore
