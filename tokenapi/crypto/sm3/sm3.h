// SM3 cryptographic hash (GB/T 32905-2016).
//
// Two layers: the primitives on a caller-owned SM3_CTX, and the digest
// adapters (SM3Init / SM3Update / SM3Final) that allocate the state, feed it
// and free it, in the shape every software digest of the library shares.
#pragma once

#include <cstddef>
#include <cstdint>

namespace merro::crypto {

constexpr size_t kSm3BlockBytes = 64;   // message block (GB/T 32905, 5.2)
constexpr size_t kSm3DigestBytes = 32;  // 256-bit hash value
constexpr size_t kSm3StateWords = 8;    // chaining value V = A..H

struct SM3_CTX {
  std::uint8_t block[kSm3BlockBytes];  // pending message bytes
  std::uint32_t num;                   // pending byte count, 0..64 (a full block stays pending)
  std::uint32_t V[kSm3StateWords];     // chaining value
  std::uint64_t total;                 // message bytes already compressed (64-bit: no wrap at 4 GiB)
};

// Primitives. Return 1 on success, 0 on failure.
int SM3_Init(SM3_CTX* ctx);
// A null data pointer changes nothing and succeeds.
int SM3_Update(SM3_CTX* ctx, const void* data, size_t len);
// Pads, compresses the last one or two blocks and hands out V. The context is
// not reset.
int SM3_Final(SM3_CTX* ctx, std::uint32_t V[kSm3StateWords]);
// As SM3_Final, writing V as the 32-byte big-endian digest.
int SM3_FinalDigest(SM3_CTX* ctx, std::uint8_t digest[kSm3DigestBytes]);
// One block into V; total grows by 64.
int SM3_Compress(SM3_CTX* ctx, const std::uint8_t block[kSm3BlockBytes]);
// One-shot digest.
int SM3(const void* data, size_t len, std::uint8_t digest[kSm3DigestBytes]);

// Digest adapters. SM3Init allocates and initialises a state and stores it in
// *ppState (1, or 0 when allocation fails). SM3Update returns 1, or 0 for a
// null state. SM3Final writes the digest and wipes and frees the state on
// every path (a null digest still frees it); 1 on success, 2 on failure.
int SM3Init(SM3_CTX** ppState);
int SM3Update(SM3_CTX* pState, const void* pData, size_t nLen);
int SM3Final(SM3_CTX* pState, std::uint8_t* pDigest);

}  // namespace merro::crypto
