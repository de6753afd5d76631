#include "device/ui/pin_dialog.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "PinDialog"

namespace merro::ui {

namespace {

constexpr size_t kTextCapacity = 260;
constexpr DWORD kMinPinChars = 6;

}  // namespace

CInputPINDlg::CInputPINDlg() = default;

CInputPINDlg::~CInputPINDlg() { ClearPIN(); }

void CInputPINDlg::ClearPIN() { SecureWipe(m_szPIN, sizeof m_szPIN); }

HRESULT CInputPINDlg::Initialize(int nMode, int nLeftTimes) {
  MR_TRACE("CInputPINDlg::Initialize");
  m_bClickOK = FALSE;
  ClearPIN();
  m_bInitialzie = TRUE;
  m_nMode = nMode;
  m_nLeftTimes = nLeftTimes;
  return S_OK;
}

HRESULT CInputPINDlg::GetPIN(SecretBytes* pPin) const {
  MR_TRACE("CInputPINDlg::GetPIN");
  MR_FAIL_IF(pPin == nullptr, L"Check arguments", E_INVALIDARG);
  MR_FAIL_IF(m_bInitialzie == FALSE, L"Check state", E_FAIL);
  MR_FAIL_IF(m_bClickOK == FALSE, L"Check state", SCARD_W_CANCELLED_BY_USER);
  MR_FAIL_IF(strlen(m_szPIN) == 0, L"Check PIN", E_FAIL);
  if (!pPin->Assign(m_szPIN, std::strlen(m_szPIN))) {
    MR_LOG_FAIL(L"New buffer", L"!pszPIN", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

BOOL CInputPINDlg::OnInitDialog() {
  MR_TRACE("CInputPINDlg::OnInitDialog");
  const HMODULE module = merro::win::ThisModule();
  wchar_t prompt[kTextCapacity] = {};
  if (m_nMode == kModeUser) {
    ::LoadStringW(module, IDS_INPUT_PIN, prompt, kTextCapacity);
  } else if (m_nMode == kModeAdministrator) {
    ::LoadStringW(module, IDS_INPUT_ADMIN_PIN, prompt, kTextCapacity);
    wchar_t title[kTextCapacity] = {};
    ::LoadStringW(module, IDS_CHECK_ADMIN_PIN, title, kTextCapacity);
    ::SetWindowTextW(Window(), title);
  } else {
    ::LoadStringW(module, IDS_PIN_RETRY, prompt, kTextCapacity);
  }

  wchar_t remaining[kTextCapacity] = {};
  ::LoadStringW(module, IDS_REMAINING_TIMES, remaining, kTextCapacity);
  wchar_t tries[kTextCapacity] = {};
  // The punctuation between text and number is the language's own.
  const std::wstring format = merro::win::LoadThisModuleString(IDS_TRIES_FORMAT, L"%ls %d");
  std::swprintf(tries, kTextCapacity, format.c_str(), remaining, m_nLeftTimes);
  ::SetDlgItemTextW(Window(), IDC_PIN_TRIES, tries);
  ::SetDlgItemTextW(Window(), IDC_PIN_PROMPT, prompt);

  ::EnableWindow(::GetDlgItem(Window(), IDC_PIN_OK), FALSE);
  if (!m_edtPIN.Attach(::GetDlgItem(Window(), IDC_PIN_EDIT))) {
    MR_LOG_FAIL(L"Attach", L"!m_edtPIN.Attach", E_FAIL);
  }
  return TRUE;  // the dialog manager gives the field the focus: the hook goes in
}

bool CInputPINDlg::OnCommand(WORD id, WORD notifyCode, HWND) {
  switch (id) {
    case IDC_PIN_EDIT:
      if (notifyCode == EN_CHANGE) {
        const DWORD count = m_edtPIN.GetPasswordLength();
        ::EnableWindow(::GetDlgItem(Window(), IDC_PIN_OK),
                       count >= kMinPinChars && count <= CPasswordEdit::kMaxChars);
      }
      return true;
    case IDC_PIN_OK:
      OnOK();
      return true;
    case IDC_PIN_CANCEL:
      m_bClickOK = FALSE;
      ClearPIN();
      CloseDialog();
      return true;
    default:
      // IDCANCEL (Escape on a button) is not handled: only Cancel, the
      // system close and OK end the dialog.
      return false;
  }
}

void CInputPINDlg::OnOK() {
  MR_TRACE("CInputPINDlg::OnOK");
  SecretBytes pin;
  const HRESULT hr = m_edtPIN.GetDecryptPassword(&pin);
  ClearPIN();
  if (SUCCEEDED(hr)) {
    const size_t length = pin.size() < sizeof m_szPIN - 1 ? pin.size() : sizeof m_szPIN - 1;
    if (length != 0) {
      std::memcpy(m_szPIN, pin.data(), length);
    }
    m_bClickOK = TRUE;
  } else {
    MR_LOG_FAIL(L"GetDecryptPassword", L"FAILED(hr)", hr);
    m_bClickOK = FALSE;
  }
  CloseDialog();
}

bool CInputPINDlg::OnClose() {
  CloseDialog();
  return true;
}

void CInputPINDlg::CloseDialog() {
  if (Window() != nullptr && ::IsWindow(Window())) {
    EndDialog(0);
  }
}

}  // namespace merro::ui
