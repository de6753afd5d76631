#include "device/attached_tokens.h"

#include <utility>

#include "foundation/trace/trace.h"
#include "tokenapi/api/device_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kDeviceListBytes = 16640;

}  // namespace

HRESULT EnumAttachedTokens(const char* function, const wchar_t* enumStep,
                           const wchar_t* enumReason, AttachedTokenList* pList) {
  MR_TRACE_UNDER(function);
  OwnedBytes list = OwnedBytes::Zeroed(kDeviceListBytes);
  if (list == nullptr) {
    MR_LOG_FAIL(L"New buffer", L"list == NULL", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  DWORD dwSize = kDeviceListBytes;
  if (EnumDevice(list.get(), &dwSize) != 0) {
    MR_LOG_FAIL(enumStep, enumReason, E_FAIL);
    return E_FAIL;
  }
  pList->bytes = std::move(list);
  pList->dwSize = dwSize < kDeviceListBytes ? dwSize : kDeviceListBytes;
  return S_OK;
}

}  // namespace merro::device
