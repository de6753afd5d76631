// CMainDlg: the two commands without a visible button, reached by a sent
// WM_COMMAND: initialising the token (all containers deleted, user PIN back
// to the factory default) and unlocking a locked user PIN with the
// administrator PIN. Once confirmed, each resets the token whatever the
// outcome, as the PIN change does.
#include <cstring>
#include <cwchar>
#include <string>

#include "certmanager/main_dlg.h"
#include "certmanager/pin_info.h"
#include "certmanager/pin_rules.h"
#include "certmanager_string_ids.h"
#include "device/device_handle.h"
#include "foundation/secret_bytes.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "provider/key_handle.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

namespace {

using merro::certmanager::kAdminPIN;
using merro::certmanager::kUserPIN;
using merro::certmanager::PINInfo;
using merro::certmanager::ReadPINInfo;

constexpr int kDefaultLeftTimes = 6;
const char* const kDefaultPIN = merro::certmanager::kFactoryDefaultPIN.data();
const DWORD kDefaultPINSize = static_cast<DWORD>(merro::certmanager::kFactoryDefaultPIN.size());

// Resets the token's security state once: at Run, else when the scope ends.
// A command that verifies a PIN leaves no verified state behind on any way
// out, or every process could use the token with it.
class TokenReset {
 public:
  explicit TokenReset(const char* pszDevName) : m_pszDevName(pszDevName) {}
  ~TokenReset() { Run(); }
  TokenReset(const TokenReset&) = delete;
  TokenReset& operator=(const TokenReset&) = delete;

  void Run() {
    if (m_bDone) {
      return;
    }
    m_bDone = true;
    const HRESULT hReset = g_pDeviceHandle->ResetKey(m_pszDevName);
    if (FAILED(hReset)) {
      MR_TRACE_UNDER("TokenReset::Run");
      MR_LOG_FAIL(L"ResetKey", L"FAILED(hReset)", hReset);
    }
  }

 private:
  const char* m_pszDevName;
  bool m_bDone = false;
};

}  // namespace

void CMainDlg::OnClickInitialize() {
  MR_TRACE("CMainDlg::OnClickInitialize");
  const merro::provider::TokenInformation* pToken = SelectedTokenOrTell(IDS_INITIALIZE_KEY);
  if (pToken == nullptr) {
    return;
  }
  const std::string devName = pToken->strDeviceName;
  const char* pszDevName = devName.c_str();
  UINT textId = 0;
  PINInfo user;
  PINInfo admin;
  HRESULT hResult = ReadPINInfo(pszDevName, kUserPIN, &user);
  if (SUCCEEDED(hResult)) {
    hResult = ReadPINInfo(pszDevName, kAdminPIN, &admin);
  }
  if (FAILED(hResult)) {
    textId = IDS_GET_PIN_INFO_FAILED;
  } else if (admin.LeftTimes() <= 0) {
    textId = IDS_ADMIN_PIN_LOCKED;
  } else {
    if (ShowBox(IDS_CONFIRM_INITIALIZE, IDS_INITIALIZE_KEY, MB_YESNO | MB_ICONWARNING) != IDYES) {
      MR_LOG_STEP(L"Not confirmed");
      return;
    }
    TokenReset reset(pszDevName);
    if (FAILED(hResult = g_pDeviceHandle->CheckPIN(pszDevName, kAdminPIN, kDefaultPIN,
                                                   kDefaultPINSize, kDefaultLeftTimes, 0))) {
      textId = IDS_CHECK_ADMIN_PIN_FAILED;
    } else if (FAILED(hResult = g_pDeviceHandle->UnlockUserPIN(pszDevName, kDefaultPIN,
                                                               kDefaultPIN))) {
      textId = IDS_UNLOCK_FAILED;
    } else if (FAILED(hResult = g_pDeviceHandle->CheckPIN(pszDevName, kUserPIN, kDefaultPIN,
                                                          kDefaultPINSize, kDefaultLeftTimes,
                                                          0))) {
      textId = IDS_VERIFY_DEFAULT_PIN_FAILED;
    } else if (FAILED(hResult = g_pDeviceHandle->DeleteAllContainer(pszDevName))) {
      textId = IDS_CLEAR_KEY_FAILED;
    } else {
      reset.Run();
      InitializeCertTree(FALSE);
      textId = IDS_INITIALIZE_SUCCESS;
    }
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"Initialize", L"FAILED(hResult)", hResult);
    }
  }
  ShowBox(textId, IDS_INITIALIZE_KEY, MB_ICONINFORMATION);
}

