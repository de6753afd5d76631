// CMainDlg: the refresh (token list, start boxes, store, tree), the tree's
// clicks and the certificate view.
#include "certmanager/main_dlg.h"

#include <cryptuiapi.h>

#include <cwchar>

#include "certmanager/MerroCommonFiles/store_sync.h"
#include "certmanager/cert_tree.h"
#include "certmanager/manager_settings.h"
#include "certmanager_string_ids.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/flag_file.h"
#include "foundation/win/this_module.h"
#include "provider/container.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

using merro::certmanager::kNoTreeItem;
using merro::certmanager::TreeItemContainer;
using merro::certmanager::TreeItemKind;
using merro::certmanager::TreeItemToken;
using merro::provider::ContainerInformation;
using merro::provider::SecureInfo;
using merro::provider::TokenInformation;
using merro::provider::TokenInformationList;

namespace {

constexpr DWORD kUserPinType = 1;
constexpr LONG kCertAlertDays = 90;
// The hit-test results that count as a click on an item: its icon, its
// label or its state icon.
constexpr UINT kItemHitFlags = TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON;

}  // namespace

HRESULT CMainDlg::InitializeCertTree(BOOL bShowMessages) {
  MR_TRACE("CMainDlg::InitializeCertTree");
  HIMAGELIST hImageList = merro::certmanager::CreateTreeImageList();
  ::SendMessageW(m_hTree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(hImageList));
  if (m_hImageList != nullptr) {
    ::ImageList_Destroy(m_hImageList);
  }
  m_hImageList = hImageList;

  // Read into a list of its own: the tree and the list it shows are
  // replaced together, so item data always index the list they came from.
  TokenInformationList tokens;
  SecureInfo stSecureInfo;
  stSecureInfo.bDefaultPIN = FALSE;
  stSecureInfo.dwCertAlertDays = kCertAlertDays;
  stSecureInfo.dwCertDateState = merro::provider::kCertDateStateNone;
  HRESULT hResult =
      merro::provider::Container::GetAllContainerInformation(kUserPinType, &tokens, &stSecureInfo);
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"GetAllContainerInformation", L"S_OK != hResult", hResult);
    return hResult;
  }
  if (bShowMessages) {
    ShowStartBoxes(stSecureInfo);
  }
  hResult = SYNContainer2Browser(tokens);
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"SYNContainer2Browser", L"S_OK != hResult", hResult);
    return hResult;
  }

  m_tokens = std::move(tokens);
  // A new tree has no selection: an index remembered from the old one may
  // name another token now.
  ClearSelection();
  DisableCommandButtons();
  hResult = merro::certmanager::InitializeDisplayCertTree(m_hTree, m_tokens);
  if (hResult == S_OK) {
    ::SendMessageW(m_hTree, WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
  } else {
    MR_LOG_FAIL(L"InitializeDisplayCertTree", L"S_OK != hResult", hResult);
  }
  return hResult;
}

void CMainDlg::ShowStartBoxes(const SecureInfo& stSecureInfo) {
  MR_TRACE("CMainDlg::ShowStartBoxes");
  if (stSecureInfo.bDefaultPIN &&
      merro::certmanager::ManagerProviderSettings().dwDefaultPINCheck != 0 &&
      !merro::win::FlagFileExists()) {
    ShowBox(IDS_DEFAULT_USER_PIN, IDS_DEFAULT_PIN_DETECTED, MB_ICONWARNING);
  }
  UINT formatId = 0;
  if (stSecureInfo.dwCertDateState == merro::provider::kCertDateStateExpired) {
    formatId = IDS_CERT_EXPIRED;
  } else if (stSecureInfo.dwCertDateState == merro::provider::kCertDateStateExpiring) {
    formatId = IDS_CERT_EXPIRING;
  }
  if (formatId == 0) {
    return;
  }
  const std::wstring format = merro::win::LoadThisModuleString(formatId);
  const std::wstring caption = merro::win::LoadThisModuleString(IDS_CERT_VALIDITY_CHECK);
  wchar_t text[1024] = {};
  const SYSTEMTIME& date = stSecureInfo.stCertDate;
  if (format.empty() || std::swprintf(text, std::size(text), format.c_str(), date.wYear,
                                      date.wMonth, date.wDay) < 0) {
    MR_LOG_FAIL(L"Format date text", L"format.empty()", E_FAIL);
    return;
  }
  ::MessageBoxW(Window(), text, caption.c_str(), MB_ICONWARNING);
}

