// The manager's refresh in hand: the device-update mutex, then the sequence
// lock of every attached token (the order in which every refresh takes
// them), each with a short wait. A refresh that holds them cannot wait in
// any open or read for a sequence of another thread or process (a PIN
// verification waiting for the token's button, a signature), and none can
// start in the middle of it.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/attached_tokens.h"
#include "device/device_handle.h"
#include "device/device_lists.h"
#include "device/token_access.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
HRESULT HoldTokensForRefresh(const DeviceHandle& handle, DWORD dwWaitMs, RefreshHold* pHold) {
  MR_TRACE("HoldTokensForRefresh");
  MR_FAIL_IF(pHold == NULL, L"Check pHold", E_INVALIDARG);
  MR_FAIL_IF(handle.m_hDeviceUpdateMutex == NULL, L"Check m_hDeviceUpdateMutex", E_FAIL);
  pHold->tokens.clear();
  pHold->update = std::make_unique<UpdateMutexHold>(handle.m_hDeviceUpdateMutex, dwWaitMs);
  if (!pHold->update->Owned()) {
    pHold->update.reset();
    MR_LOG_FAIL(L"Another process refreshes", L"!Owned()", merro::transport::kTokenBusy);
    return merro::transport::kTokenBusy;
  }
  AttachedTokenList list;
  const HRESULT hEnum = EnumAttachedTokens(MR_TRACE_FUNCTION, L"EnumDevice",
                                           L"EnumDevice(list.get(), &dwSize) != 0", &list);
  if (FAILED(hEnum)) {
    return hEnum;
  }
  std::vector<std::string> names;
  if (list.dwSize > 0) {
    const HRESULT hr = ListDeviceNames(list.names(), list.dwSize, &names);
    MR_FAIL_IF(FAILED(hr), L"ListDeviceNames", hr);
  }
  for (const std::string& name : names) {
    auto lock = std::make_unique<merro::transport::TokenSequenceLock>();
    const HRESULT hr = lock->Take(name.c_str(), dwWaitMs);
    if (hr == merro::transport::kTokenBusy) {
      pHold->tokens.clear();
      pHold->update.reset();
      MR_LOG_FAIL(L"A sequence runs on the token", L"hr == kTokenBusy", hr);
      return hr;
    }
    // A name the lock cannot be derived from is opened as before: its open
    // takes what it can itself.
    if (SUCCEEDED(hr)) {
      pHold->tokens.push_back(std::move(lock));
    }
  }
  return S_OK;
}

}  // namespace merro::device
