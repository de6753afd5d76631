#include "tests/tokenapi/support/test_context.h"

#include <cstring>

#include "tokenapi/transport/device_names.h"
#include "tokenapi/transport/merro_transport.h"

namespace merro::testing {

HRESULT OpenTestContext(const std::string& path, DEV_CTX* pCtx) {
  *pCtx = DEV_CTX{};
  std::string name;
  if (merro::transport::DeviceMutexNameFromPath(path, &name) != merro::transport::MutexNameError::None) {
    return static_cast<HRESULT>(0x80070057);
  }
  std::memcpy(pCtx->szMutexName, name.c_str(), name.size() + 1);
  HRESULT hr = MerroOpenDevice(path.c_str(), pCtx);
  if (SUCCEEDED(hr)) {
    hr = MerroCreateMutex(pCtx);
  }
  return hr;
}

void CloseTestContext(DEV_CTX* pCtx) {
  MerroCloseDevice(pCtx->hDevice);
  pCtx->hDevice = nullptr;
  MerroCloseMutex(pCtx);
}

std::vector<std::string> SplitNameList(const BYTE* list, DWORD len) {
  std::vector<std::string> names;
  DWORD at = 0;
  while (at < len && list[at] != 0) {
    const std::string name(reinterpret_cast<const char*>(list + at));
    names.push_back(name);
    at += static_cast<DWORD>(name.size()) + 1;
  }
  return names;
}

std::vector<std::string> ListTokens() {
  BYTE list[4160];
  DWORD len = sizeof list;
  if (mr_EnumDevice(list, &len) != 0) {
    return {};
  }
  return SplitNameList(list, len);
}

}  // namespace merro::testing
