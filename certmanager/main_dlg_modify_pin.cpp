// CMainDlg::OnClickModifyPIN: changes the selected token's user PIN through
// CModifyPINDlg, reopening the dialog after a wrong old PIN until the change
// succeeds, the user cancels or the PIN locks. The token is reset whatever
// the outcome, so that no verified state outlives the command.
#include <cwchar>
#include <string>

#include "certmanager/main_dlg.h"
#include "certmanager/modify_pin_dlg.h"
#include "certmanager/pin_info.h"
#include "certmanager_string_ids.h"
#include "device/device_handle.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "provider/key_handle.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

using merro::certmanager::kUserPIN;
using merro::certmanager::PINInfo;
using merro::certmanager::ReadPINInfo;

void CMainDlg::OnClickModifyPIN() {
  MR_TRACE("CMainDlg::OnClickModifyPIN");
  const merro::provider::TokenInformation* pToken = SelectedTokenOrTell(IDS_MODIFY_USER_PIN);
  if (pToken == nullptr) {
    return;
  }
  // A refresh while a box is open may replace the token list: keep the name.
  const std::string devName = pToken->strDeviceName;
  const char* pszDevName = devName.c_str();
  UINT errorId = 0;
  for (;;) {
    PINInfo info;
    HRESULT hResult = ReadPINInfo(pszDevName, kUserPIN, &info);
    if (FAILED(hResult)) {
      errorId = IDS_GET_PIN_INFO_FAILED;
      break;
    }
    if (info.LeftTimes() <= 0) {
      MR_LOG_FAIL(L"Check left times", L"dwLeftTimes == 0", SCARD_W_CHV_BLOCKED);
      errorId = IDS_PIN_LOCKED_TEXT;
      break;
    }
    CModifyPINDlg dlg;
    if (dlg.DoModal(::GetActiveWindow(), 0) != IDOK) {
      MR_LOG_STEP(L"Cancelled");
      break;
    }
    merro::SecretBytes oldPIN;
    merro::SecretBytes newPIN;
    hResult = dlg.GetOldPINAndNewPIN(&oldPIN, &newPIN);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"GetOldPINAndNewPIN", L"FAILED(hResult)", hResult);
      break;
    }
    hResult = merro::provider::KeyHandle::ModifyPINWithTip(
        pszDevName, kUserPIN, oldPIN.data(), static_cast<DWORD>(oldPIN.size()), newPIN.data(),
        static_cast<DWORD>(newPIN.size()));
    if (hResult == S_OK) {
      ShowBox(IDS_PIN_MODIFIED, IDS_MODIFY_USER_PIN, MB_OK);
      break;
    }
    if (hResult == SCARD_W_CANCELLED_BY_USER) {
      MR_LOG_STEP(L"Cancelled on the token");
      break;
    }
    MR_LOG_FAIL(L"ModifyPINWithTip", L"hResult != S_OK", hResult);
    if (FAILED(ReadPINInfo(pszDevName, kUserPIN, &info))) {
      errorId = IDS_GET_PIN_INFO_FAILED;
      break;
    }
    const std::wstring pinError = merro::win::LoadThisModuleString(IDS_PIN_ERROR);
    const std::wstring leftTimes = merro::win::LoadThisModuleString(IDS_LEFT_TIMES);
    const std::wstring caption = merro::win::LoadThisModuleString(IDS_MODIFY_USER_PIN);
    wchar_t text[512] = {};
    std::swprintf(text, std::size(text), L"%ls\n%ls%d", pinError.c_str(), leftTimes.c_str(),
                  info.LeftTimes());
    ::MessageBoxW(Window(), text, caption.c_str(), MB_ICONERROR);
  }
  if (errorId != 0) {
    ShowBox(errorId, IDS_MODIFY_USER_PIN, MB_ICONERROR);
  }
  const HRESULT hReset = g_pDeviceHandle->ResetKey(pszDevName);
  if (FAILED(hReset)) {
    MR_LOG_FAIL(L"ResetKey", L"FAILED(hReset)", hReset);
  }
}
