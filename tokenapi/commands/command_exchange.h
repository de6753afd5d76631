// The exchange step every command routine shares: build, send, log.
//
//   HRESULT mr_Example(DEV_CTX* pDevCtx) {
//     MR_TRACE("mr_Example");
//     const merro::apdu::Apdu cmd{MR_CLA_PLAIN, 0x99, 0x00, 0x00, 0x00, nullptr, 0};
//     return merro::commands::Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr,
//                                      MR_TIMEOUT_DEFAULT);
//   }
#pragma once

#include "foundation/trace/trace.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/timeouts.h"

namespace merro::commands {

// Sends cmd with mr_SendAPDUCmd and logs the result as the step
// "mr_SendAPDUCmd" of the calling routine (error level when it failed).
// Returns the folded result. pRecvLen: capacity in, data length out; null
// means no reply data are expected.
HRESULT Exchange(const TraceHelper& scope, DEV_CTX* pDevCtx, const merro::apdu::Apdu& cmd,
                 BYTE* pRecv, DWORD* pRecvLen, DWORD nTimeoutSec);
// The same with the step text of a routine that sends several frames, e.g.
// "mr_SendAPDUCmd(P1=0x01)".
HRESULT Exchange(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx,
                 const merro::apdu::Apdu& cmd, BYTE* pRecv, DWORD* pRecvLen, DWORD nTimeoutSec);

// A 16-bit file identifier as command data: low-order byte first.
struct FileIdBytes {
  explicit FileIdBytes(WORD wFileId)
      : bytes{static_cast<BYTE>(wFileId & 0xFF), static_cast<BYTE>(wFileId >> 8)} {}
  BYTE bytes[2];
};

constexpr BYTE HighByte(WORD w) { return static_cast<BYTE>(w >> 8); }
constexpr BYTE LowByte(WORD w) { return static_cast<BYTE>(w & 0xFF); }

}  // namespace merro::commands
