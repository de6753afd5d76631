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
    bool bNameValid = true;
    WalkDeviceNames(pszDeviceName, dwDeviceNameSize, [&](const DeviceNameSpan& span) {
      bNameValid = span.terminated && span.length < kDeviceNameCapacity;
      if (bNameValid) {
        DeviceItem item{};
        std::memcpy(item.szDeviceName, span.name, span.length);
        found.push_back(item);
      }
      return bNameValid;
    });
    MR_FAIL_IF(!bNameValid, L"Check device name", kBadArgument);
    pvtrDeviceSet->insert(pvtrDeviceSet->end(), found.begin(), found.end());
  } catch (const std::bad_alloc&) {
    MR_LOG_FAIL(L"Append DeviceItem", L"std::bad_alloc", kNoMemory);
    return kNoMemory;
  }
  return S_OK;
}
