// Reads and writes that take several frames of at most 128 data bytes.
#pragma once

#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::commands {

// How the position in P1 P2 moves from one piece to the next.
enum class Advance { ByBytes, ByOne };

// Reads nLen bytes with INS ins from wPosition on, min(rest, 128) per frame,
// into pOut. *pTotal receives the count read, also when a piece fails. A
// piece with more data than asked, or none at all, ends the read with
// 0x8007000D: the count would otherwise go wrong or the loop never end.
// With Advance::ByOne each piece is a whole unit, so a short one fails the
// same way: the following units would land at the wrong place.
HRESULT ReadInPieces(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, WORD wPosition,
                     Advance advance, BYTE* pOut, DWORD nLen, DWORD* pTotal);

// True when a transfer of nLen bytes from wPosition on, advancing as given
// with pieces of nPiece bytes, keeps its position within 16 bits.
bool FitsPositionRange(WORD wPosition, DWORD nLen, Advance advance, DWORD nPiece);

}  // namespace merro::commands
