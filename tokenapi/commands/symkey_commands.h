// The token's own symmetric operation: the key and the data go to the token
// in class 0xB4 frames (protected once a session key is set) and the result
// comes back piece by piece.
//
// Algorithm 16 takes a 32-byte key (INS 0x23), algorithm 19 (SM4) a 16-byte
// key (INS 0x24). nMode goes to the token unchanged as P2 of the data
// frames; its meaning is the token's. *pOutLen holds the room of pOutData on
// entry (nInLen bytes are needed) and nInLen on success.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// The key frame (P1 0), then one data frame (P1 1) per piece of at most 128
// bytes, whose reply must carry exactly the piece.
HRESULT mr_SymKeyCrypto(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nMode, const BYTE* pKey,
                        const BYTE* pInData, DWORD nInLen, BYTE* pOutData, DWORD* pOutLen);

// mr_SymKeyCrypto with its result folded; the public API calls it inside
// the device mutex.
HRESULT mr_HWSymKeyCrypto(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nMode, const BYTE* pKey,
                          const BYTE* pInData, DWORD nInLen, BYTE* pOutData, DWORD* pOutLen);
