// The 16-byte CREATE FILE description the tests give a token for a plain
// data file: file id and size low byte first, access byte 0x20, the rest
// zero.
#pragma once

#include <vector>

#include "tokenapi/commands/file_commands.h"

namespace merro::testing {

inline std::vector<BYTE> FileDescription(WORD id, WORD size) {
  std::vector<BYTE> d(MR_FILE_INFO_LEN, 0);
  d[0] = static_cast<BYTE>(id & 0xFF);
  d[1] = static_cast<BYTE>(id >> 8);
  d[2] = static_cast<BYTE>(size & 0xFF);
  d[3] = static_cast<BYTE>(size >> 8);
  d[4] = 0x20;
  return d;
}

}  // namespace merro::testing
