// CMainDlg: the token's USB arrival and removal.
#include "certmanager/cert_tree.h"
#include "certmanager/device_change.h"
#include "certmanager/main_dlg.h"
#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

namespace {

// Time for the system to settle around an arrival or removal.
constexpr DWORD kSettleMs = 200;
// How long the window waits for another process's sequence on a token (a
// PIN dialog's verification, a confirmation on the token's display, a
// signature) before it leaves the refresh for later.
constexpr DWORD kBusyTokenWaitMs = 300;
constexpr UINT kRefreshRetryMs = 1000;

}  // namespace

LRESULT CMainDlg::OnDeviceChange(WPARAM wParam, LPARAM lParam) {
  MR_TRACE("CMainDlg::OnDeviceChange");
  const bool ours = merro::certmanager::IsTokenBroadcast(reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
  if (wParam == DBT_DEVICEARRIVAL) {
    if (ours) {
      OnTokenArrival();
    }
    return 0;
  }
  // DBT_DEVICEREMOVECOMPLETE
  const DWORD dwTokenIndex = merro::certmanager::TreeItemToken(m_selection.dwItemData);
  if (ours) {
    OnTokenRemoval();
  }
  // After any removal: a command must not act on a token the tree lost.
  if (dwTokenIndex < m_tokens.size()) {
    DisableCommandButtons();
  }
  return 0;
}

void CMainDlg::OnTokenArrival() {
  MR_TRACE("CMainDlg::OnTokenArrival");
  ::Sleep(kSettleMs);
  if (::GetActiveWindow() != Window()) {
    // Minimised first, so that showing it brings it in front.
    ::ShowWindow(Window(), SW_MINIMIZE);
  }
  ::ShowWindow(Window(), SW_SHOWNORMAL);
  RefreshWhenTokensIdle(TRUE);
  HWND hTray = TrayWindow();
  if (hTray != nullptr) {
    ::SendMessageW(hTray, WM_TRAYNOTIFY, 0, TRAY_RELOAD_ICON);
    ::SendMessageW(hTray, WM_TRAYNOTIFY, 0, TRAY_KEY_INSERT);
    ::Sleep(kSettleMs);
  }
  merro::certmanager::OpenBankPage();
}

void CMainDlg::OnTokenRemoval() {
  MR_TRACE("CMainDlg::OnTokenRemoval");
  ::Sleep(kSettleMs);
  RefreshWhenTokensIdle(FALSE);
  HWND hTray = TrayWindow();
  if (hTray != nullptr) {
    ::SendMessageW(hTray, WM_TRAYNOTIFY, 0, TRAY_KEY_REMOVE);
  }
  merro::certmanager::EmptyTlsCaches();
}

void CMainDlg::RefreshWhenTokensIdle(BOOL bShowMessages) {
  MR_TRACE("CMainDlg::RefreshWhenTokensIdle");
  // A refresh reopens every token and reads it, and each of those waits for
  // the token's sequence lock: with sequences running elsewhere the window
  // would stand still behind each of them in turn. So the refresh runs with
  // every token's lock in hand, taken with a short wait, or later.
  m_bRefreshShowMessages = m_bRefreshShowMessages || bShowMessages;
  merro::device::RefreshHold hold;
  if (g_pDeviceHandle != nullptr &&
      merro::device::HoldTokensForRefresh(*g_pDeviceHandle, kBusyTokenWaitMs, &hold) ==
          merro::transport::kTokenBusy) {
    MR_LOG_STEP(L"A token is busy: refreshing later");
    ::SetTimer(Window(), kRefreshRetryTimer, kRefreshRetryMs, nullptr);
    return;
  }
  ::KillTimer(Window(), kRefreshRetryTimer);
  const BOOL bShow = m_bRefreshShowMessages;
  m_bRefreshShowMessages = FALSE;
  InitializeCertTree(bShow);
}