DWORD CMainDlg::HitTestAndRemember() {
  TVHITTESTINFO hit{};
  ::GetCursorPos(&hit.pt);
  ::ScreenToClient(m_hTree, &hit.pt);
  HTREEITEM hItem =
      reinterpret_cast<HTREEITEM>(::SendMessageW(m_hTree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (hItem == nullptr || (hit.flags & kItemHitFlags) == 0) {
    return kNoTreeItem;
  }
  ::SendMessageW(m_hTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(hItem));
  TVITEMW item{};
  item.mask = TVIF_PARAM | TVIF_HANDLE;
  item.hItem = hItem;
  if (!::SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
    return kNoTreeItem;
  }
  const DWORD dwData = static_cast<DWORD>(item.lParam);
  m_selection = Selection{};
  m_selection.dwItemData = dwData;
  const DWORD token = TreeItemToken(dwData);
  const DWORD kind = TreeItemKind(dwData);
  if (kind != kTreeItemRoot && token < m_tokens.size()) {
    m_selection.strDeviceName = m_tokens[token].strDeviceName;
    const DWORD container = TreeItemContainer(dwData);
    if ((kind == kTreeItemSignatureCert || kind == kTreeItemExchangeCert) &&
        container < m_tokens[token].vecContainers.size()) {
      m_selection.strContainerName = m_tokens[token].vecContainers[container].strContainerName;
    }
  }
  return dwData;
}

void CMainDlg::ClearSelection() { m_selection = Selection{}; }

void CMainDlg::OnClickCertTree() {
  MR_TRACE("CMainDlg::OnClickCertTree");
  const DWORD dwData = HitTestAndRemember();
  if (dwData == kNoTreeItem || TreeItemToken(dwData) >= m_tokens.size()) {
    return;
  }
  SetButtonsForKind(TreeItemKind(dwData));
}

void CMainDlg::OnDblclkCertTree() {
  MR_TRACE("CMainDlg::OnDblclkCertTree");
  ViewCertificate(HitTestAndRemember());
}

void CMainDlg::OnClickViewCert() {
  MR_TRACE("CMainDlg::OnClickViewCert");
  ViewCertificate(m_selection.dwItemData);
}

void CMainDlg::ViewCertificate(DWORD dwItemData) {
  MR_TRACE("CMainDlg::ViewCertificate");
  const DWORD kind = TreeItemKind(dwItemData);
  if (dwItemData == kNoTreeItem || (kind != kTreeItemSignatureCert && kind != kTreeItemExchangeCert)) {
    return;
  }
  const ContainerInformation* pContainer = SelectedContainer();
  if (pContainer == nullptr) {
    MR_LOG_FAIL(L"Find container", L"pContainer == NULL", E_INVALIDARG);
    return;
  }
  PCCERT_CONTEXT pCert = kind == kTreeItemSignatureCert ? pContainer->signatureCert.Get()
                                                        : pContainer->exchangeCert.Get();
  if (!::CryptUIDlgViewContext(CERT_STORE_CERTIFICATE_CONTEXT, pCert, Window(), nullptr, 0, nullptr)) {
    MR_LOG_FAIL(L"CryptUIDlgViewContext", L"bRetCode == FALSE", merro::LastErrorResult());
  }
}

const TokenInformation* CMainDlg::SelectedToken() const {
  return ListedToken(m_selection.strDeviceName);
}

const TokenInformation* CMainDlg::ListedToken(const std::string& strDeviceName) const {
  if (strDeviceName.empty()) {
    return nullptr;
  }
  for (const TokenInformation& token : m_tokens) {
    if (token.strDeviceName == strDeviceName) {
      return &token;
    }
  }
  return nullptr;
}

const TokenInformation* CMainDlg::SelectedTokenOrTell(UINT captionId) {
  const TokenInformation* pToken = SelectedToken();
  if (pToken == nullptr) {
    ShowBox(IDS_SELECT_KEY, captionId, MB_ICONERROR);
  }
  return pToken;
}

const ContainerInformation* CMainDlg::SelectedContainer() const {
  const TokenInformation* pToken = SelectedToken();
  const DWORD kind = TreeItemKind(m_selection.dwItemData);
  if (pToken == nullptr || m_selection.strContainerName.empty() ||
      (kind != kTreeItemSignatureCert && kind != kTreeItemExchangeCert)) {
    return nullptr;
  }
  for (const ContainerInformation& container : pToken->vecContainers) {
    if (container.strContainerName == m_selection.strContainerName) {
      const bool present = kind == kTreeItemSignatureCert ? static_cast<bool>(container.signatureCert)
                                                          : static_cast<bool>(container.exchangeCert);
      return present ? &container : nullptr;
    }
  }
  return nullptr;
}
