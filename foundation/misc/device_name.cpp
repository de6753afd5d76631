#include "foundation/misc/device_name.h"

#include <cstring>
#include <new>

#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "FunctionInterface"

namespace {
constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
}  // namespace

HRESULT ParseDeviceName(const char* pszDeviceName, DWORD dwDeviceNameSize,
                        std::vector<DeviceItem>* pvtrDeviceSet) {
  MR_TRACE("ParseDeviceName");
  MR_FAIL_IF(pszDeviceName == NULL, L"Check pszDeviceName", kBadArgument);
  MR_FAIL_IF(dwDeviceNameSize <= 0, L"Check dwDeviceNameSize", kBadArgument);
  MR_FAIL_IF(pvtrDeviceSet == NULL, L"Check pvtrDeviceSet", kBadArgument);

  std::vector<DeviceItem> found;
  try {
    size_t offset = 0;
    while (offset < dwDeviceNameSize) {
      const char* name = pszDeviceName + offset;
      const size_t remaining = dwDeviceNameSize - offset;
      const void* end = std::memchr(name, '\0', remaining);
      MR_FAIL_IF(end == NULL, L"Check device name", kBadArgument);
      const size_t nNameLength = static_cast<size_t>(static_cast<const char*>(end) - name);
      if (nNameLength == 0) {
        break;  // the empty name ends the list
      }
      MR_FAIL_IF(nNameLength >= kDeviceNameCapacity, L"Check device name", kBadArgument);
      DeviceItem item{};
      std::memcpy(item.szDeviceName, name, nNameLength);
      found.push_back(item);
      offset += nNameLength + 1;
    }
    pvtrDeviceSet->insert(pvtrDeviceSet->end(), found.begin(), found.end());
  } catch (const std::bad_alloc&) {
    MR_LOG_FAIL(L"Append DeviceItem", L"std::bad_alloc", kNoMemory);
    return kNoMemory;
  }
  return S_OK;
}
