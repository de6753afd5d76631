// Byte-order loads and stores and rotations shared by the host-side
// algorithms (with the foundation's secure wipe).
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/secure_wipe.h"

namespace merro::crypto {

constexpr std::uint32_t Rotl32(std::uint32_t x, unsigned n) {
  return (x << (n & 31)) | (x >> ((32 - n) & 31));
}
constexpr std::uint32_t Rotr32(std::uint32_t x, unsigned n) {
  return (x >> (n & 31)) | (x << ((32 - n) & 31));
}

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
         (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}
inline void StoreBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace merro::crypto
