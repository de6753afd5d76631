#include "csp/export_call.h"

#include <new>
#include <optional>

#include "csp/call_lock.h"
#include "csp/token_layer.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "dllmain"

namespace merro::csp {

BOOL RunExport(const char* name, TimeoutRule rule, BOOL (*call)(void*), void* context) noexcept {
  const DWORD callersError = ::GetLastError();
  try {
    MR_TRACE(name);  // entry and exit records under TRACE_FLAG_FUNCTION
    CallLock lock;
    if (!lock.Held()) {
      MR_LOG_FAIL(L"Take the call lock", L"!lock.Held()", lock.Failure());
      ::SetLastError(static_cast<DWORD>(lock.Failure()));
      return FALSE;
    }
    if (lock.WasAbandoned()) {
      MR_LOG_STEP(L"Call lock abandoned by a holder that ended, taken");
    }
    // The token layer starts at the first call, here under the call lock
    // and outside the loader lock. A start that fails fails the call as a
    // library that could not load did; the next call tries again.
    const HRESULT hStart = EnsureTokenLayerStarted();
    if (hStart != S_OK) {
      MR_LOG_FAIL(L"TokenInitialize", L"hResult != S_OK", hStart);
      ::SetLastError(static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
      return FALSE;
    }
    ::SetLastError(callersError);  // what the lock's calls left there is not the core's
    const BOOL result = call(context);
    StopTokenLayerAfterLastRelease();
    if (!result && rule == TimeoutRule::AsCancelled &&
        ::GetLastError() == static_cast<DWORD>(SCARD_E_TIMEOUT)) {
      ::SetLastError(static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    }
    return result;
  } catch (const std::bad_alloc&) {
    MR_TRACE_UNDER(name);  // the scope above has already sent its exit record
    MR_LOG_FAIL(L"Call", L"std::bad_alloc", NTE_NO_MEMORY);
    ::SetLastError(static_cast<DWORD>(NTE_NO_MEMORY));
  } catch (...) {
    MR_TRACE_UNDER(name);
    MR_LOG_FAIL(L"Call", L"exception", NTE_FAIL);
    ::SetLastError(static_cast<DWORD>(NTE_FAIL));
  }
  return FALSE;
}

}  // namespace merro::csp
