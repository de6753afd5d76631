// The one send path of the command layer.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// Sends one command frame and returns the reply data (no status word).
// The frame must be 6 to 261 bytes with Lc = length - 6 (else 0x80070004).
// With a session key set (bySMState 2), a frame of class 0xB4 with Lc or Le
// non-zero travels protected (secure_messaging.h); otherwise it goes out in
// clear, a class of 0xB4 sent as 0xB0. A status word other than 9000 gives
// 0x80000000 | SW and no data. *pRecvLen: capacity in, data length out; a
// capacity below the data length gives 0x80070003, *pRecvLen unchanged.
HRESULT mr_SendAPDUCmd(DEV_CTX* pDevCtx, const BYTE* pCmd, DWORD nCmdLen, BYTE* pRecv,
                       DWORD* pRecvLen, DWORD nTimeoutSec);

// 0 for 9000, 0x80000000 | (SW1 << 8 | SW2) for every other status word.
HRESULT SW1SW2ToResult(const BYTE* pReply);
