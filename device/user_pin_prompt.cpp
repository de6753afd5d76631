// The PIN dialog with its "locked" box, for DeviceHandle::GetUserPIN and the
// provider's key objects.
#include "device/user_pin_prompt.h"

#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/ui/user_interface.h"
#include "foundation/secret_bytes.h"
#include "foundation/trace/trace.h"
#include "resources/device/device_resource_ids.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {

HRESULT PromptForPIN(HWND hOwner, int nMode, int nLeftTimes, char** ppszPIN) {
  MR_TRACE("PromptForPIN");
  MR_FAIL_IF(ppszPIN == NULL, L"Check ppszPIN", E_INVALIDARG);
  *ppszPIN = nullptr;
  if (nLeftTimes <= 0) {
    ui::UserInterface::Current().ShowMessage(nullptr, IDS_PIN_LOCKED, IDS_ERROR_CAPTION,
                                             MB_ICONERROR);
    MR_LOG_FAIL(L"PIN Locked", L"TRUE", SCARD_W_CHV_BLOCKED);
    return SCARD_W_CHV_BLOCKED;
  }

  ui::PinRequest request;
  request.owner = hOwner;
  request.mode = nMode;
  request.tries = nLeftTimes;
  SecretBytes pin;
  const HRESULT hResult = ui::UserInterface::Current().AskPin(request, &pin);
  // The user's Cancel comes back as 0x8010006E; any other failure (no
  // dialog may show on this thread, its template is missing, no memory) is
  // passed on as it is, so that the caller never reads it as a cancel.
  MR_FAIL_IF(FAILED(hResult), L"GetPIN", hResult);
  // Closed with nothing typed: the user gave no PIN.
  MR_FAIL_IF(hResult != S_OK || pin.empty(), L"GetPIN", SCARD_W_CANCELLED_BY_USER);
  SecretText pszPIN = SecretText::CopyOf(pin.data(), pin.size(), pin.size() + 1);
  MR_FAIL_IF(!pszPIN, L"New buffer", E_OUTOFMEMORY);
  pszPIN.HandOut(ppszPIN);
  return S_OK;
}

HRESULT DeviceHandle::GetUserPIN(int nLeftTimes, char** ppszPIN) {
  MR_TRACE("DeviceHandle::GetUserPIN");
  return PromptForPIN(::GetActiveWindow(), 0, nLeftTimes, ppszPIN);
}

}  // namespace merro::device
