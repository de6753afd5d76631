#include "tokenapi/crypto/des/des_core.h"

#include <array>

#include "tokenapi/crypto/common/bytes.h"

namespace merro::crypto {

namespace {

// FIPS 46-3 tables; bit positions count from 1 at the most significant bit.
constexpr std::uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                                   23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                                   41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                                   44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
// Left shifts of C and D before each round.
constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
// Permutation P of the round function.
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
// The eight S-boxes, each 4 rows of 16 columns.
constexpr std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4,  13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2,  8, 5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9,  10, 6, 9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1,  13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8, 13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2, 15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8, 1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Output bit i of the permutation takes input bit table[i]; inBits and the
// result count from the most significant bit of their width.
constexpr std::uint64_t Permute(std::uint64_t in, const std::uint8_t* table, int outBits,
                                int inBits) {
  std::uint64_t out = 0;
  for (int i = 0; i < outBits; ++i) {
    out = (out << 1) | ((in >> (inBits - table[i])) & 1u);
  }
  return out;
}

// The round function's S-box and P stage as eight 64-entry tables: SP[j][v]
// is P applied to S_j(v) in its place. The round works on halves rotated
// right by one bit (see Round), so the entries are rotated the same way.
struct SpTables {
  std::uint32_t t[8][64];
};
constexpr SpTables MakeSpTables() {
  SpTables sp{};
  for (int j = 0; j < 8; ++j) {
    for (int v = 0; v < 64; ++v) {
      const int row = ((v >> 4) & 2) | (v & 1);
      const int col = (v >> 1) & 15;
      const std::uint32_t s = static_cast<std::uint32_t>(kS[j][row * 16 + col]) << (28 - 4 * j);
      const auto p = static_cast<std::uint32_t>(Permute(s, kP, 32, 32));
      sp.t[j][v] = (p >> 1) | (p << 31);
    }
  }
  return sp;
}
constexpr SpTables kSp = MakeSpTables();

// One DES round on halves held rotated right by one bit. With x = ROTR(R, 1)
// the expansion E puts group j (j = 0, 2, 4, 6) at bits 26 - 4j of x and the
// odd groups at the same places of ROTL(x, 4), which is how the round keys
// were laid out.
inline std::uint32_t F(std::uint32_t x, const std::uint32_t* k) {
  const std::uint32_t u = x ^ k[0];
  const std::uint32_t t = Rotl32(x, 4) ^ k[1];
  return kSp.t[0][(u >> 26) & 63] ^ kSp.t[2][(u >> 18) & 63] ^ kSp.t[4][(u >> 10) & 63] ^
         kSp.t[6][(u >> 2) & 63] ^ kSp.t[1][(t >> 26) & 63] ^ kSp.t[3][(t >> 18) & 63] ^
         kSp.t[5][(t >> 10) & 63] ^ kSp.t[7][(t >> 2) & 63];
}

// 16 rounds; on return l and r hold L16 and R16 (rotated).
inline void Rounds(std::uint32_t& l, std::uint32_t& r, const DesSchedule& s) {
  for (int i = 0; i < 32; i += 4) {
    l ^= F(r, s.k + i);
    r ^= F(l, s.k + i + 2);
  }
}

// Exchanges the bits of b selected by mask with the bits of a that lie
// `shift` places higher.
inline void SwapMove(std::uint32_t& a, std::uint32_t& b, unsigned shift, std::uint32_t mask) {
  const std::uint32_t w = ((a >> shift) ^ b) & mask;
  b ^= w;
  a ^= w << shift;
}

// The initial permutation IP as five exchanges of bit groups, and its
// inverse as the same exchanges in reverse order.
inline void InitialPermutation(std::uint32_t& l, std::uint32_t& r) {
  SwapMove(l, r, 4, 0x0f0f0f0f);
  SwapMove(l, r, 16, 0x0000ffff);
  SwapMove(r, l, 2, 0x33333333);
  SwapMove(r, l, 8, 0x00ff00ff);
  SwapMove(l, r, 1, 0x55555555);
}
inline void FinalPermutation(std::uint32_t& l, std::uint32_t& r) {
  SwapMove(l, r, 1, 0x55555555);
  SwapMove(r, l, 8, 0x00ff00ff);
  SwapMove(r, l, 2, 0x33333333);
  SwapMove(l, r, 16, 0x0000ffff);
  SwapMove(l, r, 4, 0x0f0f0f0f);
}

}  // namespace

void DesSetKey(const std::uint8_t* key, bool decrypt, DesSchedule* schedule) {
  std::uint64_t k = 0;
  for (std::size_t i = 0; i < kDesKeyBytes; ++i) {
    k = (k << 8) | key[i];
  }
  std::uint64_t cd = Permute(k, kPc1, 56, 64);
  std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & 0x0fffffff;
  std::uint32_t d = static_cast<std::uint32_t>(cd) & 0x0fffffff;
  for (int round = 0; round < 16; ++round) {
    c = ((c << kShifts[round]) | (c >> (28 - kShifts[round]))) & 0x0fffffff;
    d = ((d << kShifts[round]) | (d >> (28 - kShifts[round]))) & 0x0fffffff;
    const std::uint64_t sub = Permute((std::uint64_t{c} << 28) | d, kPc2, 48, 56);
    std::uint32_t even = 0;
    std::uint32_t odd = 0;
    for (int j = 0; j < 8; ++j) {
      const auto group = static_cast<std::uint32_t>(sub >> (42 - 6 * j)) & 63;
      const unsigned at = 26 - 8 * (j / 2);
      (j % 2 == 0 ? even : odd) |= group << at;
    }
    const int slot = decrypt ? 15 - round : round;
    schedule->k[2 * slot] = even;
    schedule->k[2 * slot + 1] = odd;
  }
  // The key and its halves stay nowhere but in the schedule.
  SecureWipe(&k, sizeof(k));
  SecureWipe(&cd, sizeof(cd));
  SecureWipe(&c, sizeof(c));
  SecureWipe(&d, sizeof(d));
}

void DesCryptBlock(const DesSchedule* schedules, std::size_t count, const std::uint8_t* in,
                   std::uint8_t* out) {
  std::uint32_t l = LoadBe32(in);
  std::uint32_t r = LoadBe32(in + 4);
  InitialPermutation(l, r);
  l = Rotr32(l, 1);
  r = Rotr32(r, 1);
  for (std::size_t i = 0; i < count; ++i) {
    Rounds(l, r, schedules[i]);
    // The output of a pass is R16 || L16; the next pass starts from it.
    const std::uint32_t t = l;
    l = r;
    r = t;
  }
  l = Rotl32(l, 1);
  r = Rotl32(r, 1);
  FinalPermutation(l, r);
  StoreBe32(out, l);
  StoreBe32(out + 4, r);
}

}  // namespace merro::crypto
