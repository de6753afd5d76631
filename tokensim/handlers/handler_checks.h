// Checks that handlers share; each sets the refusing status word and
// returns false when the command does not pass.
#pragma once

#include "tokensim/core/command.h"

namespace merro::tokensim {

// Exactly n bytes of command data.
inline bool ExpectDataLen(const Command& cmd, size_t n, Reply& reply) {
  if (cmd.data.size() != n) {
    reply.Fail(sw::kWrongLength);
    return false;
  }
  return true;
}

// Le between 1 and max.
inline bool ExpectLe(const Command& cmd, size_t max, Reply& reply) {
  if (cmd.le == 0 || cmd.le > max) {
    reply.Fail(sw::kWrongLength);
    return false;
  }
  return true;
}

}  // namespace merro::tokensim
