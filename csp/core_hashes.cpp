// Hashes, signing and verification.
#include "csp/core_call.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"

using merro::csp::CoreCall;
using merro::csp::CoreNotBuiltYet;

// Built with HashHandle.
BOOL CPCoreCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                      HCRYPTHASH* phHash) {
  return CoreNotBuiltYet("CPCoreCreateHash");
}

BOOL CPCoreHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                    DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreHashData");
}

BOOL CPCoreHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreHashSessionKey");
}

BOOL CPCoreGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                        DWORD* pdwDataLen, DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreGetHashParam");
}

BOOL CPCoreSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                        DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreSetHashParam");
}

BOOL CPCoreDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                         HCRYPTHASH* phHash) {
  return CoreNotBuiltYet("CPCoreDuplicateHash");
}

BOOL CPCoreDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
  CoreCall call("CPCoreDestroyHash");
  if (call.Check(hProv != 0, L"Check parameter hProv", ERROR_INVALID_PARAMETER) &&
      call.Check(hHash != 0, L"Check parameter hHash", ERROR_INVALID_PARAMETER) &&
      LookUpOwned(
          call, merro::csp::g_vtrProvHandleSet, merro::csp::g_vtrHashHandleSet, hProv, hHash,
          {L"Check hProv IsKnown", ERROR_INVALID_HANDLE, L"Check hHash IsKnown",
           ERROR_INVALID_HANDLE, L"Check hash->m_pContainer", ERROR_INVALID_HANDLE}) != nullptr) {
    merro::csp::RemoveHashHandle(hHash);
  }
  return call.Finish();
}

// Built with HashHandle and KeyHandle.
BOOL CPCoreSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription,
                    DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen) {
  return CoreNotBuiltYet("CPCoreSignHash");
}

BOOL CPCoreVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                           DWORD dwSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription,
                           DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreVerifySignature");
}
