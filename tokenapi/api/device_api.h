// Public token API: the entry points about the device as a whole.
//
// Every entry point runs the frame of entry_frame.h and returns 0 or an
// error code: 0x80070001 for a failed argument check, the folded result of a
// failed device-mutex wait, or the folded result of its routine (status
// words as 0x8000xxxx, command-layer errors as they come).
#pragma once

#include "foundation/platform.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/pin_command_codes.h"
#include "tokenapi/transport/device_ctx.h"

// Sources of GenerateRandom: the token's generator, or the host's.
constexpr BYTE RANDOM_FLAG_KEY = 1;
constexpr BYTE RANDOM_FLAG_SOFT = 2;

// The names of the attached tokens (mr_EnumDevice). No device mutex.
HRESULT EnumDevice(BYTE* pDevName, DWORD* pCounter);
// Opens the token at the device path pDevName into a new context stored in
// *ppDevCtx (mr_OpenDevice; on failure no context is handed out).
HRESULT OpenDevice(const char* pDevName, DEV_CTX** ppDevCtx);
// Closes the token and frees the context (mr_CloseDevice, which waits for
// the device mutex itself).
HRESULT CloseDevice(DEV_CTX* pDevCtx);
// GET DEVICE INFO with P1 = 1: resets the token's security state.
HRESULT ResetDevice(DEV_CTX* pDevCtx);
// The parts of *pDevInfo selected by its Mask (which must not be 0).
HRESULT GetDeviceInfo(DEV_CTX* pDevCtx, DEVICE_INFO* pDevInfo);
// Chip serial number; *pSNLen: capacity in, length out (pChipSN null asks
// for the length).
HRESULT GetChipSN(DEV_CTX* pDevCtx, BYTE* pChipSN, DWORD* pSNLen);
// The token's serial number / label.
HRESULT SetTokenSN(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen);
HRESULT GetTokenSN(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen);
// The same as SetTokenSN and GetTokenSN.
HRESULT SetDevLabel(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen);
HRESULT GetDevLabel(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen);
// nRandlen (1 to 128) random bytes into pRandom: from the token when nFlag
// is RANDOM_FLAG_KEY, else from the host's generator (bytes 1 to 254).
HRESULT GenerateRandom(DEV_CTX* pDevCtx, BYTE nFlag, BYTE nRandlen, BYTE* pRandom);
// One caller-built command frame (CLA INS P1 P2 Lc Le and Lc data bytes, 6
// to 261 bytes in all); the reply data go to pRepbuf, *pReplen: capacity
// in, length out.
HRESULT SendAPDUCommand(DEV_CTX* pDevCtx, const BYTE* pCmdbuf, DWORD nCmdlen, BYTE* pRepbuf,
                        DWORD* pReplen);
HRESULT EraseMF(DEV_CTX* pDevCtx);
HRESULT EraseCOS(DEV_CTX* pDevCtx);
HRESULT AdjustClock(DEV_CTX* pDevCtx);
// The token's certificate-import screen; nFlag travels as P1.
HRESULT DispImportCert(DEV_CTX* pDevCtx, BYTE nFlag);
