// The value traces of DeviceHandle: records under a message identity of the
// DeviceHandle source, sent under the value flag bit of the deliverable.
// Files of DeviceHandle define MR_TRACE_SOURCE as "DeviceHandle", the source
// their failure lines name.
#pragma once

#include "foundation/platform.h"
#include "foundation/trace/trace.h"

namespace merro::device {

inline const merro::trace::Guid kDeviceHandleMessageGuid{
    0x3F6A1C2E, 0x7B49, 0x4D15, {0x9E, 0x02, 0xA8, 0x61, 0x5C, 0xD3, 0x47, 0xB0}};

// One value record of the DeviceHandle source.
inline void TraceDeviceValue(std::uint16_t number, std::initializer_list<merro::trace::Value> values) {
  merro::trace::TraceValues(kDeviceHandleMessageGuid, number, values);
}

// A record carrying a narrow (UTF-8) name as UTF-16 text, then a value.
void TraceDeviceName(std::uint16_t number, const char* pszName);
void TraceDeviceName(std::uint16_t number, const char* pszName, DWORD dwValue);

}  // namespace merro::device
