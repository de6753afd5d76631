// Public token API: the token's file system and its flash data area.
//
// WriteCosFile and ReadCosFile act on the file the token has selected: a
// caller that needs select-then-read or select-then-write as one unit holds
// the device mutex around the sequence (it is re-entrant for its owner).
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// nOffset: the first 256-byte page (WriteFlash) or 128-byte unit
// (ReadFlash) of the transfer.
HRESULT WriteFlash(DEV_CTX* pDevCtx, WORD nOffset, const BYTE* pInbuf, DWORD nInlen);
HRESULT ReadFlash(DEV_CTX* pDevCtx, WORD nOffset, BYTE* pOutbuf, DWORD nOutlen);
HRESULT EraseFlash(DEV_CTX* pDevCtx);

// SELECT FILE; pFileInfo receives the file information and must hold at
// least 16 bytes.
HRESULT SelectFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileID, BYTE* pFileInfo);
// CREATE FILE with the 16-byte file description pFileInfo.
HRESULT CreateCosFile(DEV_CTX* pDevCtx, const BYTE* pFileInfo);
HRESULT WriteCosFile(DEV_CTX* pDevCtx, WORD nOffset, const BYTE* pInbuf, DWORD nInlen);
// *pOutlen: bytes to read in, bytes read out.
HRESULT ReadCosFile(DEV_CTX* pDevCtx, WORD nOffset, BYTE* pOutbuf, DWORD* pOutlen);
HRESULT EraseCosFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileID);
HRESULT DeleteCosFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileID);
