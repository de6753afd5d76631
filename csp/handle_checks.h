// The checks of handles that every provider core function makes, in one
// fixed order: the provider handle is registered, then the key or hash
// handle is registered, then that object belongs to the provider handle
// given in the call. No object is read before its registry has found it.
#pragma once

#include <cstring>

#include "csp/core_call.h"
#include "csp/handle_registry.h"

namespace merro::csp {

// Each function's own step texts and codes for the three checks.
struct OwnedHandleChecks {
  const wchar_t* providerStep;
  HRESULT providerCode;
  const wchar_t* handleStep;
  HRESULT handleCode;
  const wchar_t* ownerStep;
  HRESULT ownerCode;
};

// Whether handle is registered and belongs to hProv: the last two checks
// (the provider handle is the caller's to check; the provider step of
// checks is not used). A failed check's line is logged and its code is the
// call's.
template <class T>
bool IsKnownAndOwned(CoreCall& call, const HandleRegistry<T, HandleTie::Provider>& objects,
                     HCRYPTPROV hProv, ULONG_PTR handle, const OwnedHandleChecks& checks) {
  return call.Check(objects.IsKnown(handle), checks.handleStep, checks.handleCode) &&
         call.Check(objects.OwnerOf(handle) == hProv, checks.ownerStep, checks.ownerCode);
}

// The object behind handle after the three checks, or null when one failed
// (its line is logged and its code is the call's).
template <class P, class T>
T* LookUpOwned(CoreCall& call, const HandleRegistry<P>& providers,
               const HandleRegistry<T, HandleTie::Provider>& objects, HCRYPTPROV hProv,
               ULONG_PTR handle, const OwnedHandleChecks& checks) {
  if (!call.Check(providers.IsKnown(hProv), checks.providerStep, checks.providerCode) ||
      !IsKnownAndOwned(call, objects, hProv, handle, checks)) {
    return nullptr;
  }
  return objects.Lookup(handle);
}

// Two objects of one call (a hash and a key) after the provider, then both
// handles, are each found registered, and then both found to belong to
// hProv (the steps of firstChecks, then the second's own of secondChecks).
// False when a check failed. No object is read before its registry has
// found it.
template <class P, class A, class B>
bool LookUpOwnedPair(CoreCall& call, const HandleRegistry<P>& providers,
                     const HandleRegistry<A, HandleTie::Provider>& firsts,
                     const HandleRegistry<B, HandleTie::Provider>& seconds, HCRYPTPROV hProv,
                     ULONG_PTR first, ULONG_PTR second, const OwnedHandleChecks& firstChecks,
                     const OwnedHandleChecks& secondChecks, A** ppFirst, B** ppSecond) {
  if (!call.Check(providers.IsKnown(hProv), firstChecks.providerStep, firstChecks.providerCode) ||
      !call.Check(firsts.IsKnown(first), firstChecks.handleStep, firstChecks.handleCode) ||
      !call.Check(seconds.IsKnown(second), secondChecks.handleStep, secondChecks.handleCode) ||
      !call.Check(firsts.OwnerOf(first) == hProv, firstChecks.ownerStep, firstChecks.ownerCode) ||
      !call.Check(seconds.OwnerOf(second) == hProv, secondChecks.ownerStep,
                  secondChecks.ownerCode)) {
    return false;
  }
  *ppFirst = firsts.Lookup(first);
  *ppSecond = seconds.Lookup(second);
  return true;
}

// Removes a provider handle and destroys the keys and hashes made under it
// first (their destructors may still reach the container).
template <class P, class K, class H>
void RemoveProviderWithItsObjects(HandleRegistry<P>& providers,
                                  HandleRegistry<K, HandleTie::Provider>& keys,
                                  HandleRegistry<H, HandleTie::Provider>& hashes,
                                  HCRYPTPROV hProv) {
  if (!providers.IsKnown(hProv)) {
    return;
  }
  keys.RemoveOwnedBy(hProv);
  hashes.RemoveOwnedBy(hProv);
  providers.Remove(hProv);
}

// 8-bit names equal when ASCII letters are folded to lower case; other
// bytes compare as they are.
inline bool ContainerNamesEqual(const char* a, const char* b) {
  const auto fold = [](unsigned char c) {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  };
  for (;; ++a, ++b) {
    if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b))) {
      return false;
    }
    if (*a == '\0') {
      return true;
    }
  }
}

// Whether a registered object's name (nameOf(const T*) gives it) equals
// name under ContainerNamesEqual; a null name matches none.
template <class T, HandleTie kTie, class NameOf>
bool IsNameOpen(const HandleRegistry<T, kTie>& registry, const char* name, NameOf nameOf) {
  if (name == nullptr) {
    return false;
  }
  return registry.Any([&](const T* object) {
    const char* objectName = nameOf(object);
    return objectName != nullptr && ContainerNamesEqual(objectName, name);
  });
}

}  // namespace merro::csp
