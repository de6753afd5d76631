// Protection of small secrets (a kept PIN) with the user's data-protection
// key. Buffers handed out are allocated with array new (one zero octet more
// than their size); the caller wipes and releases them with array delete.
#pragma once

#include <windows.h>

// Protects the data under the description "MerroCSPSecureData". The three
// reserved arguments (entropy, prompt, flags) are passed as 0 and ignored.
HRESULT CreateProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, const void* pvReserved1,
                          const void* pvReserved2, DWORD dwReserved3, BYTE** ppbDataOut,
                          DWORD* pdwDataOutSize);

// Recovers the data of a blob made by CreateProtectData for the same user.
// The two reserved arguments are passed as 0 and ignored. The system's copy
// of the plain data is wiped before it is freed.
HRESULT AcquireProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, const void* pvReserved1,
                           DWORD dwReserved2, BYTE** ppbDataOut, DWORD* pdwDataOutSize);
