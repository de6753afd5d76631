// The token's name: bytes 0-31 of the token-information file (0x0002),
// in the ANSI code page, padded with spaces, no terminator. The file's first
// 160 bytes are read and written whole; bytes 32-159 are written back as
// they were read.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

constexpr WORD MR_TOKEN_INFO_FID = 0x0002;
constexpr DWORD MR_TOKEN_INFO_LEN = 160;
constexpr DWORD MR_TOKEN_NAME_MAX = 32;

// Entry points: each holds the device mutex around the whole
// select-read(-write) sequence of its routine.
HRESULT SetTokenName(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen);
// pLabel null asks for the length; *pLabelLen: capacity in, length out.
HRESULT GetTokenName(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen);

// The routines. They reach the token through the entry points SelectFile,
// ReadCosFile and WriteCosFile, whose waits for the device mutex succeed at
// once for the thread that holds it.
//
// nLabelLen at most 32 (else 0x80070004, nothing read or written).
HRESULT mr_SetTokenName(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen);
// A buffer shorter than the name: 0x80070003 and *pLabelLen = the name's
// length. When the file cannot be read, *pLabelLen = 0.
HRESULT mr_GetTokenName(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen);
