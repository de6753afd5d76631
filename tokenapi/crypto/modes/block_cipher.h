// The view of a block cipher that the mode engine needs: its block size and
// the transform of one block under a key schedule that was set up for one
// direction. DES, triple DES and SM4 implement it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace merro::crypto {

constexpr std::size_t kMaxCipherBlockBytes = 16;

class BlockCipher {
 public:
  virtual ~BlockCipher() = default;
  virtual std::size_t BlockBytes() const = 0;
  // Transforms one block; in and out may be the same buffer.
  virtual void ProcessBlock(const std::uint8_t* in, std::uint8_t* out) const = 0;
};

}  // namespace merro::crypto
