// The provider core: one function behind each exported entry point, with
// the same arguments. Each checks its arguments and handles in a fixed
// order, logs a step line per check, sets the thread's last error (0 after
// success) and returns TRUE when the call succeeded.
#pragma once

#include "csp/provider_interface.h"

BOOL CPCoreAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                          PVTableProvStruc pVTable);
BOOL CPCoreCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                      HCRYPTHASH* phHash);
BOOL CPCoreDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen);
BOOL CPCoreDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                     HCRYPTKEY* phKey);
BOOL CPCoreDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash);
BOOL CPCoreDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey);
BOOL CPCoreDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                         HCRYPTHASH* phHash);
BOOL CPCoreDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD* pdwReserved, DWORD dwFlags,
                        HCRYPTKEY* phKey);
BOOL CPCoreEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen);
BOOL CPCoreExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                     DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
BOOL CPCoreGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CPCoreGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);
BOOL CPCoreGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                        DWORD* pdwDataLen, DWORD dwFlags);
BOOL CPCoreGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                       DWORD* pdwDataLen, DWORD dwFlags);
BOOL CPCoreGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                        DWORD dwFlags);
BOOL CPCoreGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL CPCoreHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                    DWORD dwFlags);
BOOL CPCoreHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD dwFlags);
BOOL CPCoreImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                     DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CPCoreReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL CPCoreSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                        DWORD dwFlags);
BOOL CPCoreSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData,
                       DWORD dwFlags);
BOOL CPCoreSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL CPCoreSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription,
                    DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen);
BOOL CPCoreVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                           DWORD dwSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription, DWORD dwFlags);
