// Token contexts owned by count.
//
// Every refresh of the device list closes and reopens every token, yet some
// objects keep a token context across calls: the key context of a hash the
// token computes, the worker of a confirmation dialog, a dialog whose modal
// loop may run a refresh. So each open DEV_CTX is shared: the device list
// holds one reference, every borrower holds a DevCtxLease, and the token is
// closed when the last reference goes. A refresh drops only the list's
// references and marks those contexts retired, so a borrower never touches
// freed memory and learns from IsCurrent() that its context is no longer
// its token's current one; it then fails before it sends anything.
#pragma once

#include <atomic>
#include <memory>

#include "foundation/platform.h"
#include "tokenapi/api/token_types.h"

namespace merro::device {

// Closes a token context and frees it: the token API's CloseDevice (tests
// give their own).
using DevCtxCloser = HRESULT (*)(DEV_CTX*);

// The shared state of one open context.
class SharedDevCtx {
 public:
  SharedDevCtx(DEV_CTX* pDevCtx, DevCtxCloser close) noexcept : m_ctx(pDevCtx), m_close(close) {}
  // The last reference closes the token.
  ~SharedDevCtx() { Close(); }
  SharedDevCtx(const SharedDevCtx&) = delete;
  SharedDevCtx& operator=(const SharedDevCtx&) = delete;

  DEV_CTX* get() const { return m_ctx; }
  // True while the device list still holds this context for its token.
  bool IsCurrent() const { return m_current.load(std::memory_order_acquire); }
  void Retire() { m_current.store(false, std::memory_order_release); }
  // Closes the token now; only the holder of the last reference may. The
  // closer's result, or S_OK when it was closed already.
  HRESULT Close();

 private:
  DEV_CTX* m_ctx;
  DevCtxCloser m_close;
  std::atomic<bool> m_current{true};
};

using DevCtxRef = std::shared_ptr<SharedDevCtx>;

// Takes ownership of an open context. Null for a null context, and null
// when memory ran out (the context is then closed at once).
DevCtxRef AdoptDevCtx(DEV_CTX* pDevCtx, DevCtxCloser close) noexcept;

// Drops the device list's reference: the context is retired, and the token
// closed when no borrower holds it. The closer's result, or S_OK when there
// was nothing to drop or a borrower still holds the context (its last lease
// closes it). ref is empty afterwards.
HRESULT DropListReference(DevCtxRef& ref) noexcept;

// A borrower's reference to a token context. Copies share it; the context
// is given back when the last one goes.
class DevCtxLease {
 public:
  DevCtxLease() = default;
  explicit DevCtxLease(DevCtxRef ref) noexcept : m_ref(std::move(ref)) {}

  // The context, or null for an empty lease. It stays allocated and open
  // while the lease lives, current or not.
  DEV_CTX* get() const { return m_ref ? m_ref->get() : nullptr; }
  // Whether the device list still holds this context for its token. A
  // borrower asks before each token command it starts; a stale context
  // must send nothing.
  bool IsCurrent() const { return m_ref && m_ref->IsCurrent(); }
  explicit operator bool() const { return get() != nullptr; }
  // Gives the context back now.
  void reset() { m_ref.reset(); }

 private:
  DevCtxRef m_ref;
};

}  // namespace merro::device
