#include "device/token_access.h"

#include "device/device_handle.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/pin_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {

HRESULT FindListedToken(DeviceHandle& handle, const char* pszDevName, const char* function,
                        DEV_CTX** ppDevCtx) {
  MR_TRACE_UNDER(function);
  if (FAILED(handle.ResolveDevice(pszDevName, nullptr, ppDevCtx))) {
    MR_LOG_FAIL(L"CheckDeviceExist", L"FAILED(hResult)", NTE_BAD_KEYSET);
    return NTE_BAD_KEYSET;
  }
  return S_OK;
}

HRESULT SetUpTokenSession(DEV_CTX* pDevCtx, const char* function) {
  MR_TRACE_UNDER(function);
  HRESULT hr = ExternalAuth(pDevCtx, kSessionAuthKey);
  if (hr != 0) {
    MR_LOG_FAIL(L"ExternalAuth", L"nRet != 0", hr);
    return hr;
  }
  hr = SetSessionKey(pDevCtx);
  if (hr != 0) {
    MR_LOG_FAIL(L"SetSessionKey", L"nRet != 0", hr);
    return hr;
  }
  return S_OK;
}

HRESULT LockedTokenSession(DEV_CTX* pDevCtx, merro::transport::TokenSequenceLock* pLock,
                           const char* function) {
  MR_TRACE_UNDER(function);
  const HRESULT hr = pLock->TakeByMutexName(pDevCtx->szMutexName);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"Take the token's sequence lock", L"FAILED(hr)", hr);
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
