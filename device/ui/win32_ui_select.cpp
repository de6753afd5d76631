#include <memory>

#include "device/ui/select_key_dialog.h"
#include "device/ui/win32_user_interface.h"
#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

namespace merro::ui {

HRESULT Win32UserInterface::SelectToken(HWND owner, const std::vector<device::DeviceItem>& devices,
                                        int* pRow) {
  MR_TRACE("Win32UserInterface::SelectToken");
  MR_FAIL_IF(pRow == nullptr, L"Check pRow", E_INVALIDARG);
  *pRow = -1;
  auto dialog = std::make_unique<CSelectKeyDlg>();  // 33 KB of labels: not on the stack
  HRESULT hr = dialog->SetSelectedKey(devices);
  if (hr != S_OK) {
    MR_LOG_FAIL(L"SetSelectedKey", L"hr != S_OK", hr);
    return hr;
  }
  if (dialog->DoModal(owner) == -1 && dialog->State() == DialogState::NeverInitialised) {
    // No dialog came up (a missing template, no desktop): that is a failure,
    // not the user's cancellation.
    hr = merro::win::FailedCallResult(ERROR_RESOURCE_NAME_NOT_FOUND);
    MR_LOG_FAIL(L"DoModal", L"the dialog could not be created", hr);
    return hr;
  }
  *pRow = dialog->SelectedIndex();
  return S_OK;
}

}  // namespace merro::ui
