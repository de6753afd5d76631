#include "device/ui/pin_dialog.h"
#include "device/ui/win32_user_interface.h"
#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "PinDialog"

namespace merro::ui {

// The mode and the tries alone choose the dialog's texts.
HRESULT Win32UserInterface::AskPin(const PinRequest& request, SecretBytes* pPin) {
  MR_TRACE("Win32UserInterface::AskPin");
  MR_FAIL_IF(pPin == nullptr, L"Check arguments", E_INVALIDARG);
  pPin->Clear();
  CInputPINDlg dialog;
  dialog.Initialize(request.mode, request.tries);
  if (dialog.DoModal(request.owner) == -1) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_RESOURCE_NAME_NOT_FOUND);
    MR_LOG_FAIL(L"DoModal", L"dialog not created", hr);
    return hr;
  }
  return dialog.GetPIN(pPin);
}

}  // namespace merro::ui
