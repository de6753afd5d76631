// Public token API: hash and symmetric-cipher contexts (computed on the
// host) and the symmetric cipher that runs inside the token.
//
// HashInit and SymKeyInit take the device mutex of their context; the
// update and final calls work on host memory only and take none, so one
// context must be used by one thread at a time. HashFinal and SymKeyFinal
// free the context on every path past their argument checks.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/contexts/handles.h"
#include "tokenapi/transport/device_ctx.h"

HRESULT HashInit(DEV_CTX* pDevCtx, BYTE nHashType, HASH_HANDLE** ppHashCtx);
HRESULT HashUpdate(HASH_HANDLE* pHashCtx, const BYTE* pInbuf, DWORD nInlen);
// *pOutlen: room in, digest length out.
HRESULT HashFinal(HASH_HANDLE* pHashCtx, BYTE* pOutbuf, DWORD* pOutlen);

// nCryptFlag MR_CRYPTO_ENC or MR_CRYPTO_DEC; pIV null means zeros.
HRESULT SymKeyInit(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nCryptFlag, BYTE nMode, const BYTE* pKey,
                   const BYTE* pIV, SYMKEY_HANDLE** ppKeyCtx);
// *pOutlen: room in, bytes written out.
HRESULT SymKeyUpdate(SYMKEY_HANDLE* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf,
                     DWORD* pOutlen);
HRESULT SymKeyFinal(SYMKEY_HANDLE* pKeyCtx, BYTE* pOutbuf, DWORD* pOutlen);

// One cipher operation inside the token with the key pKey.
HRESULT HWSymKeyCrypto(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nMode, const BYTE* pKey,
                       const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutlen);
