// Digest adapters for SHA-1, SHA-256 and SHA-512 (FIPS 180-4) on OpenSSL's
// EVP interface, in the shape every software digest of the library shares:
// Init allocates and initialises a state and stores it in *ppState, Update
// feeds it, Final writes the digest and frees the state. Each returns 1 for
// success and 0 for failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <openssl/evp.h>

#include "tokenapi/crypto/common/openssl_ptr.h"

namespace merro::crypto {

constexpr std::size_t kSha1DigestBytes = 20;
constexpr std::size_t kSha256DigestBytes = 32;
constexpr std::size_t kSha512DigestBytes = 64;

using ShaState = EVP_MD_CTX;

// 0 when ppState is null or the state cannot be made (nothing stored).
int SHA1Init(ShaState** ppState);
int SHA256Init(ShaState** ppState);
int SHA512Init(ShaState** ppState);

// 0 when the state is null or is another algorithm's, or data is null with
// len > 0.
int SHA1Update(ShaState* state, const std::uint8_t* data, std::uint32_t len);
int SHA256Update(ShaState* state, const std::uint8_t* data, std::uint32_t len);
int SHA512Update(ShaState* state, const std::uint8_t* data, std::uint32_t len);

// Writes the digest and frees the state on every path once the state is
// not null; 0 when digest is null or the state is another algorithm's.
int SHA1Final(ShaState* state, std::uint8_t* digest);
int SHA256Final(ShaState* state, std::uint8_t* digest);
int SHA512Final(ShaState* state, std::uint8_t* digest);

using ShaStatePtr = std::unique_ptr<ShaState, OpenSslDeleter<EVP_MD_CTX_free>>;

}  // namespace merro::crypto
