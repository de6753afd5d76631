// Device information, serial numbers, label, erase, clock and the
// certificate-import display of the token.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// Parts of DEVICE_INFO selected by its Mask.
constexpr BYTE MR_DEVINFO_PART01 = 0x01;   // hardware serial (4 bytes)
constexpr BYTE MR_DEVINFO_PART02 = 0x02;   // hardware version (5 bytes)
constexpr BYTE MR_DEVINFO_COS_VERSION = 0x04;
constexpr BYTE MR_DEVINFO_PART08 = 0x08;   // free file-system space, in 256-byte blocks
constexpr BYTE MR_DEVINFO_PART10 = 0x10;   // flash data area size, in KiB

constexpr DWORD MR_DEVINFO_REPLY_LEN = 20;
constexpr DWORD MR_CHIP_SN_LEN = 8;
constexpr DWORD MR_COS_VERSION_LEN = 5;
constexpr DWORD MR_TOKEN_SN_MAX = 128;
// The zero-padded buffer the version bytes are kept in.
constexpr DWORD MR_COS_VERSION_BUFFER_LEN = 16;

// Filled by mr_GetDevInfo: only the parts selected in Mask are written.
struct DEVICE_INFO {
  BYTE Mask;
  BYTE abyPart01[32];
  DWORD dwPart01Len;
  BYTE abyPart02[32];
  DWORD dwPart02Len;
  char szCosVersion[MR_COS_VERSION_BUFFER_LEN];
  WORD wPart08;
  WORD wPart10;
};

// GET DEVICE INFO; P1 = 1 also resets the token's security state.
// pDevInfo may be null (the reply is then not parsed).
HRESULT mr_GetDevInfo(DEV_CTX* pDevCtx, BYTE byP1, DEVICE_INFO* pDevInfo);

// Size-query reads: a null buffer returns 0 and the length; a capacity below
// the length gives 0x80070003 and the length. mr_GetChipSN and
// mr_GetCosVersion also write a zero byte after the data when the capacity
// leaves room for it.
HRESULT mr_GetChipSN(DEV_CTX* pDevCtx, BYTE* pChipSN, DWORD* pSNLen);
HRESULT mr_GetCosVersion(DEV_CTX* pDevCtx, BYTE* pCosVer, DWORD* pVerLen);
HRESULT mr_GetTokenSN(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen);
// nLabelLen at most 255 (else 0x80070004).
HRESULT mr_SetTokenSN(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen);

HRESULT mr_EraseMF(DEV_CTX* pDevCtx);
HRESULT mr_EraseCOS(DEV_CTX* pDevCtx);
HRESULT mr_AdjustClock(DEV_CTX* pDevCtx);
HRESULT mr_DispImportCert(DEV_CTX* pDevCtx, BYTE byP1);
