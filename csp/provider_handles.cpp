// Adding containers, keys and hashes to their registries and finding an open
// container by name: the uses that need the provider objects' definitions.
#include <utility>

#include "csp/registries.h"

#include "csp/handle_checks.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"

namespace merro::csp {

HCRYPTPROV AddProvHandle(std::unique_ptr<Container> pContainer) {
  return g_vtrProvHandleSet.Add(std::move(pContainer));
}

HCRYPTKEY AddKeyHandle(std::unique_ptr<KeyHandle> pKey) {
  return g_vtrKeyHandleSet.Add(std::move(pKey));
}

HCRYPTHASH AddHashHandle(std::unique_ptr<HashHandle> pHash) {
  return g_vtrHashHandleSet.Add(std::move(pHash));
}

BOOL IsContainerOpened(LPCSTR pszContainer) {
  return IsNameOpen(g_vtrProvHandleSet, pszContainer,
                    [](const Container* p) { return p->m_szContainerName; })
             ? TRUE
             : FALSE;
}

}  // namespace merro::csp
