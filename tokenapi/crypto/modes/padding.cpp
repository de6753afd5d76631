#include "tokenapi/crypto/modes/padding.h"

#include <cstring>

namespace merro::crypto {

namespace {
// All ones when a < b, else zero, without a branch (a, b < 2^31).
inline std::size_t MaskLess(std::size_t a, std::size_t b) {
  return static_cast<std::size_t>(0) - ((a - b) >> (sizeof(std::size_t) * 8 - 1));
}
}  // namespace

void AddPkcsPadding(std::uint8_t* block, std::size_t used, std::size_t blockBytes) {
  const std::size_t n = blockBytes - used;
  std::memset(block + used, static_cast<int>(n), n);
}

std::size_t PkcsUnpaddedLength(const std::uint8_t* block, std::size_t blockBytes) {
  const std::size_t n = block[blockBytes - 1];
  // n must lie in 1..blockBytes.
  std::size_t bad = ~MaskLess(0, n) | ~MaskLess(n, blockBytes + 1);
  for (std::size_t i = 0; i < blockBytes; ++i) {
    // Byte i belongs to the padding when i >= blockBytes - n.
    const std::size_t inPad = ~MaskLess(i, blockBytes - n);
    bad |= inPad & (block[i] ^ n);
  }
  return bad != 0 ? kPaddingInvalid : blockBytes - n;
}

}  // namespace merro::crypto
