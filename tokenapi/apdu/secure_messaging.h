// The protected path of mr_SendAPDUCmd (class 0xB4 with a session key).
//
// mr_SendAPDUCmd calls WrapCommand for a frame that travels protected and,
// when the reply carries data, UnwrapReply on those data. Both use the
// session key of the context. Secure messaging lives in
// tokenapi/apdu/secure_messaging.cpp; until the SM4 session cipher is built
// there, both fail closed with 0x80070206 and nothing is sent in clear.
#pragma once

#include <vector>

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::apdu {

// Builds the protected frame of a well-formed plain frame: header
// B4 INS P1 P2 <encrypted length> Le and the encrypted block.
HRESULT WrapCommand(DEV_CTX* pDevCtx, const BYTE* pFrame, DWORD nFrameLen,
                    std::vector<BYTE>* pProtected);

// Replaces the N reply data bytes (an encrypted block) by their plain data.
HRESULT UnwrapReply(DEV_CTX* pDevCtx, const BYTE* pData, DWORD nDataLen, std::vector<BYTE>* pPlain);

}  // namespace merro::apdu
