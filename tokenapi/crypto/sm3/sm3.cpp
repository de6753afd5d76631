// SM3 hash (GB/T 32905-2016). Round helpers use the standard's symbols:
// FF/GG boolean functions, permutations P0/P1, constants T_j, words W_j.
#include "tokenapi/crypto/sm3/sm3.h"

#include <openssl/crypto.h>

#include <array>
#include <cstring>
#include <new>

#include "tokenapi/crypto/common/bytes.h"

namespace merro::crypto {
namespace {

// Initial value IV (GB/T 32905, 4.1).
constexpr std::uint32_t kIV[kSm3StateWords] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                                               0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

// T_j <<< (j mod 32), precomputed: T_j = 79CC4519 for j < 16, 7A879D8A
// after (GB/T 32905, 4.2).
constexpr std::array<std::uint32_t, 64> MakeRotatedT() {
  std::array<std::uint32_t, 64> t{};
  for (unsigned j = 0; j < 64; ++j) {
    t[j] = Rotl32(j < 16 ? 0x79CC4519u : 0x7A879D8Au, j);
  }
  return t;
}
constexpr std::array<std::uint32_t, 64> kTj = MakeRotatedT();

inline std::uint32_t P0(std::uint32_t x) { return x ^ Rotl32(x, 9) ^ Rotl32(x, 17); }
inline std::uint32_t P1(std::uint32_t x) { return x ^ Rotl32(x, 15) ^ Rotl32(x, 23); }
inline std::uint32_t FF0(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t FF1(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (z & (x | y));
}
inline std::uint32_t GG0(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t GG1(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return z ^ (x & (y ^ z));
}

// One round of the compression function CF. Instead of shifting all eight
// registers, the caller rotates the argument order; the round updates the
// four registers whose values change: B <<< 9, D = TT1, F <<< 19, H = P0(TT2).
// Wj is W_j, Wj4 is W_j xor W_{j+4} (W'_j).
template <bool kLow>
inline void Round(std::uint32_t A, std::uint32_t& B, std::uint32_t C, std::uint32_t& D,
                  std::uint32_t E, std::uint32_t& F, std::uint32_t G, std::uint32_t& H,
                  std::uint32_t Tj, std::uint32_t Wj, std::uint32_t Wj4) {
  const std::uint32_t A12 = Rotl32(A, 12);
  const std::uint32_t SS1 = Rotl32(A12 + E + Tj, 7);
  const std::uint32_t SS2 = SS1 ^ A12;
  const std::uint32_t TT1 = (kLow ? FF0(A, B, C) : FF1(A, B, C)) + D + SS2 + Wj4;
  const std::uint32_t TT2 = (kLow ? GG0(E, F, G) : GG1(E, F, G)) + H + SS1 + Wj;
  B = Rotl32(B, 9);
  D = TT1;
  F = Rotl32(F, 19);
  H = P0(TT2);
}

// Four consecutive rounds starting at round j.
template <bool kLow>
inline void FourRounds(std::uint32_t& A, std::uint32_t& B, std::uint32_t& C, std::uint32_t& D,
                       std::uint32_t& E, std::uint32_t& F, std::uint32_t& G, std::uint32_t& H,
                       const std::uint32_t* W, unsigned j) {
  Round<kLow>(A, B, C, D, E, F, G, H, kTj[j], W[j], W[j] ^ W[j + 4]);
  Round<kLow>(D, A, B, C, H, E, F, G, kTj[j + 1], W[j + 1], W[j + 1] ^ W[j + 5]);
  Round<kLow>(C, D, A, B, G, H, E, F, kTj[j + 2], W[j + 2], W[j + 2] ^ W[j + 6]);
  Round<kLow>(B, C, D, A, F, G, H, E, kTj[j + 3], W[j + 3], W[j + 3] ^ W[j + 7]);
}

// Message expansion (GB/T 32905, 5.3.2) of W_j, done just ahead of the rounds
// that need it.
inline std::uint32_t Expand(const std::uint32_t* W, unsigned j) {
  return P1(W[j - 16] ^ W[j - 9] ^ Rotl32(W[j - 3], 15)) ^ Rotl32(W[j - 13], 7) ^ W[j - 6];
}

// CF applied to `blocks` consecutive 64-byte blocks.
void CompressBlocks(std::uint32_t V[kSm3StateWords], const std::uint8_t* p, size_t blocks) {
  std::uint32_t W[68];
  for (; blocks > 0; --blocks, p += kSm3BlockBytes) {
    for (unsigned j = 0; j < 16; ++j) {
      W[j] = LoadBe32(p + 4 * j);
    }
    std::uint32_t A = V[0], B = V[1], C = V[2], D = V[3];
    std::uint32_t E = V[4], F = V[5], G = V[6], H = V[7];
    // Rounds j..j+3 read W up to W_{j+7}. Fully unrolled, so that the round
    // constants and the round kind are fixed at compile time.
#if defined(__GNUC__)
#pragma GCC unroll 16
#endif
    for (unsigned j = 0; j < 64; j += 4) {
      if (j >= 12) {
        W[j + 4] = Expand(W, j + 4);
        W[j + 5] = Expand(W, j + 5);
        W[j + 6] = Expand(W, j + 6);
        W[j + 7] = Expand(W, j + 7);
      }
      if (j < 16) {
        FourRounds<true>(A, B, C, D, E, F, G, H, W, j);
      } else {
        FourRounds<false>(A, B, C, D, E, F, G, H, W, j);
      }
    }
    V[0] ^= A;
    V[1] ^= B;
    V[2] ^= C;
    V[3] ^= D;
    V[4] ^= E;
    V[5] ^= F;
    V[6] ^= G;
    V[7] ^= H;
  }
  OPENSSL_cleanse(W, sizeof(W));
}

}  // namespace

int SM3_Init(SM3_CTX* ctx) {
  if (ctx == nullptr) {
    return 0;
  }
  std::memset(ctx->block, 0, sizeof(ctx->block));
  ctx->num = 0;
  std::memcpy(ctx->V, kIV, sizeof(kIV));
  ctx->total = 0;
  return 1;
}

int SM3_Compress(SM3_CTX* ctx, const std::uint8_t block[kSm3BlockBytes]) {
  if (ctx == nullptr || block == nullptr) {
    return 0;
  }
  CompressBlocks(ctx->V, block, 1);
  ctx->total += kSm3BlockBytes;
  return 1;
}

int SM3_Update(SM3_CTX* ctx, const void* data, size_t len) {
  if (ctx == nullptr || ctx->num > kSm3BlockBytes) {
    return 0;
  }
  if (data == nullptr) {
    return 1;
  }
  const auto* in = static_cast<const std::uint8_t*>(data);
  const size_t room = kSm3BlockBytes - ctx->num;
  if (len <= room) {
    // Fits, a full block included: it stays pending until more data or the final.
    std::memcpy(ctx->block + ctx->num, in, len);
    ctx->num += static_cast<std::uint32_t>(len);
    return 1;
  }
  std::memcpy(ctx->block + ctx->num, in, room);
  in += room;
  len -= room;
  SM3_Compress(ctx, ctx->block);
  const size_t blocks = len / kSm3BlockBytes;
  CompressBlocks(ctx->V, in, blocks);
  ctx->total += static_cast<std::uint64_t>(blocks) * kSm3BlockBytes;
  in += blocks * kSm3BlockBytes;
  len -= blocks * kSm3BlockBytes;
  std::memcpy(ctx->block, in, len);
  ctx->num = static_cast<std::uint32_t>(len);
  return 1;
}

int SM3_Final(SM3_CTX* ctx, std::uint32_t V[kSm3StateWords]) {
  if (ctx == nullptr || V == nullptr || ctx->num > kSm3BlockBytes) {
    return 0;
  }
  // Padding (GB/T 32905, 5.2): 0x80, zeros, then the 64-bit big-endian bit
  // count. Pending data of 56 bytes or more needs a second block.
  const std::uint64_t bits = (ctx->total + ctx->num) * 8;
  size_t num = ctx->num;
  if (num < kSm3BlockBytes) {
    ctx->block[num++] = 0x80;
  }
  if (num > kSm3BlockBytes - 8) {
    std::memset(ctx->block + num, 0, kSm3BlockBytes - num);
    const bool markerWritten = ctx->num < kSm3BlockBytes;
    SM3_Compress(ctx, ctx->block);
    num = 0;
    if (!markerWritten) {
      ctx->block[num++] = 0x80;
    }
  }
  std::memset(ctx->block + num, 0, kSm3BlockBytes - 8 - num);
  StoreBe32(ctx->block + 56, static_cast<std::uint32_t>(bits >> 32));
  StoreBe32(ctx->block + 60, static_cast<std::uint32_t>(bits));
  CompressBlocks(ctx->V, ctx->block, 1);
  std::memcpy(V, ctx->V, sizeof(ctx->V));
  return 1;
}

int SM3_FinalDigest(SM3_CTX* ctx, std::uint8_t digest[kSm3DigestBytes]) {
  std::uint32_t V[kSm3StateWords];
  if (digest == nullptr || !SM3_Final(ctx, V)) {
    return 0;
  }
  for (size_t i = 0; i < kSm3StateWords; ++i) {
    StoreBe32(digest + 4 * i, V[i]);
  }
  OPENSSL_cleanse(V, sizeof(V));
  return 1;
}

int SM3(const void* data, size_t len, std::uint8_t digest[kSm3DigestBytes]) {
  SM3_CTX ctx;
  const int ok = SM3_Init(&ctx) && SM3_Update(&ctx, data, len) && SM3_FinalDigest(&ctx, digest);
  OPENSSL_cleanse(&ctx, sizeof(ctx));
  return ok ? 1 : 0;
}

int SM3Init(SM3_CTX** ppState) {
  if (ppState == nullptr) {
    return 0;
  }
  auto* state = new (std::nothrow) SM3_CTX;
  if (state == nullptr) {
    return 0;
  }
  SM3_Init(state);
  *ppState = state;
  return 1;
}

int SM3Update(SM3_CTX* pState, const void* pData, size_t nLen) {
  return SM3_Update(pState, pData, nLen);
}

int SM3Final(SM3_CTX* pState, std::uint8_t* pDigest) {
  if (pState == nullptr) {
    return 2;
  }
  const int ok = SM3_FinalDigest(pState, pDigest);
  // The state dies here whatever happened: the handle is single-use.
  OPENSSL_cleanse(pState, sizeof(*pState));
  delete pState;
  return ok ? 1 : 2;
}

}  // namespace merro::crypto
