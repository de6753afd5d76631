// A registry of the objects behind one kind of CryptoAPI handle. A handle
// is the object's address; every core function looks it up here before it
// touches the object, so that a stale or foreign handle is refused instead
// of used. A listed object is owned by the registry and released only by
// Remove (destroyed at once, or at the end of the running core call: see
// csp/deferred_release.h); objects still listed when the library unloads
// are left alone.
//
// The registry needs the object's class only where an object is added: the
// destroyer (and, for keys and hashes, the reader of the object's provider
// handle) is taken there. Look-ups, removal and the ownership test work on
// classes this code has only declared.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "csp/deferred_release.h"

namespace merro::csp {

// Whether the objects belong to a provider handle through their own
// m_pContainer member (keys and hashes) or not (the containers themselves).
enum class HandleTie { None, Provider };

template <class T, HandleTie kTie = HandleTie::None>
class HandleRegistry {
 public:
  HandleRegistry() = default;
  HandleRegistry(const HandleRegistry&) = delete;
  HandleRegistry& operator=(const HandleRegistry&) = delete;

  // Appends the object and returns its handle (0 for no object). Where this is called the
  // class must be complete (for a tie, with an accessible m_pContainer).
  ULONG_PTR Add(std::unique_ptr<T> object) {
    if (!object) {
      return 0;  // 0 is never a handle
    }
    Entry entry{object.get(), [](void* p) { delete static_cast<T*>(p); }, nullptr};
    if constexpr (kTie == HandleTie::Provider) {
      entry.owner = [](const T* p) { return reinterpret_cast<ULONG_PTR>(p->m_pContainer); };
    }
    m_entries.push_back(entry);  // may throw: the object is still the caller's
    return reinterpret_cast<ULONG_PTR>(object.release());
  }

  // Compares handle values only: nothing is read through an unknown one.
  bool IsKnown(ULONG_PTR handle) const { return Find(handle) != m_entries.end(); }

  // The object of a known handle, else null.
  T* Lookup(ULONG_PTR handle) const {
    const auto it = Find(handle);
    return it != m_entries.end() ? it->object : nullptr;
  }

  // The provider handle a known object belongs to (its m_pContainer as it is
  // now), else 0.
  ULONG_PTR OwnerOf(ULONG_PTR handle) const {
    static_assert(kTie == HandleTie::Provider, "only keys and hashes belong to a provider");
    const auto it = Find(handle);
    return it != m_entries.end() ? it->owner(it->object) : 0;
  }

  // Drops a known object, keeping the order of the rest, and releases it; an
  // unknown handle changes nothing.
  void Remove(ULONG_PTR handle) {
    const auto it = Find(handle);
    if (it == m_entries.end()) {
      return;
    }
    const Entry entry = *it;
    m_entries.erase(it);  // first, so that the destructor sees a consistent list
    ReleaseObject(entry.object, entry.destroy);
  }

  // Drops and releases every object that belongs to this provider handle.
  void RemoveOwnedBy(ULONG_PTR hProv) {
    static_assert(kTie == HandleTie::Provider, "only keys and hashes belong to a provider");
    std::vector<Entry> owned;
    for (const Entry& e : m_entries) {
      if (e.owner(e.object) == hProv) {
        owned.push_back(e);
      }
    }
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [hProv](const Entry& e) { return e.owner(e.object) == hProv; }),
                    m_entries.end());
    for (const Entry& e : owned) {
      ReleaseObject(e.object, e.destroy);
    }
  }

  // Whether any listed object satisfies pred (given a const T*), in order.
  template <class Pred>
  bool Any(Pred pred) const {
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [&pred](const Entry& e) { return pred(static_cast<const T*>(e.object)); });
  }

  // The handles in the order they were added.
  std::vector<ULONG_PTR> Handles() const {
    std::vector<ULONG_PTR> out;
    for (const Entry& e : m_entries) {
      out.push_back(reinterpret_cast<ULONG_PTR>(e.object));
    }
    return out;
  }

 private:
  struct Entry {
    T* object;
    void (*destroy)(void*);
    ULONG_PTR (*owner)(const T*);
  };

  typename std::vector<Entry>::const_iterator Find(ULONG_PTR handle) const {
    return std::find_if(m_entries.begin(), m_entries.end(), [handle](const Entry& e) {
      return reinterpret_cast<ULONG_PTR>(e.object) == handle;
    });
  }

  std::vector<Entry> m_entries;
};

}  // namespace merro::csp
