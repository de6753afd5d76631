// The shared holder of a digest key context: the last HashHandle that
// refers to it gives the key context and its token context back, once.
#include <new>

#include "device/device_handle.h"
#include "foundation/trace/trace.h"
#include "provider/hash_handle.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "HashHandle"

namespace merro::provider {

using merro::device::DeviceHandle;

DigestKeyContext::~DigestKeyContext() {
  MR_TRACE("DigestKeyContext::~DigestKeyContext");
  // The key context first, then the token context it lives on; static,
  // since a hash may outlive the token layer.
  DeviceHandle::ReleaseDigestKeyCtx(&m_lease, m_pKeyCtx);
  m_pKeyCtx = nullptr;
}

std::shared_ptr<DigestKeyContext> MakeDigestKeyContext(merro::device::DevCtxLease lease,
                                                       void* pKeyCtx) noexcept {
  try {
    return std::make_shared<DigestKeyContext>(std::move(lease), pKeyCtx);
  } catch (const std::bad_alloc&) {
    // No holder was made: the lease is still ours.
    DeviceHandle::ReleaseDigestKeyCtx(&lease, pKeyCtx);
    return nullptr;
  }
}

}  // namespace merro::provider
