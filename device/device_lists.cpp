#include "device/device_lists.h"

#include <cstring>
#include <new>

#include "foundation/misc/device_name.h"

namespace merro::device {
namespace {

constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kNoRecordMemory = static_cast<HRESULT>(0x8009000E);

// Length of a text, looking at no more than nLook bytes (nLook when none of
// them is zero).
size_t BoundedLength(const char* pszText, size_t nLook) {
  const void* end = std::memchr(pszText, '\0', nLook);
  return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - pszText) : nLook;
}

}  // namespace

HRESULT ListDeviceNames(const char* pszList, DWORD dwSize, std::vector<std::string>* pNames) {
  try {
    std::vector<std::string> names;
    if (pszList != nullptr) {
      WalkDeviceNames(pszList, dwSize, [&](const DeviceNameSpan& span) {
        if (span.terminated && span.length < kDeviceNameChars) {
          names.emplace_back(span.name, span.length);
        }
        return true;
      });
    }
    pNames->swap(names);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

bool CopyName(char (&szField)[kDeviceNameChars], const char* pszText, size_t nLength) {
  std::memset(szField, 0, sizeof szField);
  if (pszText == nullptr) {
    return false;
  }
  const size_t n = strnlen(pszText, nLength < kDeviceNameChars ? nLength : kDeviceNameChars);
  if (n >= kDeviceNameChars) {
    return false;
  }
  std::memcpy(szField, pszText, n);
  return true;
}

bool ContainerNameIs(const CONTAINER_RECORD& stRecord, const char* pszContainerName) {
  if (pszContainerName == nullptr) {
    return false;
  }
  const size_t stored = BoundedLength(stRecord.szContainerName, MR_CTNR_NAME_MAX);
  return strnlen(pszContainerName, MR_CTNR_NAME_MAX + 1) == stored &&
         std::memcmp(stRecord.szContainerName, pszContainerName, stored) == 0;
}

int FindDevice(const std::vector<DeviceItem>& vtrDevices, const char* pszDevName) {
  if (pszDevName == nullptr) {
    return -1;
  }
  for (size_t i = 0; i < vtrDevices.size(); ++i) {
    if (std::strncmp(vtrDevices[i].szDeviceName, pszDevName, kDeviceNameChars) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int FindContainer(const std::vector<ContainerItem>& vtrContainers, const char* pszDevName,
                  const char* pszContainerName) {
  if (pszDevName == nullptr) {
    return -1;
  }
  for (size_t i = 0; i < vtrContainers.size(); ++i) {
    const ContainerItem& item = vtrContainers[i];
    if (std::strncmp(item.szDeviceName, pszDevName, kDeviceNameChars) == 0 &&
        item.pstContainer() != nullptr && ContainerNameIs(*item.pstContainer(), pszContainerName)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int FindContainerOnAnyDevice(const std::vector<ContainerItem>& vtrContainers,
                             const char* pszContainerName) {
  for (size_t i = 0; i < vtrContainers.size(); ++i) {
    const ContainerItem& item = vtrContainers[i];
    if (item.pstContainer() != nullptr && ContainerNameIs(*item.pstContainer(), pszContainerName)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

HRESULT AppendContainers(std::vector<ContainerItem>* pvtrContainers, DWORD dwDeviceIndex,
                         const char* pszDevName, const CONTAINER_RECORD* pRecords, DWORD nCount) {
  try {
    for (DWORD i = 0; i < nCount; ++i) {
      ContainerItem item;
      item.dwDeviceIndex = dwDeviceIndex;
      CopyName(item.szDeviceName, pszDevName, kDeviceNameChars);
      item.spContainer = std::make_shared<CONTAINER_RECORD>(pRecords[i]);
      pvtrContainers->push_back(std::move(item));
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return kNoRecordMemory;
  }
}

void ReleaseDeviceList(std::vector<DeviceItem>* pvtrDevices) {
  for (DeviceItem& item : *pvtrDevices) {
    DropListReference(item.spDevCtx);
  }
  pvtrDevices->clear();
}

}  // namespace merro::device
