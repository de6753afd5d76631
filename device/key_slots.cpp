#include "device/key_slots.h"

#include "device/device_handle.h"
#include "device/device_trace.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
HRESULT CheckSlotArguments(const char* function, const char* pszDevName,
                           const char* pszContainerName, DWORD dwKeySpec) {
  if (pszDevName == NULL) {
    return LogDeviceFailure(__LINE__, function, L"Check pszDevName", L"pszDevName == NULL", E_INVALIDARG);
  }
  if (pszContainerName == NULL) {
    return LogDeviceFailure(__LINE__, function, L"Check pszContainerName", L"pszContainerName == NULL", E_INVALIDARG);
  }
  if ((dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE)) {
    return LogDeviceFailure(__LINE__, function, L"Check dwKeySpec",
                L"(dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE)", E_INVALIDARG);
  }
  return S_OK;
}

HRESULT PrepareKeySlot(DeviceHandle& handle, const char* function, const char* pszDevName,
                       const char* pszContainerName, DWORD dwKeySpec, DWORD dwKeyBitsLength,
                       PreparedSlot* pSlot) {
  HRESULT hResult =
      handle.ResolveContainer(pszDevName, pszContainerName, &pSlot->pItem, &pSlot->pDevCtx);
  if (hResult != S_OK) {
    return LogDeviceFailure(__LINE__, function, L"CheckContainerExist", L"hResult != S_OK", E_FAIL);
  }
  hResult = handle.InitializeContainer(pszDevName, pszContainerName, dwKeySpec, dwKeyBitsLength);
  if (hResult != S_OK) {
    return LogDeviceFailure(__LINE__, function, L"InitializeContainer", L"hResult != S_OK", hResult);
  }
  const CONTAINER_RECORD& stRecord = *pSlot->pItem->pstContainer();
  hResult = GetKeyType(&stRecord, dwKeySpec, &pSlot->byKeyType, nullptr);
  if (hResult != S_OK) {
    return LogDeviceFailure(__LINE__, function, L"GetKeyType", L"hResult != S_OK",
                HRESULT_FROM_TOKEN_ERROR(hResult));
  }
  pSlot->wKeyFID = KeyFileId(stRecord, dwKeySpec);
  return S_OK;
}

HRESULT RereadRecord(DEV_CTX* pDevCtx, ContainerItem* pItem) {
  // ReadContainer finds the record by the name the copy holds.
  CONTAINER_RECORD stRecord = *pItem->pstContainer();
  const HRESULT nRetCode = ReadContainer(pDevCtx, &stRecord);
  if (nRetCode == 0) {
    *pItem->pstContainer() = stRecord;
  }
  return nRetCode;
}

}  // namespace merro::device
