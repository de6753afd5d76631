// The rules of the device object's two lists that need no token: the walk
// of EnumDevice's name list, the look-ups by name, the bounded name copies
// and compares, and the emptying of the lists. Portable, so the native tree
// runs them under the sanitizers.
#pragma once

#include <string>
#include <vector>

#include "device/device_item.h"
#include "foundation/platform.h"

namespace merro::device {

// The device names of an EnumDevice list, in order. A name is bounded by
// the bytes left; a name that no zero byte ends within the list, or of 260
// bytes or more, is skipped: it never becomes a token's key cut short.
// S_OK, or 0x8007000E when memory ran out.
HRESULT ListDeviceNames(const char* pszList, DWORD dwSize, std::vector<std::string>* pNames);

// Copies a zero-terminated or length-bounded text into a 260-byte name
// field; false (and an empty field) when it does not fit with its zero.
bool CopyName(char (&szField)[kDeviceNameChars], const char* pszText, size_t nLength);

// Container names compare within the record's 64 bytes: a name that fills
// them has no terminator, and a longer name never matches.
bool ContainerNameIs(const CONTAINER_RECORD& stRecord, const char* pszContainerName);

// First item, in list order, whose device name equals pszDevName byte for
// byte; -1 when none does.
int FindDevice(const std::vector<DeviceItem>& vtrDevices, const char* pszDevName);
// First item with that device name and container name; -1 when none.
int FindContainer(const std::vector<ContainerItem>& vtrContainers, const char* pszDevName,
                  const char* pszContainerName);
// First item with that container name on any token; -1 when none.
int FindContainerOnAnyDevice(const std::vector<ContainerItem>& vtrContainers,
                             const char* pszContainerName);

// A row the selection answered: an index into a list of nCount items, or a
// cancel (negative, or outside the list).
inline bool IsRowOf(size_t nCount, int nRow) {
  return nRow >= 0 && static_cast<size_t>(nRow) < nCount;
}

// Appends a ContainerItem with a copy of each of the nCount records.
// 0x8009000E (and the items appended before) when memory ran out.
HRESULT AppendContainers(std::vector<ContainerItem>* pvtrContainers, DWORD dwDeviceIndex,
                         const char* pszDevName, const CONTAINER_RECORD* pRecords, DWORD nCount);

// Empties the device list: each context is retired and closed unless a
// borrower still holds it (its last lease closes it).
void ReleaseDeviceList(std::vector<DeviceItem>* pvtrDevices);

}  // namespace merro::device
