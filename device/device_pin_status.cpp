// DeviceHandle: a PIN's tries and state.
#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/pin_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {

HRESULT DeviceHandle::GetPINInfo(const char* pszDevName, DWORD dwPinType, DWORD* pdwLeftTimes,
                                 DWORD* pdwStatus, DWORD* pdwModified) {
  MR_TRACE("DeviceHandle::GetPINInfo");
  BYTE byLeftTimes = 0;
  BYTE byStatus = 1;
  BYTE byModified = 0;
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pdwLeftTimes == NULL, L"Check pdwLeftTimes", E_INVALIDARG);
  MR_FAIL_IF(pdwStatus == NULL, L"Check pdwStatus", E_INVALIDARG);
  MR_FAIL_IF(pdwModified == NULL, L"Check pdwModified", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }

  const BYTE byPinType = static_cast<BYTE>(dwPinType);
  hr = GetPINStatus(pDevCtx, byPinType, &byLeftTimes, &byStatus, &byModified);
  if (FAILED(hr)) {
    // A token whose secure-messaging session lapsed answers once it has a
    // new one.
    MR_LOG_FAIL(L"GetPINStatus", L"FAILED(nRet)", hr);
    merro::transport::TokenSequenceLock sequence;
    hr = LockedTokenSession(pDevCtx, &sequence, MR_TRACE_FUNCTION);
    if (FAILED(hr)) {
      return hr;
    }
    hr = GetPINStatus(pDevCtx, byPinType, &byLeftTimes, &byStatus, &byModified);
    MR_FAIL_IF(hr != 0, L"GetPINStatus again", SCARD_W_WRONG_CHV);
  }
  *pdwLeftTimes = byLeftTimes;
  *pdwStatus = byStatus;
  *pdwModified = byModified;
  return S_OK;
}

}  // namespace merro::device
