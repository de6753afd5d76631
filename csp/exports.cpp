// The 25 entry points that CryptoAPI calls, each the same wrapper around
// the core function of the same stem.
#include "csp/cp_core.h"
#include "csp/export_call.h"
#include "csp/provider_interface.h"

using merro::csp::CallCore;
using merro::csp::TimeoutRule;

extern "C" BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                                        PVTableProvStruc pVTable) {
  return CallCore<CPCoreAcquireContext>("CPAcquireContext", phProv, szContainer, dwFlags, pVTable);
}

extern "C" BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                    HCRYPTHASH* phHash) {
  return CallCore<CPCoreCreateHash>("CPCreateHash", hProv, Algid, hKey, dwFlags, phHash);
}

extern "C" BOOL WINAPI CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal,
                                 DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  return CallCore<CPCoreDecrypt>("CPDecrypt", hProv, hKey, hHash, fFinal, dwFlags, pbData,
                                 pdwDataLen);
}

extern "C" BOOL WINAPI CPDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData,
                                   DWORD dwFlags, HCRYPTKEY* phKey) {
  return CallCore<CPCoreDeriveKey>("CPDeriveKey", hProv, Algid, hBaseData, dwFlags, phKey);
}

extern "C" BOOL WINAPI CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
  return CallCore<CPCoreDestroyHash>("CPDestroyHash", hProv, hHash);
}

extern "C" BOOL WINAPI CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey) {
  return CallCore<CPCoreDestroyKey>("CPDestroyKey", hProv, hKey);
}

extern "C" BOOL WINAPI CPDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved,
                                       DWORD dwFlags, HCRYPTHASH* phHash) {
  return CallCore<CPCoreDuplicateHash>("CPDuplicateHash", hProv, hHash, pdwReserved, dwFlags,
                                       phHash);
}

extern "C" BOOL WINAPI CPDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD* pdwReserved,
                                      DWORD dwFlags, HCRYPTKEY* phKey) {
  return CallCore<CPCoreDuplicateKey>("CPDuplicateKey", hProv, hKey, pdwReserved, dwFlags, phKey);
}

extern "C" BOOL WINAPI CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal,
                                 DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
  return CallCore<CPCoreEncrypt>("CPEncrypt", hProv, hKey, hHash, fFinal, dwFlags, pbData,
                                 pdwDataLen, dwBufLen);
}

extern "C" BOOL WINAPI CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey,
                                   DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                                   DWORD* pdwDataLen) {
  return CallCore<CPCoreExportKey>("CPExportKey", hProv, hKey, hPubKey, dwBlobType, dwFlags, pbData,
                                   pdwDataLen);
}

extern "C" BOOL WINAPI CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
  return CallCore<CPCoreGenKey>("CPGenKey", hProv, Algid, dwFlags, phKey);
}

extern "C" BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  return CallCore<CPCoreGenRandom>("CPGenRandom", hProv, dwLen, pbBuffer);
}

extern "C" BOOL WINAPI CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam,
                                      BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  return CallCore<CPCoreGetHashParam>("CPGetHashParam", hProv, hHash, dwParam, pbData, pdwDataLen,
                                      dwFlags);
}

extern "C" BOOL WINAPI CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                                     DWORD* pdwDataLen, DWORD dwFlags) {
  return CallCore<CPCoreGetKeyParam>("CPGetKeyParam", hProv, hKey, dwParam, pbData, pdwDataLen,
                                     dwFlags);
}

extern "C" BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData,
                                      DWORD* pdwDataLen, DWORD dwFlags) {
  return CallCore<CPCoreGetProvParam>("CPGetProvParam", hProv, dwParam, pbData, pdwDataLen,
                                      dwFlags);
}

extern "C" BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  return CallCore<CPCoreGetUserKey>("CPGetUserKey", hProv, dwKeySpec, phUserKey);
}

extern "C" BOOL WINAPI CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData,
                                  DWORD dwDataLen, DWORD dwFlags) {
  return CallCore<CPCoreHashData>("CPHashData", hProv, hHash, pbData, dwDataLen, dwFlags);
}

extern "C" BOOL WINAPI CPHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey,
                                        DWORD dwFlags) {
  return CallCore<CPCoreHashSessionKey>("CPHashSessionKey", hProv, hHash, hKey, dwFlags);
}

extern "C" BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen,
                                   HCRYPTKEY hPubKey, DWORD dwFlags, HCRYPTKEY* phKey) {
  return CallCore<CPCoreImportKey>("CPImportKey", hProv, pbData, dwDataLen, hPubKey, dwFlags,
                                   phKey);
}

extern "C" BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  return CallCore<CPCoreReleaseContext>("CPReleaseContext", hProv, dwFlags);
}

extern "C" BOOL WINAPI CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam,
                                      const BYTE* pbData, DWORD dwFlags) {
  return CallCore<CPCoreSetHashParam>("CPSetHashParam", hProv, hHash, dwParam, pbData, dwFlags);
}

extern "C" BOOL WINAPI CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam,
                                     const BYTE* pbData, DWORD dwFlags) {
  return CallCore<CPCoreSetKeyParam>("CPSetKeyParam", hProv, hKey, dwParam, pbData, dwFlags);
}

extern "C" BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                      DWORD dwFlags) {
  return CallCore<CPCoreSetProvParam>("CPSetProvParam", hProv, dwParam, pbData, dwFlags);
}

extern "C" BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec,
                                  LPCWSTR szDescription, DWORD dwFlags, BYTE* pbSignature,
                                  DWORD* pdwSigLen) {
  return CallCore<CPCoreSignHash, TimeoutRule::AsCancelled>(
      "CPSignHash", hProv, hHash, dwKeySpec, szDescription, dwFlags, pbSignature, pdwSigLen);
}

extern "C" BOOL WINAPI CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash,
                                         const BYTE* pbSignature, DWORD dwSigLen, HCRYPTKEY hPubKey,
                                         LPCWSTR szDescription, DWORD dwFlags) {
  return CallCore<CPCoreVerifySignature>("CPVerifySignature", hProv, hHash, pbSignature, dwSigLen,
                                         hPubKey, szDescription, dwFlags);
}
