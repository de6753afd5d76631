// Key blobs.
#include "csp/core_call.h"
#include "csp/cp_core.h"

using merro::csp::CoreNotBuiltYet;

// Both built with KeyHandle.
BOOL CPCoreExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                     DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  return CoreNotBuiltYet("CPCoreExportKey");
}
