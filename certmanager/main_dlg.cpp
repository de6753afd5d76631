// CMainDlg: set-up, the message dispatch, the tray requests, the provider's
// signal on the timer, and the exit.
#include "certmanager/main_dlg.h"

#include <initguid.h>
#include <usbiodef.h>

#include "certmanager/MerroCommonFiles/store_sync.h"
#include "certmanager/cert_tree.h"
#include "certmanager_string_ids.h"
#include "device/signal_events.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "provider/cert_store.h"
#include "provider/container.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

using merro::provider::Container;

namespace {

// The timer on which the provider's signal is looked at, once a second.
constexpr UINT_PTR kSignalTimer = 0;
constexpr UINT kSignalTimerMs = 1000;

constexpr int kCommandButtons[] = {IDC_MODIFY_PIN, IDC_VIEW_CERT, IDC_VIEW_DEV, IDC_MOD_DEV_NAME};

}  // namespace

CMainDlg::CMainDlg() = default;

CMainDlg::~CMainDlg() {
  // A window still standing (a test that ends without a real exit) goes
  // before the objects its handlers use.
  DestroyWindow();
  if (m_hImageList != nullptr) {
    ::ImageList_Destroy(m_hImageList);
  }
}

BOOL CMainDlg::bIsKeyInsert() {
  MR_TRACE("CMainDlg::bIsKeyInsert");
  DWORD dwCount = 0;
  const HRESULT hResult = Container::GetInsertedKeyCount(&dwCount);
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"GetAllContainerInformation", L"S_OK != hResult", hResult);
    return FALSE;
  }
  return dwCount > 0 ? TRUE : FALSE;
}

BOOL CMainDlg::PreTranslateMessage(MSG* pMsg) {
  return Window() != nullptr && ::IsDialogMessageW(Window(), pMsg) ? TRUE : FALSE;
}

BOOL CMainDlg::OnInitDialog() {
  MR_TRACE("CMainDlg::OnInitDialog");
  m_icons.SetOn(Window());
  ::SetWindowTextW(Window(), merro::win::LoadThisModuleString(IDS_MAIN_TITLE).c_str());
  ::SetDlgItemTextW(Window(), IDC_MODIFY_PIN,
                    merro::win::LoadThisModuleString(IDS_MODIFY_USER_PIN).c_str());

  m_pGdiplus = std::make_unique<merro::ui::GdiplusSession>();
  m_logo.SubclassWindow(::GetDlgItem(Window(), IDC_LOGO));
  m_logo.LoadImageFromResource(IDR_LOGO_PNG);

  m_pLoop = merro::certmanager::ThreadMessageLoop::Current();
  if (m_pLoop != nullptr) {
    m_pLoop->AddMessageFilter(this);
  }

  m_hTree = ::GetDlgItem(Window(), IDC_CERT_TREE);
  m_pParam = reinterpret_cast<ManagerThreadParam*>(InitParam());
  if (m_pParam != nullptr) {
    m_pParam->hMainDlg = Window();
  }

  m_hEventA = merro::device::CreateSignalEvent(L'A', merro::provider::kProviderName);
  m_hEventB = merro::device::CreateSignalEvent(L'B', merro::provider::kProviderName);
  if (m_hEventA == nullptr || m_hEventB == nullptr) {
    MR_LOG_FAIL(L"CreateEventW", L"m_hEventA == NULL || m_hEventB == NULL", merro::LastErrorResult());
  }
  ::SetTimer(Window(), kSignalTimer, kSignalTimerMs, nullptr);

  InitializeCertTree(TRUE);

  DisableCommandButtons();
  for (const int id : {IDC_INITIALIZE, IDC_UNLOCK_PIN}) {
    EnableButton(id, false);
    ::ShowWindow(::GetDlgItem(Window(), id), SW_HIDE);
  }

  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
  m_hDevNotify = ::RegisterDeviceNotificationW(Window(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (m_hDevNotify == nullptr) {
    MR_LOG_FAIL(L"RegisterDeviceNotificationW", L"m_hDevNotify == NULL", merro::LastErrorResult());
  }
  return TRUE;
}

bool CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) {
  *pResult = FALSE;
  switch (message) {
    case WM_DESTROY:
      OnDestroy();
      return false;
    case WM_CLOSE:
      OnClose(wParam);
      *pResult = TRUE;
      return true;
    case WM_DEVICECHANGE:
      if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) {
        return false;
      }
      ::SetWindowLongPtrW(Window(), DWLP_MSGRESULT, OnDeviceChange(wParam, lParam));
      *pResult = TRUE;
      return true;
    case WM_TIMER:
      OnTimer(wParam);
      *pResult = TRUE;
      return true;
    case WM_TRAYNOTIFY:
      OnShowTrayIcon(lParam);
      *pResult = TRUE;
      return true;
    case WM_NOTIFY: {
      const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
      if (pHeader == nullptr || pHeader->idFrom != IDC_CERT_TREE) {
        return false;
      }
      if (pHeader->code == NM_CLICK) {
        OnClickCertTree();
      } else if (pHeader->code == NM_DBLCLK) {
        OnDblclkCertTree();
      }
      // The tree's own handling (selection, expansion) goes on.
      return false;
    }
    default:
      return false;
  }
}

