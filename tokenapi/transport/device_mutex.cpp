// The device mutex: one named mutex per token, named after the instance
// part of its device path, serialising commands across threads and processes.
#include <memory>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/merro_transport.h"

using merro::platform::NamedMutex;
using merro::platform::WaitResult;

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);

// The folded last error, never 0 for a call that failed.
HRESULT FailedCallResult() {
  const HRESULT hr = merro::LastErrorResult();
  return hr == 0 ? merro::FoldWin32Error(ERROR_INVALID_HANDLE) : hr;
}

}  // namespace

HRESULT MerroCreateMutex(DEV_CTX* pDevCtx) {
  MR_TRACE("MerroCreateMutex");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kBadArgument);
  std::unique_ptr<NamedMutex> mutex = NamedMutex::Create(pDevCtx->szMutexName);
  if (!mutex) {
    const HRESULT hr = FailedCallResult();
    MR_LOG_FAIL(L"CreateMutex", L"the device mutex cannot be created", hr);
    return hr;
  }
  // The context owns the mutex object through hMutex until MerroCloseMutex.
  pDevCtx->hMutex = static_cast<HANDLE>(mutex.release());
  return S_OK;
}

HRESULT MerroCloseMutex(DEV_CTX* pDevCtx) {
  MR_TRACE("MerroCloseMutex");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kBadArgument);
  std::unique_ptr<NamedMutex> mutex(static_cast<NamedMutex*>(pDevCtx->hMutex));
  pDevCtx->hMutex = nullptr;
  return S_OK;
}

namespace merro::transport {

HRESULT WaitDevMutexFor(const char* pszMutexName, DWORD dwTimeoutMs) {
  return WaitDevMutexHeld(pszMutexName, dwTimeoutMs, nullptr);
}

HRESULT WaitDevMutexHeld(const char* pszMutexName, DWORD dwTimeoutMs, bool* pAcquired) {
  MR_TRACE("MerroWaitDevMutex");
  if (pAcquired != nullptr) {
    *pAcquired = false;
  }
  MR_FAIL_IF(pszMutexName == nullptr, L"CHECK pszMutexName", kBadArgument);
  const std::unique_ptr<NamedMutex> mutex = NamedMutex::Open(pszMutexName);
  if (!mutex) {
    const HRESULT hr = FailedCallResult();
    MR_LOG_FAIL(L"OpenMutex", L"the device mutex cannot be opened", hr);
    return hr;
  }
  // A time-out or an abandoned owner lets the command go on; only a failed
  // wait is an error.
  const WaitResult result = mutex->Wait(dwTimeoutMs);
  if (result == WaitResult::Failed) {
    const HRESULT hr = FailedCallResult();
    MR_LOG_FAIL(L"WaitForSingleObject", L"WAIT_FAILED", hr);
    return hr;
  }
  if (pAcquired != nullptr) {
    *pAcquired = result == WaitResult::Acquired || result == WaitResult::Abandoned;
  }
  return S_OK;
}

}  // namespace merro::transport

HRESULT MerroWaitDevMutex(const char* pszMutexName) {
  return merro::transport::WaitDevMutexFor(pszMutexName, merro::transport::kDevMutexWaitMs);
}

HRESULT MerroReleaseMutex(const char* pszMutexName) {
  MR_TRACE("MerroReleaseMutex");
  MR_FAIL_IF(pszMutexName == nullptr, L"CHECK pszMutexName", kBadArgument);
  const std::unique_ptr<NamedMutex> mutex = NamedMutex::Open(pszMutexName);
  if (!mutex) {
    const HRESULT hr = FailedCallResult();
    MR_LOG_FAIL(L"OpenMutex", L"the device mutex cannot be opened", hr);
    return hr;
  }
  if (!mutex->Release()) {
    const HRESULT hr = FailedCallResult();
    MR_LOG_FAIL(L"ReleaseMutex", L"not the owner", hr);
    return hr;
  }
  return S_OK;
}
