// Provider contexts and provider parameters.
#include "csp/core_call.h"
#include "csp/cp_core.h"
#include "csp/registries.h"

using merro::csp::CoreCall;
using merro::csp::CoreNotBuiltYet;

// Built with the Container (its factories decide what stands behind a new
// provider handle).
BOOL CPCoreAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                          PVTableProvStruc pVTable) {
  return CoreNotBuiltYet("CPCoreAcquireContext");
}

BOOL CPCoreReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  CoreCall call("CPCoreReleaseContext", /*traced=*/false);
  if (call.Check(hProv != 0, L"Check parameters", ERROR_INVALID_PARAMETER) &&
      call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check if it's valid container",
                 ERROR_INVALID_PARAMETER)) {
    merro::csp::RemoveProvHandleWithItsObjects(hProv);
  }
  return call.Finish();
}

// Built with the Container's accessors.
BOOL CPCoreSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreSetProvParam");
}

BOOL CPCoreGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                        DWORD dwFlags) {
  return CoreNotBuiltYet("CPCoreGetProvParam");
}
