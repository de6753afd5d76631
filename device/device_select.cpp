// DeviceHandle::SelectDevice: the token to work on, chosen by the user when
// several are inserted.
#include <new>

#include "device/device_handle.h"
#include "device/device_lists.h"
#include "device/device_trace.h"
#include "device/ui/user_interface.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
HRESULT DeviceHandle::SelectDevice() {
  MR_TRACE("DeviceHandle::SelectDevice");
  TraceDeviceValue(15, {static_cast<DWORD>(m_bInitialize)});
  MR_FAIL_IF(m_bInitialize == FALSE, L"Check m_bInitialize is true", E_FAIL);
  MR_FAIL_IF(m_vtrDeviceSet.size() <= 0, L"Check device counter > 0", NTE_NO_KEY);

  char szChosen[kDeviceNameChars];
  CopyName(szChosen, m_vtrDeviceSet[0].szDeviceName, kDeviceNameChars);
  if (m_vtrDeviceSet.size() > 1) {
    // The dialog gets a copy: its modal loop may run a refresh that rebuilds
    // the list, and the copy keeps the contexts it shows open meanwhile.
    std::vector<DeviceItem> devices;
    try {
      devices = m_vtrDeviceSet;
    } catch (const std::bad_alloc&) {
      MR_LOG_FAIL(L"Copy m_vtrDeviceSet", L"std::bad_alloc", E_OUTOFMEMORY);
      return E_OUTOFMEMORY;
    }
    int nSelectedKey = -1;
    const HRESULT hResult =
        ui::UserInterface::Current().SelectToken(::GetActiveWindow(), devices, &nSelectedKey);
    MR_FAIL_IF(hResult != S_OK, L"SelectToken", hResult);
    // A row outside the list shown is no token: a cancel.
    if (!IsRowOf(devices.size(), nSelectedKey)) {
      MR_LOG_FAIL(L"Check user canceled selected key", L"nSelectedKey < 0", SCARD_W_CANCELLED_BY_USER);
      return SCARD_W_CANCELLED_BY_USER;
    }
    CopyName(szChosen, devices[static_cast<size_t>(nSelectedKey)].szDeviceName, kDeviceNameChars);
  }

  // By name: the list may have been rebuilt while the user chose.
  const int nIndex = FindDevice(m_vtrDeviceSet, szChosen);
  MR_FAIL_IF(nIndex < 0, L"Check selected key is inserted", NTE_NO_KEY);
  CopyName(m_szCurrentDeviceName, szChosen, kDeviceNameChars);
  m_nCurrentDeviceIndex = nIndex;
  m_lpCurrentDevice = m_vtrDeviceSet[static_cast<size_t>(nIndex)].pDevCtx();
  MR_LOG_STEP(L"SelectDevice");
  return S_OK;
}

}  // namespace merro::device
