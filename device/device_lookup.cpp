// DeviceHandle: finding a token or a container by name, and lending a
// token's context to a borrower.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/device_lists.h"
#include "device/device_trace.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
HRESULT DeviceHandle::CheckDeviceExist(const char* pszDevName, DWORD* pdwIndex) {
  MR_TRACE("DeviceHandle::CheckDeviceExist");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  const int nIndex = FindDevice(m_vtrDeviceSet, pszDevName);
  const BOOL bMatch = nIndex >= 0;
  MR_FAIL_IF(bMatch == FALSE, L"Check find the container", NTE_NO_KEY);
  if (pdwIndex != nullptr) {
    *pdwIndex = static_cast<DWORD>(nIndex);
  }
  return S_OK;
}

HRESULT DeviceHandle::CheckContainerExist(const char* pszDevName, const char* pszContainerName,
                                          DWORD* pdwIndex) {
  MR_TRACE("DeviceHandle::CheckContainerExist");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  const int nIndex = FindContainer(m_vtrContainerSet, pszDevName, pszContainerName);
  const BOOL bMatch = nIndex >= 0;
  MR_FAIL_IF(bMatch == FALSE, L"Check find the container", NTE_NO_KEY);
  if (pdwIndex != nullptr) {
    *pdwIndex = static_cast<DWORD>(nIndex);
  }
  return S_OK;
}

HRESULT DeviceHandle::CheckContainerExist(const char* pszContainerName, char** ppszDevName) {
  MR_TRACE("DeviceHandle::CheckContainerExist");
  if (ppszDevName != nullptr) {
    *ppszDevName = nullptr;
  }
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  TraceDeviceName(16, pszContainerName);
  const ContainerItem* pFound = nullptr;
  for (const ContainerItem& item : m_vtrContainerSet) {
    if (item.pstContainer() == nullptr) {
      continue;
    }
    // A stored name that fills its 64 bytes has no terminator.
    char szCompared[MR_CTNR_NAME_MAX + 1] = {};
    std::memcpy(szCompared, item.pstContainer()->szContainerName, MR_CTNR_NAME_MAX);
    TraceDeviceName(17, szCompared);
    if (ContainerNameIs(*item.pstContainer(), pszContainerName)) {
      pFound = &item;
      break;
    }
  }
  const BOOL bMatch = pFound != nullptr;
  MR_FAIL_IF(bMatch == FALSE, L"Check find the container", NTE_NO_KEY);
  if (ppszDevName != nullptr) {
    const size_t n = strnlen(pFound->szDeviceName, kDeviceNameChars - 1);
    OwnedText pszDevName = OwnedText::CopyOf(pFound->szDeviceName, n, n + 1);
    MR_FAIL_IF(!pszDevName, L"New buffer", E_OUTOFMEMORY);
    pszDevName.HandOut(ppszDevName);
  }
  return S_OK;
}

HRESULT DeviceHandle::GetDevCtx(const char* pszDevName, DEV_CTX** ppDevCtx) {
  MR_TRACE("DeviceHandle::GetDevCtx");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(ppDevCtx == NULL, L"Check ppDevCtx", E_INVALIDARG);
  const HRESULT hResult = ResolveDevice(pszDevName, nullptr, ppDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckDeviceExist", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

HRESULT DeviceHandle::GetContainerInfo(const char* pszDevName, const char* pszContainerName,
                                       ContainerItem* pstContainerItem) {
  MR_TRACE("DeviceHandle::GetContainerInfo");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(pstContainerItem == NULL, L"Check pstContainerItem", E_INVALIDARG);
  DWORD dwIndex = 0;
  const HRESULT hResult = CheckContainerExist(pszDevName, pszContainerName, &dwIndex);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);
  *pstContainerItem = m_vtrContainerSet[dwIndex];
  return S_OK;
}

HRESULT DeviceHandle::ResolveDevice(const char* pszDevName, DWORD* pdwIndex, DEV_CTX** ppDevCtx) {
  MR_TRACE("DeviceHandle::ResolveDevice");
  DWORD dwIndex = 0;
  const HRESULT hResult = CheckDeviceExist(pszDevName, &dwIndex);
  if (FAILED(hResult)) {
    return hResult;
  }
  if (pdwIndex != nullptr) {
    *pdwIndex = dwIndex;
  }
  if (ppDevCtx != nullptr) {
    *ppDevCtx = m_vtrDeviceSet[dwIndex].pDevCtx();
  }
  return S_OK;
}

HRESULT DeviceHandle::ResolveContainer(const char* pszDevName, const char* pszContainerName,
                                       ContainerItem** ppItem, DEV_CTX** ppDevCtx) {
  MR_TRACE("DeviceHandle::ResolveContainer");
  DWORD dwIndex = 0;
  HRESULT hResult = CheckContainerExist(pszDevName, pszContainerName, &dwIndex);
  if (FAILED(hResult)) {
    return hResult;
  }
  ContainerItem& item = m_vtrContainerSet[dwIndex];
  // The item's device index may predate a refresh of the device list alone:
  // its token is found by name.
  hResult = ResolveDevice(item.szDeviceName, nullptr, ppDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"Check the token of the container is listed", hResult);
  if (ppItem != nullptr) {
    *ppItem = &item;
  }
  return S_OK;
}

HRESULT DeviceHandle::LendDevCtx(const char* pszDevName, DevCtxLease* pLease) {
  MR_TRACE("DeviceHandle::LendDevCtx");
  MR_FAIL_IF(pLease == NULL, L"Check pLease", E_INVALIDARG);
  pLease->reset();
  DWORD dwIndex = 0;
  const HRESULT hResult = CheckDeviceExist(pszDevName, &dwIndex);
  if (FAILED(hResult)) {
    return hResult;
  }
  *pLease = DevCtxLease(m_vtrDeviceSet[dwIndex].spDevCtx);
  return S_OK;
}

}  // namespace merro::device
