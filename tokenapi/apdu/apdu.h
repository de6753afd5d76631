// The command frame of the token and its one builder.
//
// Frame: CLA INS P1 P2 Lc Le, then Lc data bytes; always 6 + Lc bytes.
// Every command routine describes its command as an Apdu and sends it with
// Transmit, which builds the frame and hands it to mr_SendAPDUCmd:
//
//   const BYTE fid[2] = {BYTE(wFileId & 0xFF), BYTE(wFileId >> 8)};
//   const merro::apdu::Apdu cmd{MR_CLA_PLAIN, 0xA4, byP1, 0x00, 0x10, fid, sizeof fid};
//   HRESULT hr = merro::apdu::Transmit(pDevCtx, cmd, pOut, pOutLen, MR_TIMEOUT_DEFAULT);
//
// A command that expects no reply data passes pRecv null and a capacity of 0
// (Transmit's pRecvLen may then be null), so a reply with data fails with
// 0x80070003.
#pragma once

#include <array>

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

constexpr BYTE MR_CLA_PLAIN = 0xB0;
constexpr BYTE MR_CLA_PROTECTED = 0xB4;

constexpr DWORD MR_APDU_HEADER_LEN = 6;
constexpr DWORD MR_APDU_MAX_DATA = 255;
constexpr DWORD MR_APDU_MAX_FRAME = MR_APDU_HEADER_LEN + MR_APDU_MAX_DATA;  // 261

// Offsets of the header fields.
enum : DWORD { MR_APDU_CLA = 0, MR_APDU_INS, MR_APDU_P1, MR_APDU_P2, MR_APDU_LC, MR_APDU_LE };

namespace merro::apdu {

struct Apdu {
  BYTE cla;
  BYTE ins;
  BYTE p1;
  BYTE p2;
  BYTE le;
  const BYTE* data;  // lc bytes, or null when lc is 0
  DWORD lc;
};

using Frame = std::array<BYTE, MR_APDU_MAX_FRAME>;

// Writes the frame of cmd into frame and its length into *pLen. 0x80070004
// when lc exceeds 255, 0x80070001 when data is null with lc non-zero.
HRESULT BuildFrame(const Apdu& cmd, Frame* frame, DWORD* pLen);

// Checks a caller-built frame: 6 to 261 bytes and Lc equal to length - 6.
bool IsWellFormedFrame(const BYTE* pFrame, DWORD nLen);

// Builds the frame and sends it with mr_SendAPDUCmd. pRecvLen: capacity in,
// data length out (null means a capacity of 0).
HRESULT Transmit(DEV_CTX* pDevCtx, const Apdu& cmd, BYTE* pRecv, DWORD* pRecvLen,
                 DWORD nTimeoutSec);

}  // namespace merro::apdu
