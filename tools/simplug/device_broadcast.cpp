#include "tools/simplug/device_broadcast.h"

#include <commctrl.h>
#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>

#include <cstddef>
#include <cwchar>
#include <vector>

#include "certmanager_resource_ids.h"
#include "tokenapi/transport/usb_ids.h"

namespace merro::simplug {
namespace {

BOOL CALLBACK MatchManager(HWND hWnd, LPARAM lParam) {
  wchar_t cls[16] = {};
  ::GetClassNameW(hWnd, cls, 16);
  HWND tree = ::GetDlgItem(hWnd, IDC_CERT_TREE);
  wchar_t treeClass[32] = {};
  if (tree != nullptr) {
    ::GetClassNameW(tree, treeClass, 32);
  }
  if (::lstrcmpW(cls, L"#32770") == 0 && ::lstrcmpiW(treeClass, WC_TREEVIEWW) == 0 &&
      ::GetDlgItem(hWnd, IDC_REFRESH) != nullptr) {
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::wstring UsbInterfaceName(const std::string& chipSerial) {
  return UsbInterfaceName(chipSerial, merro::transport::kTokenUsbVendorId,
                          merro::transport::kTokenUsbProductId);
}

std::wstring UsbInterfaceName(const std::string& chipSerial, WORD vendorId, WORD productId) {
  wchar_t ids[32] = {};
  std::swprintf(ids, 32, L"VID_%04X&PID_%04X", vendorId, productId);
  return L"\\\\?\\USB#" + std::wstring(ids) + L"#" +
         std::wstring(chipSerial.begin(), chipSerial.end()) +
         L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

std::string ChipSerialOfDevicePath(const std::string& devicePath) {
  const size_t start = devicePath.find("#7&");
  if (start == std::string::npos) {
    return {};
  }
  const size_t end = devicePath.find('&', start + 3);
  return end == std::string::npos ? std::string() : devicePath.substr(start + 3, end - start - 3);
}

bool SendDeviceChange(HWND window, WPARAM event, const std::wstring& name, DWORD timeoutMs) {
  const size_t bytes = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                       (name.size() + 1) * sizeof(wchar_t);
  std::vector<std::byte> buffer(bytes);
  auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
  broadcast->dbcc_size = static_cast<DWORD>(bytes);
  broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  broadcast->dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
  std::wmemcpy(broadcast->dbcc_name, name.c_str(), name.size() + 1);
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast),
                               SMTO_NORMAL, timeoutMs, &result) != 0;
}

HWND FindManagerMainDialog() {
  HWND found = nullptr;
  ::EnumWindows(&MatchManager, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace merro::simplug
