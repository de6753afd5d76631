// The three process-wide handle registries of the provider: provider
// handles are Container objects, key handles KeyHandle objects, hash handles
// HashHandle objects. They are used only under the provider's call lock, so
// they take no lock of their own.
#pragma once

#include <memory>

#include "csp/handle_registry.h"
#include "csp/provider_interface.h"

// The provider objects (provider/). The registries need their definitions
// only where objects are added.
namespace merro::provider {
class Container;
class KeyHandle;
class HashHandle;
}  // namespace merro::provider

namespace merro::csp {

using merro::provider::Container;
using merro::provider::HashHandle;
using merro::provider::KeyHandle;

using ProvHandleRegistry = HandleRegistry<Container>;
using KeyHandleRegistry = HandleRegistry<KeyHandle, HandleTie::Provider>;
using HashHandleRegistry = HandleRegistry<HashHandle, HandleTie::Provider>;

extern ProvHandleRegistry g_vtrProvHandleSet;
extern KeyHandleRegistry g_vtrKeyHandleSet;
extern HashHandleRegistry g_vtrHashHandleSet;

BOOL IsKnownProvHandle(HCRYPTPROV hProv);
BOOL IsKnownKeyHandle(HCRYPTKEY hKey);
BOOL IsKnownHashHandle(HCRYPTHASH hHash);

// Destroy the object of a known handle; an unknown handle changes nothing.
void RemoveProvHandle(HCRYPTPROV hProv);
void RemoveKeyHandle(HCRYPTKEY hKey);
void RemoveHashHandle(HCRYPTHASH hHash);

// Releasing a provider handle also destroys the keys and hashes made under
// it: nothing could use them any more, and a new Container at the same
// address would otherwise make them pass the ownership test again.
void RemoveProvHandleWithItsObjects(HCRYPTPROV hProv);

// ---------------------------------------------------------------------------
// Defined where the provider objects' classes are complete (csp/
// provider_handles.cpp for the containers).
HCRYPTPROV AddProvHandle(std::unique_ptr<Container> pContainer);
HCRYPTKEY AddKeyHandle(std::unique_ptr<KeyHandle> pKey);
HCRYPTHASH AddHashHandle(std::unique_ptr<HashHandle> pHash);
// Whether a registered Container has this name, ASCII letters compared
// without regard to case; a null name matches none.
BOOL IsContainerOpened(LPCSTR pszContainer);
// ---------------------------------------------------------------------------

}  // namespace merro::csp
