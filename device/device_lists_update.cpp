// DeviceHandle: building and refreshing the device list and the container
// list.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "device/attached_tokens.h"
#include "device/device_handle.h"
#include "device/device_lists.h"
#include "device/device_trace.h"
#include "device/update_mutex_hold.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/container_api.h"
#include "tokenapi/api/device_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kContainersPerToken = 32;

}  // namespace

HRESULT DeviceHandle::ParseDeviceNameAndPush(const char* pszDeviceName, DWORD dwDeviceNameSize) {
  MR_TRACE("DeviceHandle::ParseDeviceNameAndPush");
  MR_FAIL_IF(pszDeviceName == NULL, L"Check pszDeviceName", E_INVALIDARG);
  MR_FAIL_IF(dwDeviceNameSize <= 0, L"Check dwDeviceNameSize", E_INVALIDARG);

  std::vector<std::string> names;
  HRESULT hr = ListDeviceNames(pszDeviceName, dwDeviceNameSize, &names);
  MR_FAIL_IF(FAILED(hr), L"ListDeviceNames", hr);
  for (const std::string& name : names) {
    DEV_CTX* pDevCtx = nullptr;
    const HRESULT nRet = OpenDevice(name.c_str(), &pDevCtx);
    TraceDeviceName(37, name.c_str(), static_cast<DWORD>(nRet));
    if (nRet != 0 || pDevCtx == nullptr) {
      continue;  // a token that does not open is left out
    }
    DeviceItem item;
    item.spDevCtx = AdoptDevCtx(pDevCtx, &CloseDevice);
    MR_FAIL_IF(item.spDevCtx == nullptr, L"Adopt pDevCtx", E_OUTOFMEMORY);
    CopyName(item.szDeviceName, name.c_str(), name.size() + 1);

    BYTE label[kDeviceNameChars] = {};
    DWORD dwLabelLength = sizeof label;
    if (GetTokenSN(pDevCtx, label, &dwLabelLength) == 0) {
      // The label is shown only: a long one is cut to the field.
      const size_t n = strnlen(reinterpret_cast<const char*>(label),
                               std::min<size_t>(dwLabelLength, kDeviceNameChars - 1));
      std::memcpy(item.szDeviceLabel, label, n);
    }
    try {
      m_vtrDeviceSet.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
      MR_LOG_FAIL(L"Push DeviceItem", L"std::bad_alloc", E_OUTOFMEMORY);
      return E_OUTOFMEMORY;  // item's context is closed as it goes
    }
  }
  return S_OK;
}

HRESULT DeviceHandle::BuildDeviceList() {
  MR_TRACE("DeviceHandle::BuildDeviceList");
  AttachedTokenList list;
  HRESULT hResult =
      EnumAttachedTokens(MR_TRACE_FUNCTION, L"EnumDevice(1)", L"nRet != 0x00", &list);
  if (FAILED(hResult)) {
    return hResult;
  }
  if (list.dwSize == 0) {
    return S_OK;  // no token inserted
  }
  hResult = ParseDeviceNameAndPush(list.names(), list.dwSize);
  MR_FAIL_IF(hResult != S_OK, L"ParseDeviceName", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

HRESULT DeviceHandle::BuildContainerList() {
  MR_TRACE("DeviceHandle::BuildContainerList");
  m_vtrContainerSet.clear();
  std::unique_ptr<CONTAINER_RECORD[]> records(new (std::nothrow) CONTAINER_RECORD[kContainersPerToken]);
  MR_FAIL_IF(records == NULL, L"New buffer", E_OUTOFMEMORY);
  for (size_t i = 0; i < m_vtrDeviceSet.size(); ++i) {
    const DeviceItem& item = m_vtrDeviceSet[i];
    if (item.pDevCtx() == nullptr) {
      continue;
    }
    std::memset(records.get(), 0, kContainersPerToken * sizeof(CONTAINER_RECORD));
    DWORD nCount = kContainersPerToken;
    if (EnumContainer(item.pDevCtx(), records.get(), &nCount) != 0) {
      continue;  // that token contributes no containers
    }
    const HRESULT hr = AppendContainers(&m_vtrContainerSet, static_cast<DWORD>(i), item.szDeviceName,
                                        records.get(), std::min(nCount, kContainersPerToken));
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"Check pTempContainer not NULL", L"pTempContainer == NULL", hr);
      return hr;
    }
  }
  return S_OK;
}

void DeviceHandle::RepointSelection() {
  const int nIndex = m_szCurrentDeviceName[0] != '\0' ? FindDevice(m_vtrDeviceSet, m_szCurrentDeviceName) : -1;
  m_nCurrentDeviceIndex = nIndex;
  m_lpCurrentDevice = nIndex >= 0 ? m_vtrDeviceSet[static_cast<size_t>(nIndex)].pDevCtx() : nullptr;
}

HRESULT DeviceHandle::UpdateDevice() {
  MR_TRACE("DeviceHandle::UpdateDevice");
  TraceDeviceValue(14, {static_cast<DWORD>(m_bInitialize)});
  MR_FAIL_IF(m_bInitialize == FALSE, L"Check m_bInitialize is true", E_FAIL);

  const UpdateMutexHold hold(m_hDeviceUpdateMutex, m_dwUpdateWaitMs);
  if (!hold.Owned()) {
    // Another process refreshes for too long (or the wait failed): refresh
    // anyway, as before, but own and release nothing.
    MR_LOG_FAIL(L"Wait m_hDeviceUpdateMutex", L"dwWait != WAIT_OBJECT_0",
                hold.WaitResult() == WAIT_TIMEOUT ? FoldWin32Error(ERROR_TIMEOUT) : LastErrorResult());
  }
  ReleaseDeviceList(&m_vtrDeviceSet);
  const HRESULT hr = BuildDeviceList();
  // Index and context follow the selected token's name into the new list.
  RepointSelection();
  if (SUCCEEDED(hr)) {
    MR_LOG_STEP(L"UpdateDevice");
  }
  return hr;
}

HRESULT DeviceHandle::UpdateContainer() {
  MR_TRACE("DeviceHandle::UpdateContainer");
  const HRESULT hResult = UpdateDevice();
  MR_FAIL_IF(hResult != S_OK, L"UpdateDevice", NTE_NO_KEY);
  return BuildContainerList();
}

HRESULT DeviceHandle::CheckKeyInsert() {
  MR_TRACE("DeviceHandle::CheckKeyInsert");
  const HRESULT hResult = UpdateDevice();
  MR_FAIL_IF(hResult != S_OK, L"UpdateDevice", NTE_NO_KEY);
  MR_FAIL_IF(m_vtrDeviceSet.size() < 1, L"Check device number", NTE_NO_KEY);
  return S_OK;
}

}  // namespace merro::device
