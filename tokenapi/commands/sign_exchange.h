// Exchanges shared by the commands that use a private key on the token:
// data sent in pieces, replies of a fixed length, and the start data that
// name an SM2 key with the default identity.
#pragma once

#include "foundation/trace/trace.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::commands {

// Where the piece frames carry their position.
enum class PiecePosition {
  None,      // P2 always 0
  OffsetP2,  // P2 the piece's byte offset in the input (one byte)
};

// Sends nLen bytes as frames CLA 0xB4, ins, byP1, P2, Lc, 00 of at most
// nPieceLen data bytes each, in order, with no reply data; nLen 0 sends
// nothing. The first failing piece ends the call with its result (earlier
// pieces have reached the token). Each frame is logged under step.
HRESULT SendPieces(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, BYTE ins,
                   BYTE byP1, const BYTE* pData, DWORD nLen, DWORD nPieceLen,
                   PiecePosition position);

// Sends cmd and requires exactly nLen reply bytes in pOut: a shorter reply
// would leave bytes of the caller's buffer that the token never wrote where
// a full result is reported. A reply of another length is wiped and fails
// with 0x8007000D ("CHECK reply length").
HRESULT ExchangeExact(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx,
                      const merro::apdu::Apdu& cmd, BYTE* pOut, DWORD nLen);

// 0 when received equals nLen; else wipes the received bytes of pOut and
// returns 0x8007000D (step "CHECK reply length").
HRESULT CheckReplyLength(const TraceHelper& scope, BYTE* pOut, DWORD received, DWORD nLen);

// The 18 bytes that start an SM2 sequence with hashing on the token: the
// key file id (low byte first) and the default user identity, from which
// the token computes Z.
constexpr DWORD kSm2StartDataLen = 18;
void Sm2StartData(WORD wKeyFID, BYTE (&data)[kSm2StartDataLen]);

}  // namespace merro::commands
