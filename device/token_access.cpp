#include "device/token_access.h"

#include "device/device_handle.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/pin_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {

HRESULT FindListedToken(DeviceHandle& handle, const char* pszDevName, const char* function,
                        DEV_CTX** ppDevCtx) {
  if (FAILED(handle.ResolveDevice(pszDevName, nullptr, ppDevCtx))) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, function, L"CheckDeviceExist",
                             L"FAILED(hResult)", NTE_BAD_KEYSET);
    return NTE_BAD_KEYSET;
  }
  return S_OK;
}

HRESULT SetUpTokenSession(DEV_CTX* pDevCtx, const char* function) {
  HRESULT hr = ExternalAuth(pDevCtx, kSessionAuthKey);
  if (hr != 0) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, function, L"ExternalAuth", L"nRet != 0", hr);
    return hr;
  }
  hr = SetSessionKey(pDevCtx);
  if (hr != 0) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, function, L"SetSessionKey", L"nRet != 0", hr);
    return hr;
  }
  return S_OK;
}

HRESULT LockedTokenSession(DEV_CTX* pDevCtx, merro::transport::TokenSequenceLock* pLock,
                           const char* function) {
  const HRESULT hr = pLock->TakeByMutexName(pDevCtx->szMutexName);
  if (FAILED(hr)) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, function, L"Take the token's sequence lock",
                             L"FAILED(hr)", hr);
    return hr;
  }
  return SetUpTokenSession(pDevCtx, function);
}

HRESULT OpenTokenSession(DeviceHandle& handle, const char* pszDevName, const char* function,
                         merro::transport::TokenSequenceLock* pLock, DEV_CTX** ppDevCtx) {
  const HRESULT hr = FindListedToken(handle, pszDevName, function, ppDevCtx);
  return FAILED(hr) ? hr : LockedTokenSession(*ppDevCtx, pLock, function);
}

}  // namespace merro::device
