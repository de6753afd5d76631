#include "device/ui/confirm_dialogs.h"

#include <cwchar>

#include "device/ui/gdiplus_session.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {
namespace {

// The confirmation text draws its heading centred, in the thread's language.
void AttachConfirmText(HWND dialog, CConfirmText* pText) {
  pText->SetHeading(merro::win::LoadThisModuleString(IDS_CONFIRM_HEADING));
  if (pText->Window() == nullptr) {
    pText->SubclassWindow(::GetDlgItem(dialog, IDC_CONFIRM_TEXT));
  }
}

}  // namespace

CTransactionConfirmDlg::CTransactionConfirmDlg() : m_hSignResult(E_FAIL), m_wszOperationTips{} {}

HRESULT CTransactionConfirmDlg::SetOperationTips(const wchar_t* pwszOperationTips) {
  MR_TRACE("CTransactionConfirmDlg::SetOperationTips");
  MR_FAIL_IF(pwszOperationTips == NULL, L"Check pwszOperationTips", E_INVALIDARG);
  const size_t nLength = wcsnlen(pwszOperationTips, kTipsChars - 1);
  if (nLength <= 0) {
    MR_LOG_FAIL(L"Check pwszOperationTips", L"wcslen(pwszOperationTips) <= 0", E_INVALIDARG);
    return E_INVALIDARG;
  }
  std::wmemset(m_wszOperationTips, 0, kTipsChars);
  std::wmemcpy(m_wszOperationTips, pwszOperationTips, nLength);
  return S_OK;
}

HRESULT CTransactionConfirmDlg::SetTransactionContext(void* pKeyCtx, BYTE byHashType,
                                                      const BYTE* pbySourceData,
                                                      DWORD nSourceDataSize, BYTE* pSignedData,
                                                      DWORD* pSignedDataSize) {
  MR_TRACE("CTransactionConfirmDlg::SetTransactionContext");
  MR_FAIL_IF(pKeyCtx == NULL, L"Check pKeyCtx", E_INVALIDARG);
  if (byHashType == 0) {
    MR_LOG_FAIL(L"Check byHashType", L"byHashType == NULL", E_INVALIDARG);
    return E_INVALIDARG;
  }
  MR_FAIL_IF(pbySourceData == NULL, L"Check pbySourceData", E_INVALIDARG);
  MR_FAIL_IF(nSourceDataSize <= 0, L"Check nSourceDataSize", E_INVALIDARG);
  MR_FAIL_IF(pSignedData == NULL, L"Check pSignedData", E_INVALIDARG);
  MR_FAIL_IF(pSignedDataSize == NULL, L"Check pSignedDataSize", E_INVALIDARG);
  m_stTransactionContext.pKeyCtx = pKeyCtx;
  m_stTransactionContext.byHashType = byHashType;
  m_stTransactionContext.pbySourceData = pbySourceData;
  m_stTransactionContext.nSourceDataSize = nSourceDataSize;
  m_stTransactionContext.pSignedData = pSignedData;
  m_stTransactionContext.pSignedDataSize = pSignedDataSize;
  return S_OK;
}

HRESULT CTransactionConfirmDlg::DoModal(HWND owner) {
  MR_TRACE("CTransactionConfirmDlg::DoModal");
  // GDI+ runs while this dialog stands, and the picture is gone before it
  // shuts down.
  const GdiplusSession gdiplus;
  m_bGdiplusStarted = gdiplus.Started();
  m_hSignResult = RunConfirmation(IDD, owner, 0);
  m_picture.ClearImage();
  m_bGdiplusStarted = false;
  return m_hSignResult;
}

BOOL CTransactionConfirmDlg::OnInitDialog() {
  MR_TRACE("CTransactionConfirmDlg::OnInitDialog");
  m_picture.ClearImage();
  if (m_bGdiplusStarted) {
    // A picture that does not load leaves the control without an image.
    m_picture.LoadImageFromResource(IDR_TOKEN_PNG);
  }
  AttachConfirmText(Window(), &m_text);
  ::SetDlgItemTextW(Window(), IDC_CONFIRM_TEXT, m_wszOperationTips);
  m_stTransactionContext.pDialog = this;
  StartWorker();
  if (m_picture.Window() == nullptr) {
    m_picture.SubclassWindow(::GetDlgItem(Window(), IDC_TOKEN_PICTURE));
  }
  FitToPicture();
  return FALSE;  // the focus stays where it was
}

// The template's picture control is sized in dialog units: where the dialog
// font is taller (a Chinese system's stand-in for the template's font), it
// has room to spare under the picture. The control and the dialog lose that
// room, so the dialog ends under the picture in every language.
void CTransactionConfirmDlg::FitToPicture() {
  HWND picture = ::GetDlgItem(Window(), IDC_TOKEN_PICTURE);
  const LONG imageHeight = m_picture.ImageSize().cy;
  RECT control = {};
  if (picture == nullptr || imageHeight <= 0 || !::GetWindowRect(picture, &control)) {
    return;
  }
  const LONG spare = (control.bottom - control.top) - imageHeight;
  RECT dialog = {};
  if (spare <= 0 || !::GetWindowRect(Window(), &dialog)) {
    return;
  }
  constexpr UINT kFlags = SWP_NOZORDER | SWP_NOACTIVATE;
  ::SetWindowPos(picture, nullptr, 0, 0, control.right - control.left, imageHeight,
                 kFlags | SWP_NOMOVE);
  // Still centred where the dialog manager centred it.
  ::SetWindowPos(Window(), nullptr, dialog.left, dialog.top + spare / 2,
                 dialog.right - dialog.left, dialog.bottom - dialog.top - spare, kFlags);
}

bool CTransactionConfirmDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR* pResult) {
  if (message != WM_LBUTTONDOWN) {
    return false;
  }
  // The window has no caption: a press anywhere drags it, as on a caption.
  ::SendMessageW(Window(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
  *pResult = TRUE;
  return true;
}

HRESULT COperationConfirmDlg::DoModal(HWND owner, OperationConfirmContext* pContext) {
  MR_TRACE("COperationConfirmDlg::DoModal");
  MR_FAIL_IF(pContext == NULL, L"Check pContext", E_INVALIDARG);
  m_pContext = pContext;
  pContext->hResult = RunConfirmation(IDD, owner, reinterpret_cast<LPARAM>(pContext));
  pContext->hDialog = nullptr;  // gone
  m_pContext = nullptr;
  return pContext->hResult;
}

BOOL COperationConfirmDlg::OnInitDialog() {
  MR_TRACE("COperationConfirmDlg::OnInitDialog");
  auto* pContext = reinterpret_cast<OperationConfirmContext*>(InitParam());
  pContext->hDialog = Window();
  AttachConfirmText(Window(), &m_text);
  if (pContext->pwszTips != nullptr) {
    ::SetDlgItemTextW(Window(), IDC_CONFIRM_TEXT, pContext->pwszTips);
  }
  StartWorker();
  return FALSE;
}

}  // namespace merro::ui
