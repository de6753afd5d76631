// The DES block function (FIPS 46-3) on which single and triple DES stand.
#pragma once

#include <cstddef>
#include <cstdint>

namespace merro::crypto {

constexpr std::size_t kDesBlockBytes = 8;
constexpr std::size_t kDesKeyBytes = 8;

// The 16 round keys of one DES pass in one direction: a decryption schedule
// holds the round keys of the encryption schedule in reverse order. Each
// round key is kept as two words of four 6-bit groups each, placed where the
// round function needs them, so 32 words in all. Parity bits are ignored.
struct DesSchedule {
  std::uint32_t k[32];
};

// Builds the schedule of one 8-byte key for encryption or decryption.
void DesSetKey(const std::uint8_t* key, bool decrypt, DesSchedule* schedule);

// One block through 1 or 3 schedules in order: 8 bytes taken as two
// big-endian words (bytes 0-3 left, 4-7 right) and written back the same
// way. Three schedules run as one pass each, with the inner final and
// initial permutations cancelled out. in and out may be the same buffer.
void DesCryptBlock(const DesSchedule* schedules, std::size_t count, const std::uint8_t* in,
                   std::uint8_t* out);

}  // namespace merro::crypto
