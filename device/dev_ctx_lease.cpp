#include "device/dev_ctx_lease.h"

#include <new>

namespace merro::device {

HRESULT SharedDevCtx::Close() {
  DEV_CTX* ctx = m_ctx;
  m_ctx = nullptr;
  m_current.store(false, std::memory_order_release);
  return ctx != nullptr && m_close != nullptr ? m_close(ctx) : S_OK;
}

DevCtxRef AdoptDevCtx(DEV_CTX* pDevCtx, DevCtxCloser close) noexcept {
  if (pDevCtx == nullptr) {
    return nullptr;
  }
  try {
    return std::make_shared<SharedDevCtx>(pDevCtx, close);
  } catch (const std::bad_alloc&) {
    if (close != nullptr) {
      close(pDevCtx);
    }
    return nullptr;
  }
}

HRESULT DropListReference(DevCtxRef& ref) noexcept {
  if (!ref) {
    return S_OK;
  }
  ref->Retire();
  // New references come only from the list, so a count of one cannot grow
  // behind this check: nobody else holds the context and it closes here.
  HRESULT hr = S_OK;
  if (ref.use_count() == 1) {
    hr = ref->Close();
  }
  ref.reset();
  return hr;
}

}  // namespace merro::device
