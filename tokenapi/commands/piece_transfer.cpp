#include "tokenapi/commands/piece_transfer.h"

#include <algorithm>
#include <cstring>

#include "foundation/trace/trace.h"
#include "tokenapi/commands/command_exchange.h"

namespace merro::commands {

namespace {
constexpr DWORD kPieceLen = 128;
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);
}  // namespace

bool FitsPositionRange(WORD wPosition, DWORD nLen, Advance advance, DWORD nPiece) {
  MR_TRACE("FitsPositionRange");
  if (nLen == 0) {
    return true;
  }
  const DWORD steps = advance == Advance::ByBytes ? nLen : (nLen + nPiece - 1) / nPiece;
  // The last position used is wPosition + steps - 1 (by bytes: the last
  // byte's offset; by one: the last piece's number).
  return static_cast<DWORD>(wPosition) + steps - 1 <= 0xFFFF;
}

HRESULT ReadInPieces(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, WORD wPosition,
                     Advance advance, BYTE* pOut, DWORD nLen, DWORD* pTotal) {
  MR_TRACE("ReadInPieces");
  DWORD total = 0;
  DWORD position = wPosition;
  HRESULT hr = S_OK;
  while (total < nLen) {
    const DWORD asked = std::min(nLen - total, kPieceLen);
    BYTE piece[kPieceLen] = {};
    DWORD received = sizeof piece;
    const merro::apdu::Apdu cmd{MR_CLA_PLAIN, ins, HighByte(static_cast<WORD>(position)),
                                LowByte(static_cast<WORD>(position)), static_cast<BYTE>(asked),
                                nullptr, 0};
    hr = Exchange(scope, pDevCtx, cmd, piece, &received, MR_TIMEOUT_DEFAULT);
    if (FAILED(hr)) {
      break;
    }
    // A piece numbered by one is a whole unit: a shorter one would put the
    // next unit's bytes where the rest of this one belongs, and the extra
    // frames could run the unit number past 0xFFFF.
    const bool shortUnit = advance == Advance::ByOne && received < asked;
    if (received == 0 || received > asked || shortUnit) {
      hr = kBadReply;
      merro::trace::LogStep(scope.Name(), L"CHECK piece length", hr);
      break;
    }
    std::memcpy(pOut + total, piece, received);
    total += received;
    position += advance == Advance::ByBytes ? received : 1;
  }
  *pTotal = total;
  return hr;
}

}  // namespace merro::commands
