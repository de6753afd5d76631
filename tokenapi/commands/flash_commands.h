// The token's 2 MiB flash data area: written in 256-byte pages, read in
// units of up to 128 bytes.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

constexpr DWORD MR_FLASH_SIZE = 0x200000;
constexpr DWORD MR_FLASH_PAGE_LEN = 256;
constexpr DWORD MR_FLASH_UNIT_LEN = 128;

HRESULT mr_EraseFlash(DEV_CTX* pDevCtx);
// Writes nInLen bytes (at most 0x200000) from page wStartPage on; a last,
// shorter page is filled up with 0xFF. Pages past 0xFFFF are refused.
HRESULT mr_WriteFlash(DEV_CTX* pDevCtx, WORD wStartPage, const BYTE* pIn, DWORD nInLen);
// Reads nOutLen bytes (at most 0x200000) from unit wStartUnit on into pOut.
HRESULT mr_ReadFlash(DEV_CTX* pDevCtx, WORD wStartUnit, BYTE* pOut, DWORD nOutLen);
