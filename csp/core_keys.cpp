// Keys and key parameters.
#include "csp/core_call.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"

using merro::csp::CoreCall;
using merro::csp::CoreNotBuiltYet;

// Built with KeyHandle.
BOOL CPCoreGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
  return CoreNotBuiltYet("CPCoreGenKey");
}

// Key derivation is not offered, whatever the arguments.
BOOL CPCoreDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                     HCRYPTKEY* phKey) {
  CoreCall call("CPCoreDeriveKey");
  call.Check(false, L"Not support DeriveKey", NTE_NOT_SUPPORTED);
  return call.Finish();
}

BOOL CPCoreDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey) {
  CoreCall call("CPCoreDestroyKey");
  // A null handle is never registered, so the look-up refuses it.
  if (LookUpOwned(call, merro::csp::g_vtrProvHandleSet, merro::csp::g_vtrKeyHandleSet, hProv, hKey,
                  {L"Check validity of provider handle", ERROR_INVALID_PARAMETER,
                   L"Check validity of key handle(1)", ERROR_INVALID_PARAMETER,
                   L"check validity of key handle(2)", NTE_BAD_UID}) != nullptr) {
    merro::csp::RemoveKeyHandle(hKey);
  }
  return call.Finish();
}

// Built with KeyHandle.
BOOL CPCoreSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData,
                       DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreSetKeyParam");
}

BOOL CPCoreGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                       DWORD* pdwDataLen, DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreGetKeyParam");
}

BOOL CPCoreGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  return CoreNotBuiltYet("CPCoreGetUserKey");
}

BOOL CPCoreDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD* pdwReserved, DWORD dwFlags,
                        HCRYPTKEY* phKey) {
  return CoreNotBuiltYet("CPCoreDuplicateKey");
}
