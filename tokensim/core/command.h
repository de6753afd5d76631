// One parsed command frame and the reply a handler builds for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tokensim/core/status_words.h"

namespace merro::tokensim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kClaPlain = 0xB0;
constexpr std::uint8_t kClaProtected = 0xB4;
constexpr size_t kHeaderLen = 6;
constexpr size_t kMaxFrameLen = kHeaderLen + 255;
// A 256-byte data-in transfer carries SW1, SW2, N and at most 253 bytes.
constexpr size_t kMaxReplyData = 253;

struct Command {
  std::uint8_t cla = 0;
  std::uint8_t ins = 0;
  std::uint8_t p1 = 0;
  std::uint8_t p2 = 0;
  std::uint8_t lc = 0;
  std::uint8_t le = 0;
  Bytes data;  // lc bytes

  std::uint16_t P1P2() const { return static_cast<std::uint16_t>((p1 << 8) | p2); }
  // The 16-bit value of data bytes i, i+1 (low-order byte first).
  std::uint16_t DataWordLE(size_t i) const {
    return static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8));
  }
};

struct Reply {
  std::uint16_t sw = sw::kOk;
  Bytes data;

  bool Ok() const { return sw == sw::kOk; }
  // Sets a failure status word and drops any data.
  void Fail(std::uint16_t status) {
    sw = status;
    data.clear();
  }
};

}  // namespace merro::tokensim
