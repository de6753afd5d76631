#include "certmanager/pin_info.h"

#include "device/device_handle.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

namespace merro::certmanager {

HRESULT ReadPINInfo(const char* pszDevName, DWORD dwPINType, PINInfo* pInfo) {
  MR_TRACE("ReadPINInfo");
  MR_FAIL_IF(g_pDeviceHandle == nullptr || pInfo == nullptr, L"Check arguments", E_INVALIDARG);
  const HRESULT hResult = g_pDeviceHandle->GetPINInfo(pszDevName, dwPINType, &pInfo->dwLeftTimes,
                                                      &pInfo->dwStatus, &pInfo->dwModified);
  MR_FAIL_IF(FAILED(hResult), L"GetPINInfo", hResult);
  return S_OK;
}

}  // namespace merro::certmanager
