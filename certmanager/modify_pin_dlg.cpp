#include "certmanager/modify_pin_dlg.h"

#include <new>
#include <string>
#include <string_view>

#include "certmanager/center_window.h"
#include "certmanager/pin_rules.h"
#include "certmanager_string_ids.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "ModifyPINDlg"

namespace {

std::string_view View(const merro::SecretBytes& bytes) {
  return bytes.empty() ? std::string_view()
                       : std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

CModifyPINDlg::~CModifyPINDlg() { WipePINs(); }

void CModifyPINDlg::WipePINs() {
  m_oldPIN.Clear();
  m_newPIN.Clear();
}

HRESULT CModifyPINDlg::GetOldPINAndNewPIN(merro::SecretBytes* pOldPIN,
                                          merro::SecretBytes* pNewPIN) const {
  MR_TRACE("CModifyPINDlg::GetOldPINAndNewPIN");
  MR_FAIL_IF(pOldPIN == nullptr || pNewPIN == nullptr, L"Check arguments", E_INVALIDARG);
  if (!pOldPIN->Assign(m_oldPIN.data(), m_oldPIN.size()) ||
      !pNewPIN->Assign(m_newPIN.data(), m_newPIN.size())) {
    pOldPIN->Clear();
    pNewPIN->Clear();
    MR_LOG_FAIL(L"New buffer", L"bad_alloc", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

BOOL CModifyPINDlg::OnInitDialog() {
  MR_TRACE("CModifyPINDlg::OnInitDialog");
  ::SetWindowTextW(Window(), merro::win::LoadThisModuleString(IDS_MODIFY_USER_PIN).c_str());
  merro::certmanager::CenterOverOwner(Window());
  m_nTip = InitParam();
  WipePINs();
  const bool attached = m_edtOldPIN.Attach(::GetDlgItem(Window(), IDC_OLD_PIN)) &&
                        m_edtNewPIN.Attach(::GetDlgItem(Window(), IDC_NEW_PIN)) &&
                        m_edtConfirmPIN.Attach(::GetDlgItem(Window(), IDC_CONFIRM_PIN));
  if (!attached) {
    MR_LOG_FAIL(L"Attach", L"!attached", E_FAIL);
  }
  return TRUE;
}

bool CModifyPINDlg::OnCommand(WORD id, WORD, HWND) {
  switch (id) {
    case IDOK:
      OnOK();
      return true;
    case IDCANCEL:
      WipePINs();
      EndDialog(IDCANCEL);
      return true;
    default:
      return false;
  }
}

bool CModifyPINDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR* pResult) {
  if (message == WM_PAINT && m_nTip != 0) {
    OnPaint();
    *pResult = TRUE;
    return true;
  }
  return false;
}

void CModifyPINDlg::OnPaint() {
  PAINTSTRUCT ps = {};
  const HDC hdc = ::BeginPaint(Window(), &ps);
  if (hdc == nullptr) {
    return;
  }
  const std::wstring tip = merro::win::LoadThisModuleString(IDS_ORIGINAL_PIN_ERROR);
  RECT rc = {12, 7, 200, 40};
  const HGDIOBJ oldFont = ::SelectObject(hdc, ::GetStockObject(DEFAULT_GUI_FONT));
  ::SetTextColor(hdc, RGB(255, 0, 0));
  ::SetBkMode(hdc, TRANSPARENT);
  ::DrawTextW(hdc, tip.c_str(), -1, &rc, DT_SINGLELINE | DT_VCENTER);
  ::SelectObject(hdc, oldFont);
  ::EndPaint(Window(), &ps);
}

void CModifyPINDlg::OnOK() {
  MR_TRACE("CModifyPINDlg::OnOK");
  merro::SecretBytes oldPIN;
  merro::SecretBytes newPIN;
  merro::SecretBytes confirmPIN;
  UINT textId = 0;
  if (FAILED(m_edtOldPIN.GetDecryptPassword(&oldPIN)) ||
      FAILED(m_edtNewPIN.GetDecryptPassword(&newPIN)) ||
      FAILED(m_edtConfirmPIN.GetDecryptPassword(&confirmPIN))) {
    textId = IDS_OLD_PIN_LENGTH;
  } else {
    textId = merro::certmanager::CheckNewPIN(View(oldPIN), View(newPIN), View(confirmPIN));
  }
  if (textId != 0) {
    const std::wstring text = merro::win::LoadThisModuleString(textId);
    const std::wstring caption = merro::win::LoadThisModuleString(IDS_MODIFY_USER_PIN);
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
    return;
  }
  m_oldPIN = std::move(oldPIN);
  m_newPIN = std::move(newPIN);
  EndDialog(IDOK);
}
