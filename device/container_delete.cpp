// DeviceHandle: deleting one container, or every container of a token. The
// token requires the user PIN verified in the current session; the lists
// catch up at the next refresh.
#include <array>
#include <cstring>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {
// The records asked for in one listing.
constexpr DWORD kListedContainers = 32;
}  // namespace

HRESULT DeviceHandle::MerroDeleteContainer(const char* pszDevName, const char* pszContainerName) {
  MR_TRACE("DeviceHandle::MerroDeleteContainer");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  // The token that holds the container, found by the item's device name:
  // an index kept in the item may point at another token after a refresh.
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = ResolveContainer(pszDevName, pszContainerName, nullptr, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);
  const HRESULT nRetCode = DeleteContainer(pDevCtx, pszContainerName,
                                           static_cast<DWORD>(std::strlen(pszContainerName)));
  MR_FAIL_IF(nRetCode != 0, L"DeleteContainer", E_FAIL);
  MR_LOG_STEP(L"DeleteContainer");
  return S_OK;
}

HRESULT DeviceHandle::DeleteAllContainer(const char* pszDevName) {
  MR_TRACE("DeviceHandle::DeleteAllContainer");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hResult)) {
    return hResult;
  }

  std::array<CONTAINER_RECORD, kListedContainers> records{};
  DWORD dwCount = kListedContainers;
  const HRESULT nRet = EnumContainer(pDevCtx, records.data(), &dwCount);
  MR_FAIL_IF(nRet != 0x00, L"EnumContainer", E_FAIL);
  if (dwCount > kListedContainers) {
    dwCount = kListedContainers;
  }
  for (DWORD i = 0; i < dwCount; ++i) {
    const CONTAINER_RECORD& stRecord = records[i];
    // A name that fills its 64 bytes has no terminator.
    const DWORD dwNameLength =
        static_cast<DWORD>(strnlen(stRecord.szContainerName, MR_CTNR_NAME_MAX));
    const HRESULT nRetCode = DeleteContainer(pDevCtx, stRecord.szContainerName, dwNameLength);
    MR_FAIL_IF(nRetCode != 0, L"DeleteContainer", E_FAIL);
  }
  MR_LOG_STEP(L"DeleteAllContainer");
  return S_OK;
}

}  // namespace merro::device
