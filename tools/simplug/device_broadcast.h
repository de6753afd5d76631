// What the system would tell the certificate manager when the simulated
// token is plugged in or pulled out: WM_DEVICECHANGE with a USB
// device-interface broadcast named after the token's USB device. Under Wine
// nothing arrives for a simulated token, so merro-simplug.exe and the tests
// send it themselves.
#pragma once

#include <windows.h>

#include <string>

namespace merro::simplug {

// "\\?\USB#VID_<vid>&PID_<pid>#<chip SN>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
// (GUID_DEVINTERFACE_USB_DEVICE); the token's IDs unless others are given.
std::wstring UsbInterfaceName(const std::string& chipSerial);
std::wstring UsbInterfaceName(const std::string& chipSerial, WORD vendorId, WORD productId);

// The chip serial number in a simulated token's device path (the instance
// part "7&<chip SN>&0"); empty when the path has none.
std::string ChipSerialOfDevicePath(const std::string& devicePath);

// Sends WM_DEVICECHANGE (DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE) with
// a DEV_BROADCAST_DEVICEINTERFACE_W of GUID_DEVINTERFACE_USB_DEVICE named
// `name` to `window`, in this process or another; false when the window did
// not answer within `timeoutMs`.
bool SendDeviceChange(HWND window, WPARAM event, const std::wstring& name, DWORD timeoutMs);

// The certificate manager's main dialog (a top-level dialog with the
// certificate tree), shown or hidden; null when none runs.
HWND FindManagerMainDialog();

}  // namespace merro::simplug
