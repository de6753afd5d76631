#include "device/key_slots.h"

#include "device/device_handle.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
HRESULT CheckSlotArguments(const char* function, const char* pszDevName,
                           const char* pszContainerName, DWORD dwKeySpec) {
  MR_TRACE_UNDER(function);
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF((dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE), L"Check dwKeySpec",
             E_INVALIDARG);
  return S_OK;
}

HRESULT PrepareKeySlot(DeviceHandle& handle, const char* function, const char* pszDevName,
                       const char* pszContainerName, DWORD dwKeySpec, DWORD dwKeyBitsLength,
                       PreparedSlot* pSlot) {
  MR_TRACE_UNDER(function);
  HRESULT hResult =
      handle.ResolveContainer(pszDevName, pszContainerName, &pSlot->pItem, &pSlot->pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);
  hResult = handle.InitializeContainer(pszDevName, pszContainerName, dwKeySpec, dwKeyBitsLength);
  MR_FAIL_IF(hResult != S_OK, L"InitializeContainer", hResult);
  const CONTAINER_RECORD& stRecord = *pSlot->pItem->pstContainer();
  hResult = GetKeyType(&stRecord, dwKeySpec, &pSlot->byKeyType, nullptr);
  MR_FAIL_IF(hResult != S_OK, L"GetKeyType", HRESULT_FROM_TOKEN_ERROR(hResult));
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
