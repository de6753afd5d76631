// PKCS#7 block padding (RFC 5652, 6.3): n bytes of value n, 1 <= n <= B.
#pragma once

#include <cstddef>
#include <cstdint>

namespace merro::crypto {

// Returned by PkcsUnpaddedLength for a block whose padding is not valid.
constexpr std::size_t kPaddingInvalid = static_cast<std::size_t>(-1);

// Fills bytes used..blockBytes-1 of block with the value blockBytes - used
// (a whole block of blockBytes when used is 0). Requires used < blockBytes.
void AddPkcsPadding(std::uint8_t* block, std::size_t used, std::size_t blockBytes);

// The number of data bytes in a decrypted last block (0 to blockBytes - 1),
// or kPaddingInvalid when its last byte n is not 1..blockBytes or the last n
// bytes are not all n. The bytes are examined in constant time.
std::size_t PkcsUnpaddedLength(const std::uint8_t* block, std::size_t blockBytes);

}  // namespace merro::crypto
