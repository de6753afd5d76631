// Key blobs.
#include "csp/core_call.h"
#include "csp/cp_core.h"

using merro::csp::CoreNotBuiltYet;

// Both built with KeyHandle.
BOOL CPCoreExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                     DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  return CoreNotBuiltYet("CPCoreExportKey");
}

BOOL CPCoreImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                     DWORD dwFlags, HCRYPTKEY* phKey) {
  return CoreNotBuiltYet("CPCoreImportKey");
}
