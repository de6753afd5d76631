// Adding containers to the provider-handle registry and finding an open
// container by name: the two uses that need the Container's definition.
#include <utility>

#include "csp/registries.h"

#include "csp/handle_checks.h"
#include "provider/container.h"

namespace merro::csp {

HCRYPTPROV AddProvHandle(std::unique_ptr<Container> pContainer) {
  return g_vtrProvHandleSet.Add(std::move(pContainer));
}

BOOL IsContainerOpened(LPCSTR pszContainer) {
  return IsNameOpen(g_vtrProvHandleSet, pszContainer,
                    [](const Container* p) { return p->m_szContainerName; })
             ? TRUE
             : FALSE;
}

}  // namespace merro::csp