void CMainDlg::OnClickUnlockPin() {
  MR_TRACE("CMainDlg::OnClickUnlockPin");
  const merro::provider::TokenInformation* pToken = SelectedTokenOrTell(IDS_UNLOCK_USER_PIN);
  if (pToken == nullptr) {
    return;
  }
  const std::string devName = pToken->strDeviceName;
  const char* pszDevName = devName.c_str();
  PINInfo user;
  HRESULT hResult = ReadPINInfo(pszDevName, kUserPIN, &user);
  if (FAILED(hResult)) {
    ShowBox(IDS_GET_PIN_INFO_FAILED, IDS_UNLOCK_USER_PIN, MB_ICONINFORMATION);
    return;
  }
  if (user.LeftTimes() > 0) {
    const std::wstring leftTimes = merro::win::LoadThisModuleString(IDS_LEFT_TIMES);
    const std::wstring notLocked = merro::win::LoadThisModuleString(IDS_PIN_NOT_LOCKED);
    const std::wstring caption = merro::win::LoadThisModuleString(IDS_UNLOCK_USER_PIN);
    wchar_t text[512] = {};
    std::swprintf(text, std::size(text), L"%ls%d\n%ls", leftTimes.c_str(),
                  user.LeftTimes(), notLocked.c_str());
    ::MessageBoxW(Window(), text, caption.c_str(), MB_ICONINFORMATION);
    return;
  }

  UINT textId = 0;
  PINInfo admin;
  if (FAILED(ReadPINInfo(pszDevName, kAdminPIN, &admin))) {
    textId = IDS_GET_PIN_INFO_FAILED;
  } else if (admin.LeftTimes() <= 0) {
    textId = IDS_ADMIN_PIN_LOCKED;
  } else if (admin.dwModified == 0) {
    textId = IDS_DEFAULT_ADMIN_PIN;
  } else {
    if (ShowBox(IDS_CONFIRM_UNLOCK, IDS_UNLOCK_USER_PIN, MB_YESNO | MB_ICONWARNING) != IDYES) {
      MR_LOG_STEP(L"Not confirmed");
      return;
    }
    const TokenReset reset(pszDevName);
    // Forced, so that the PIN is asked and handed out even when the token
    // already shows the administrator verified: the unlock needs the PIN
    // itself, and it is the one the user has set, not the factory default.
    char* pszAdminPIN = nullptr;
    hResult = merro::provider::KeyHandle::CheckPINCode(pszDevName, kAdminPIN, TRUE, FALSE,
                                                       &pszAdminPIN);
    // Handed out by the key handle: wiped, then freed.
    const merro::SecretText adminPIN = merro::SecretText::Adopt(
        pszAdminPIN, pszAdminPIN != nullptr ? static_cast<DWORD>(std::strlen(pszAdminPIN)) : 0);
    if (FAILED(hResult) || adminPIN == nullptr) {
      MR_LOG_FAIL(L"CheckPINCode", L"FAILED(hResult)", hResult);
      textId = IDS_CHECK_ADMIN_PIN_FAILED;
    } else if (FAILED(hResult = g_pDeviceHandle->UnlockUserPIN(pszDevName, adminPIN.get(),
                                                               kDefaultPIN))) {
      MR_LOG_FAIL(L"UnlockUserPIN", L"FAILED(hResult)", hResult);
      textId = IDS_UNLOCK_FAILED;
    } else if (FAILED(hResult = g_pDeviceHandle->CheckPIN(pszDevName, kUserPIN, kDefaultPIN,
                                                          kDefaultPINSize, kDefaultLeftTimes,
                                                          0))) {
      MR_LOG_FAIL(L"CheckPIN", L"FAILED(hResult)", hResult);
      textId = IDS_VERIFY_DEFAULT_PIN_FAILED;
    } else {
      textId = IDS_UNLOCK_SUCCESS;
    }
  }
  ShowBox(textId, IDS_UNLOCK_USER_PIN, MB_ICONINFORMATION);
}
