// Whether any attached token runs a sequence for another thread or process
// (a PIN verification waiting for the token's button, a signature): a
// refresh that found one would wait for it in every open.
#include <memory>
#include <string>
#include <vector>

#include "device/device_lists.h"
#include "device/token_access.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/device_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kDeviceListBytes = 16640;

}  // namespace

HRESULT WaitForIdleTokens(DWORD dwWaitMs) {
  MR_TRACE("WaitForIdleTokens");
  std::unique_ptr<BYTE[]> list(new (std::nothrow) BYTE[kDeviceListBytes]());
  MR_FAIL_IF(list == NULL, L"New buffer", E_OUTOFMEMORY);
  DWORD dwSize = kDeviceListBytes;
  MR_FAIL_IF(EnumDevice(list.get(), &dwSize) != 0, L"EnumDevice", E_FAIL);
  std::vector<std::string> names;
  if (dwSize > 0) {
    const HRESULT hr = ListDeviceNames(reinterpret_cast<const char*>(list.get()),
                                       dwSize < kDeviceListBytes ? dwSize : kDeviceListBytes, &names);
    MR_FAIL_IF(FAILED(hr), L"ListDeviceNames", hr);
  }
  for (const std::string& name : names) {
    // Taken and given back at once: only whether it was free counts.
    merro::transport::TokenSequenceLock lock;
    const HRESULT hr = lock.Take(name.c_str(), dwWaitMs);
    MR_FAIL_IF(hr == merro::transport::kTokenBusy, L"A sequence runs on the token", hr);
  }
  return S_OK;
}

}  // namespace merro::device
