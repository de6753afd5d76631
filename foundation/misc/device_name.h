// The device list the device layer keeps, and the parsing of the device-name
// list that the token API's EnumDevice returns.
#pragma once

#include <vector>

#include "foundation/platform.h"

struct DEV_CTX;

// Longest device name or label, with its terminator.
constexpr size_t kDeviceNameCapacity = 260;

// One inserted token: its device name, its label and its open device context.
struct DeviceItem {
  char szDeviceName[kDeviceNameCapacity];
  char szDeviceLabel[kDeviceNameCapacity];
  DEV_CTX* pDevCtx;
};

// Appends a DeviceItem (name only; label empty, no context) for each name of
// the list: names each ended by a zero octet, the list ended by an empty name
// or by the end of the dwDeviceNameSize octets. A name that is not ended
// within the buffer, or longer than 259 octets, gives 0x80070057 and the list
// is left as it was.
HRESULT ParseDeviceName(const char* pszDeviceName, DWORD dwDeviceNameSize,
                        std::vector<DeviceItem>* pvtrDeviceSet);
