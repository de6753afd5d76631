// The token's identity on the USB bus and the device-interface class it
// presents itself under. The one place these values are defined.
#pragma once

#include "foundation/platform.h"

namespace merro::transport {

constexpr WORD kTokenUsbVendorId = 0x2F3D;
constexpr WORD kTokenUsbProductId = 0x0301;

// What mr_IsMERRO reports for a token.
constexpr DWORD kTokenIdentityHigh = 0x00010000;
constexpr DWORD kTokenIdentityLow = 0x05000000;

// The parent USB device's instance ID starts "USB\VID_XXXX&PID_XXXX".
constexpr char16_t kUsbIdPrefix[] = u"USB\\VID_";
constexpr char16_t kUsbPidInfix[] = u"&PID_";
constexpr size_t kVendorIdOffset = 8;    // length of "USB\VID_"
constexpr size_t kProductIdOffset = 17;  // length of "USB\VID_XXXX&PID_"

// GUID_DEVINTERFACE_CDROM, as it ends every CD-ROM device-interface path.
constexpr char kCdromInterfaceGuid[] = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

}  // namespace merro::transport
