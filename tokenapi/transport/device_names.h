// Pure rules on device names: the parent's USB IDs, the packed name list
// and the device mutex name. No I/O, so all of it is tested directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/platform.h"

namespace merro::transport {

// Reads the vendor and product ID from a parent instance ID of the shape
// "USB\VID_XXXX&PID_XXXX...". False when the prefix, the "&PID_" infix or
// any of the eight digits is missing.
bool ParseParentUsbIds(std::u16string_view parentId, WORD* pVendorId, WORD* pProductId);

// Packs names as "name\0name\0...\0" with one more zero at the end into
// pBuf (capacity nCapacity). A name that does not fit together with the
// final zero ends the packing; the names packed so far are kept. Returns the
// packed length with the final zero, or 0 when no name was packed.
DWORD PackDeviceNames(const std::vector<std::string>& names, BYTE* pBuf, DWORD nCapacity);

// What the mutex-name rule found missing in a device name.
enum class MutexNameError { None, NoRev, NoHashAfterRev, NoHashAfterBegin, TooLong };

// The instance part of a device-interface path: the text between the first
// "#" after "rev_" and the next "#". It must fit the 260-byte name field of
// the device context with its terminator.
MutexNameError DeviceMutexNameFromPath(std::string_view path, std::string* pName);

}  // namespace merro::transport
