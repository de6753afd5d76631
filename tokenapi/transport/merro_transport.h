// USB transport calls: enumeration, identification, open/close, one command
// exchange and the device mutex. All return 0 or an HRESULT-style code.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// Writes the device name list of the drives whose parent USB device carries
// wVendorId/wProductId: each path and its zero byte, then one more zero.
// *pLen: capacity in, packed length out (0 when nothing matched).
HRESULT MerroEnumDevice(WORD wVendorId, WORD wProductId, BYTE* pBuf, DWORD* pLen);

// Looks up the interface whose path equals pszPath and reads its parent's
// USB IDs. The outputs are written only when the path is found and its
// parent's instance ID has the USB ID shape.
HRESULT MerroGetDeviceID(const char* pszPath, DWORD* pVendorId, DWORD* pProductId);

HRESULT MerroOpenDevice(const char* pszPath, DEV_CTX* pDevCtx);
HRESULT MerroCloseDevice(HANDLE hDevice);

// One command frame out, one reply frame back: SW1 SW2 N and N data bytes.
// pReply must hold 256 bytes; *pReplyLen receives N + 3. Frames longer than
// the 1024-byte transfer buffer and replies whose N exceeds what a 256-byte
// transfer carries (253) are refused.
HRESULT MerroSendCommand(HANDLE hDevice, const BYTE* pCmd, DWORD nCmdLen, BYTE* pReply,
                         DWORD* pReplyLen, DWORD nTimeoutSec);

// The device mutex, named by pDevCtx->szMutexName (see DeviceMutexNameFromPath).
HRESULT MerroCreateMutex(DEV_CTX* pDevCtx);
// Closes the handle MerroCreateMutex stored in hMutex (null is left alone).
HRESULT MerroCloseMutex(DEV_CTX* pDevCtx);
// Waits up to 120000 ms; a time-out or an abandoned owner also returns 0,
// so a command goes on unserialised after two minutes. Only a failed wait
// (or a mutex that cannot be opened) is an error.
HRESULT MerroWaitDevMutex(const char* pszMutexName);
HRESULT MerroReleaseMutex(const char* pszMutexName);

// The device name list of the token's USB IDs. A null pDevName asks for the
// length; a buffer shorter than the list gives 0x80070003 and the length.
HRESULT mr_EnumDevice(BYTE* pDevName, DWORD* pCounter);

// 0 when pszDevName is a token (both outputs then set), 0x80070200 otherwise.
HRESULT mr_IsMERRO(const char* pszDevName, DWORD* pdwOut1, DWORD* pdwOut2);

namespace merro::transport {
// The wait of MerroWaitDevMutex with a chosen bound, for tests of the
// time-out rule.
HRESULT WaitDevMutexFor(const char* pszMutexName, DWORD dwTimeoutMs);
// The same wait; *pAcquired (when given) tells whether the calling thread
// now holds the mutex: false after a time-out or a failed wait, so that the
// caller releases only what it took (see device_mutex_hold.h).
HRESULT WaitDevMutexHeld(const char* pszMutexName, DWORD dwTimeoutMs, bool* pAcquired);
constexpr DWORD kDevMutexWaitMs = 120000;
}  // namespace merro::transport