bool CMainDlg::OnCommand(WORD id, WORD notifyCode, HWND control) {
  if (notifyCode != BN_CLICKED) {
    return false;
  }
  switch (id) {
    case IDC_REFRESH:
      InitializeCertTree(FALSE);
      return true;
    case IDC_MODIFY_PIN:
      OnClickModifyPIN();
      break;
    case IDC_VIEW_CERT:
      OnClickViewCert();
      break;
    case IDC_ABOUT:
      OnClickAbout();
      break;
    case IDC_INITIALIZE:
      OnClickInitialize();
      break;
    case IDC_UNLOCK_PIN:
      OnClickUnlockPin();
      break;
    case IDC_HELP_BUTTON:
      OnClickHelp();
      break;
    case IDC_MOD_DEV_NAME:
      OnClickModDevName();
      break;
    case IDC_VIEW_DEV:
      OnClickViewDev();
      break;
    default:
      return false;
  }
  // Whatever the command gave, the user picks an item again before the next.
  DisableCommandButtons();
  return true;
}

void CMainDlg::OnDestroy() {
  MR_TRACE("CMainDlg::OnDestroy");
  if (m_pLoop != nullptr) {
    m_pLoop->RemoveMessageFilter(this);
    m_pLoop = nullptr;
  }
  ::KillTimer(Window(), kSignalTimer);
  ::KillTimer(Window(), kRefreshRetryTimer);
  if (m_hDevNotify != nullptr) {
    ::UnregisterDeviceNotification(m_hDevNotify);
    m_hDevNotify = nullptr;
  }
  CloseSignalEvents();
  // The picture goes before GDI+ does.
  m_logo.ClearImage();
  m_pGdiplus.reset();
}

void CMainDlg::OnClose(WPARAM wParam) {
  MR_TRACE("CMainDlg::OnClose");
  if (wParam != kRealExit) {
    // The close box: the manager goes on in the tray.
    ::ShowWindow(Window(), SW_HIDE);
    return;
  }
  HWND hTray = TrayWindow();
  if (hTray != nullptr) {
    ::SendMessageW(hTray, WM_CLOSE, 0, kEndTray);
  }
  ::KillTimer(Window(), kSignalTimer);
  CloseSignalEvents();
  const HRESULT hResult = RemoveAllSpecifiedCertfromBrowser(merro::provider::kProviderName);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"RemoveAllSpecifiedCertfromBrowser", L"S_OK != hResult", hResult);
  }
  DestroyWindow();
  ::PostQuitMessage(1);
}

void CMainDlg::OnTimer(UINT_PTR idEvent) {
  if (idEvent == kRefreshRetryTimer) {
    RefreshWhenTokensIdle(FALSE);
    return;
  }
  if (idEvent != kSignalTimer || m_hEventA == nullptr) {
    return;
  }
  if (::WaitForSingleObject(m_hEventA, 0) == WAIT_OBJECT_0) {
    MR_TRACE("CMainDlg::OnTimer");
    // The provider wrote a certificate to a token and waits for the tree
    // and the store to show it.
    InitializeCertTree(FALSE);
    if (m_hEventB != nullptr) {
      ::SetEvent(m_hEventB);
    }
  }
}

void CMainDlg::OnShowTrayIcon(LPARAM lParam) {
  HWND hTray = TrayWindow();
  if (lParam == TRAY_RELOAD_ICON && hTray != nullptr) {
    ::SendMessageW(hTray, WM_TRAYNOTIFY, 0, lParam);
  }
}

void CMainDlg::CloseSignalEvents() {
  for (HANDLE* phEvent : {&m_hEventA, &m_hEventB}) {
    if (*phEvent != nullptr) {
      ::CloseHandle(*phEvent);
      *phEvent = nullptr;
    }
  }
}

HWND CMainDlg::TrayWindow() const {
  HWND hTray = m_pParam != nullptr ? m_pParam->hTrayDlg : nullptr;
  return hTray != nullptr && ::IsWindow(hTray) ? hTray : nullptr;
}

void CMainDlg::EnableButton(int id, bool enable) {
  ::EnableWindow(::GetDlgItem(Window(), id), enable ? TRUE : FALSE);
}

void CMainDlg::DisableCommandButtons() {
  for (const int id : kCommandButtons) {
    EnableButton(id, false);
  }
}

void CMainDlg::SetButtonsForKind(DWORD dwKind) {
  switch (dwKind) {
    case kTreeItemRoot:
      DisableCommandButtons();
      break;
    case kTreeItemToken:
      EnableButton(IDC_MODIFY_PIN, true);
      EnableButton(IDC_VIEW_CERT, false);
      EnableButton(IDC_VIEW_DEV, true);
      EnableButton(IDC_MOD_DEV_NAME, true);
      break;
    case kTreeItemSignatureCert:
    case kTreeItemExchangeCert:
      for (const int id : kCommandButtons) {
        EnableButton(id, true);
      }
      break;
    default: {
      MR_TRACE("CMainDlg::SetButtonsForKind");
      MR_LOG_FAIL(L"Check item kind", L"unknown kind", E_UNEXPECTED);
      break;
    }
  }
}

int CMainDlg::ShowBox(UINT textId, UINT captionId, UINT type) {
  const std::wstring text = merro::win::LoadThisModuleString(textId);
  const std::wstring caption = merro::win::LoadThisModuleString(captionId);
  return ::MessageBoxW(Window(), text.c_str(), caption.c_str(), type);
}
