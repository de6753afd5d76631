#include "csp/registries.h"

#include "csp/handle_checks.h"

namespace merro::csp {

// Built before the entry point first runs; their storage goes with the
// library, the objects still listed then are not destroyed.
ProvHandleRegistry g_vtrProvHandleSet;
KeyHandleRegistry g_vtrKeyHandleSet;
HashHandleRegistry g_vtrHashHandleSet;

BOOL IsKnownProvHandle(HCRYPTPROV hProv) { return g_vtrProvHandleSet.IsKnown(hProv); }
BOOL IsKnownKeyHandle(HCRYPTKEY hKey) { return g_vtrKeyHandleSet.IsKnown(hKey); }
BOOL IsKnownHashHandle(HCRYPTHASH hHash) { return g_vtrHashHandleSet.IsKnown(hHash); }

void RemoveProvHandle(HCRYPTPROV hProv) { g_vtrProvHandleSet.Remove(hProv); }
void RemoveKeyHandle(HCRYPTKEY hKey) { g_vtrKeyHandleSet.Remove(hKey); }
void RemoveHashHandle(HCRYPTHASH hHash) { g_vtrHashHandleSet.Remove(hHash); }

void RemoveProvHandleWithItsObjects(HCRYPTPROV hProv) {
  RemoveProviderWithItsObjects(g_vtrProvHandleSet, g_vtrKeyHandleSet, g_vtrHashHandleSet, hProv);
}

}  // namespace merro::csp
