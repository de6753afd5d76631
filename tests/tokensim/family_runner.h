// Running one command frame on a token through the standard dispatcher, for
// tests of the command families.
#pragma once

#include <utility>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"

namespace merro::tokensim::testing {

inline Reply RunCommand(Token& token, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                        std::uint8_t le, Bytes data = {}) {
  Command c;
  c.cla = kClaPlain;
  c.ins = ins;
  c.p1 = p1;
  c.p2 = p2;
  c.le = le;
  c.lc = static_cast<std::uint8_t>(data.size());
  c.data = std::move(data);
  return Dispatcher::Standard().Execute(token, c);
}

// The 16-byte CREATE FILE description of a file: id and size low byte
// first, the rest zero.
inline Bytes FileDescription(std::uint16_t id, std::uint16_t size) {
  Bytes d(16, 0);
  d[0] = static_cast<std::uint8_t>(id);
  d[1] = static_cast<std::uint8_t>(id >> 8);
  d[2] = static_cast<std::uint8_t>(size);
  d[3] = static_cast<std::uint8_t>(size >> 8);
  return d;
}

}  // namespace merro::tokensim::testing
