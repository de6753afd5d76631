// Container: start and stop of the token layer, which own the one device
// object of the process (g_pDeviceHandle).
//
// Nothing else starts here: the provider library calls TokenInitialize from
// DllMain, under the loader lock, where starting GDI+ (or any library that
// makes threads) can deadlock the host. The dialogs that draw pictures start
// GDI+ for as long as they stand.
#include <new>

#include "provider/container.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {
namespace {

enum TokenLayerState { kNotStarted = 0, kStartBegun = 1, kStarted = 2 };

// Written only by the start and the stop, which each deliverable calls once
// at its start and once at its end.
TokenLayerState g_eTokenLayerState = kNotStarted;

void DestroyDeviceHandle() {
  delete g_pDeviceHandle;
  g_pDeviceHandle = nullptr;
}

}  // namespace

HRESULT Container::TokenInitialize(ProviderSettings stSettings) {
  MR_TRACE("Container::TokenInitialize");
  // A start after a started or failed one changes nothing.
  if (g_eTokenLayerState == kStartBegun || g_eTokenLayerState == kStarted) {
    return S_OK;
  }
  g_eTokenLayerState = kStartBegun;
  DestroyDeviceHandle();

  g_pDeviceHandle = new (std::nothrow) merro::device::DeviceHandle();
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"new DeviceHandle", NTE_NO_MEMORY);
  HRESULT hResult = g_pDeviceHandle->Initialize(stSettings);
  if (hResult != S_OK) {
    hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
    MR_LOG_FAIL(L"g_pDeviceHandle->Initialize", L"hResult != S_OK", hResult);
    DestroyDeviceHandle();
    return hResult;
  }
  g_eTokenLayerState = kStarted;
  MR_LOG_STEP(L"TokenInitialize");
  return S_OK;
}

HRESULT Container::TokenUninitialize() {
  MR_TRACE("Container::TokenUninitialize");
  switch (g_eTokenLayerState) {
    case kNotStarted:
      return S_OK;
    case kStarted:
      if (g_pDeviceHandle != nullptr) {
        g_pDeviceHandle->UnInitialize();
      }
      DestroyDeviceHandle();
      g_eTokenLayerState = kNotStarted;
      MR_LOG_STEP(L"TokenUninitialize");
      return S_OK;
    default:
      MR_LOG_FAIL(L"Check token layer state", L"state == start begun", E_FAIL);
      return E_FAIL;
  }
}

}  // namespace merro::provider
