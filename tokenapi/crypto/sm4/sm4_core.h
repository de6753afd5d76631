// The SM4 block cipher (GB/T 32907-2016).
#pragma once

#include <cstddef>
#include <cstdint>

namespace merro::crypto {

constexpr std::size_t kSm4BlockBytes = 16;
constexpr std::size_t kSm4KeyBytes = 16;
constexpr std::size_t kSm4Rounds = 32;

// Key expansion: the 32 round keys rk[0..31] of a 16-byte key, in the order
// encryption uses them.
void SM4_SetKey(const std::uint8_t* key, std::uint32_t* rk);

// 32 rounds over one 16-byte block with the round keys in the order given
// (reversed round keys decrypt). in and out may be the same buffer.
void SM4_Block(const std::uint8_t* in, const std::uint32_t* rk, std::uint8_t* out);

}  // namespace merro::crypto
