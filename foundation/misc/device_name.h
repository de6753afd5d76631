// The device list the device layer keeps, and the parsing of the device-name
// list that the token API's EnumDevice returns.
#pragma once

#include <cstring>
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

// One name of a device-name list.
struct DeviceNameSpan {
  const char* name;  // its first octet
  size_t length;     // octets before its zero octet, or before the end of the list
  bool terminated;   // whether a zero octet ends it within the list
};

// Walks a device-name list (names each ended by a zero octet, the list ended
// by an empty name or by the end of its dwSize octets): visit(span) for each
// name that is not empty, its length bounded by the octets left. The walk
// stops after a name that is not terminated, or when visit returns false.
template <class Visit>
void WalkDeviceNames(const char* pszList, size_t dwSize, Visit visit) {
  size_t offset = 0;
  while (offset < dwSize && pszList[offset] != '\0') {
    const char* name = pszList + offset;
    const size_t remaining = dwSize - offset;
    const void* end = std::memchr(name, '\0', remaining);
    const DeviceNameSpan span{name,
                              end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - name)
                                             : remaining,
                              end != nullptr};
    if (!visit(span) || !span.terminated) {
      return;
    }
    offset += span.length + 1;
  }
}

// Appends a DeviceItem (name only; label empty, no context) for each name of
// the list: names each ended by a zero octet, the list ended by an empty name
// or by the end of the dwDeviceNameSize octets. A name that is not ended
// within the buffer, or longer than 259 octets, gives 0x80070057 and the list
// is left as it was.
HRESULT ParseDeviceName(const char* pszDeviceName, DWORD dwDeviceNameSize,
                        std::vector<DeviceItem>* pvtrDeviceSet);
