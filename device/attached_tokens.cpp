#include "device/attached_tokens.h"

#include <new>
#include <utility>

#include "device/device_trace.h"
#include "tokenapi/api/device_api.h"

namespace merro::device {
namespace {

constexpr DWORD kDeviceListBytes = 16640;

}  // namespace

HRESULT EnumAttachedTokens(const char* function, const wchar_t* enumStep,
                           const wchar_t* enumReason, AttachedTokenList* pList) {
  std::unique_ptr<BYTE[]> list(new (std::nothrow) BYTE[kDeviceListBytes]());
  if (list == nullptr) {
    return LogDeviceFailure(__LINE__, function, L"New buffer", L"list == NULL", E_OUTOFMEMORY);
  }
  DWORD dwSize = kDeviceListBytes;
  if (EnumDevice(list.get(), &dwSize) != 0) {
    return LogDeviceFailure(__LINE__, function, enumStep, enumReason, E_FAIL);
  }
  pList->bytes = std::move(list);
  pList->dwSize = dwSize < kDeviceListBytes ? dwSize : kDeviceListBytes;
  return S_OK;
}

}  // namespace merro::device
