// Parsing what reaches the token: the SCSI command block of a transfer and
// the command frame of a data-out transfer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tokensim/core/command.h"

namespace merro::tokensim {

// True for the token's vendor command block: 0xFF and nine zero bytes.
bool IsTokenCdb(const std::uint8_t* cdb, size_t n);

// Parses CLA INS P1 P2 Lc Le and Lc data bytes. Returns 9000 with *pCommand
// filled, or the status word that refuses the frame: 6700 for a frame
// shorter than 6 or longer than 261 bytes or with Lc not equal to its
// length - 6, 6E00 for a class other than B0/B4.
std::uint16_t ParseCommandFrame(const std::uint8_t* frame, size_t n, Command* pCommand);

}  // namespace merro::tokensim
