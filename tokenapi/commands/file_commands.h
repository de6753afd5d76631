// The token's file system: select, create, write, read, erase, delete.
// Write and read act on the file the token has selected, so a select and
// the commands that depend on it run under one hold of the device mutex.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

constexpr DWORD MR_FILE_INFO_LEN = 16;      // SELECT FILE reply, CREATE FILE data
constexpr DWORD MR_FILE_MAX_LEN = 0x10000;  // largest file transfer
constexpr DWORD MR_FILE_PIECE_LEN = 128;
constexpr BYTE MR_SELECT_BY_ID = 0x20;

// *pOutLen at least 16 (else 0x80070004): capacity in, length of the file
// information out.
HRESULT mr_SelectFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileId, BYTE* pOut, DWORD* pOutLen);
// The 16-byte file description, sent unchanged.
HRESULT mr_CreateFile(DEV_CTX* pDevCtx, const BYTE* pFileInfo);
// Writes nInLen bytes (at most 0x10000, not past offset 0xFFFF) at wOffset.
HRESULT mr_WriteFile(DEV_CTX* pDevCtx, WORD wOffset, const BYTE* pIn, DWORD nInLen);
// Reads *pOutLen bytes (at most 0x10000, not past offset 0xFFFF) from
// wOffset; *pOutLen receives the count read, also when a piece fails.
HRESULT mr_ReadFile(DEV_CTX* pDevCtx, WORD wOffset, BYTE* pOut, DWORD* pOutLen);
HRESULT mr_EraseFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileId);
HRESULT mr_DeleteFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileId);
