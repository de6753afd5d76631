#include "certmanager/tray_dlg.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "certmanager/notify_icon.h"
#include "certmanager_string_ids.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TrayDlg"

namespace {

// The icon's id in every call about it.
constexpr UINT kTrayIconId = 1;
constexpr UINT kBaseFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr UINT kBalloonTimeoutMs = 3000;
// Texts are cut to these lengths before they go into the record.
constexpr size_t kTipChars = 128;
constexpr size_t kBalloonTextChars = 128;
constexpr size_t kBalloonTitleChars = 64;

// The registered messages: among them the shell's "TaskbarCreated".
bool IsRegisteredMessage(UINT message) { return message >= 0xC000 && message <= 0xFFFF; }

template <size_t N>
void CopyCut(wchar_t (&field)[N], const std::wstring& text, size_t maxChars) {
  const size_t n = std::min(std::min(text.size(), maxChars), N - 1);
  std::wmemcpy(field, text.data(), n);
  field[n] = L'\0';
}


}  // namespace

BOOL CTrayDlg::OnInitDialog() {
  MR_TRACE("CTrayDlg::OnInitDialog");
  m_icons.SetOn(Window());

  m_nid = NOTIFYICONDATAW{};
  m_nid.cbSize = merro::certmanager::kNotifyIconDataSize;
  m_nid.hWnd = Window();
  m_nid.uID = kTrayIconId;
  m_nid.uFlags = kBaseFlags;
  m_nid.uCallbackMessage = WM_TRAYNOTIFY;
  m_nid.hIcon = m_icons.Small();
  AddIcon();

  m_pParam = reinterpret_cast<ManagerThreadParam*>(InitParam());
  if (m_pParam != nullptr) {
    m_pParam->hTrayDlg = Window();
  }
  return TRUE;
}

bool CTrayDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) {
  *pResult = 0;
  switch (message) {
    case WM_WINDOWPOSCHANGING:
      // The dialog manager shows a modal dialog when its queue first runs
      // empty; only the icon is meant to be seen, so the window never
      // comes up, not even for the moment before its first paint.
      reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
      return false;
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_CLOSE:
      return OnClose(lParam);
    case WM_DESTROY: {
      MR_TRACE("CTrayDlg::OnDestroy");
      // However the dialog ends, its icon does not outlive it.
      if (m_bIconAdded) {
        DeleteIcon();
      }
      return false;
    }
    case WM_TRAYNOTIFY:
      OnNotifyIcon(lParam);
      return true;
    default:
      if (IsRegisteredMessage(message)) {
        OnReloadTrayIcon();
        return true;
      }
      return false;
  }
}

bool CTrayDlg::OnCommand(WORD id, WORD notifyCode, HWND control) {
  switch (id) {
    case ID_TRAY_EXIT:
      OnExitProcess();
      return true;
    case ID_TRAY_OPEN_MAIN:
      OnOpenMainWindow();
      return true;
    default:
      return false;
  }
}

void CTrayDlg::OnNotifyIcon(LPARAM lParam) {
  switch (lParam) {
    case WM_MOUSEMOVE:
      UpdateTip();
      break;
    case WM_LBUTTONDBLCLK:
    case NIN_BALLOONUSERCLICK:
      OnOpenMainWindow();
      break;
    case WM_RBUTTONUP:
      ShowTrayMenu();
      break;
    case TRAY_RELOAD_ICON:
      if (m_bIconRemoved) {
        AddIcon();
      }
      break;
    case TRAY_KEY_INSERT:
      ShowBalloon(IDS_KEY_INSERTED);
      break;
    case TRAY_KEY_REMOVE:
      ShowBalloon(IDS_KEY_REMOVED);
      break;
    default:
      break;
  }
}

void CTrayDlg::OnPaint() {
  PAINTSTRUCT ps;
  ::BeginPaint(Window(), &ps);
  ::EndPaint(Window(), &ps);
  // Only the icon is meant to be seen.
  if (!m_bFirstPaintDone) {
    m_bFirstPaintDone = true;
    ::ShowWindow(Window(), SW_HIDE);
  }
}

bool CTrayDlg::OnClose(LPARAM lParam) {
  MR_TRACE("CTrayDlg::OnClose");
  ::ShowWindow(Window(), SW_HIDE);
  if (lParam != kEndTray) {
    return true;
  }
  DeleteIcon();
  EndDialog(1);
  return false;
}

void CTrayDlg::OnReloadTrayIcon() {
  MR_TRACE("CTrayDlg::OnReloadTrayIcon");
  merro::certmanager::NotifyIcon(NIM_DELETE, &m_nid);
  merro::certmanager::NotifyIcon(NIM_ADD, &m_nid);
  m_bIconAdded = true;
}

void CTrayDlg::UpdateTip() {
  CopyCut(m_nid.szTip, merro::win::LoadThisModuleString(IDS_TRAY_TIP), kTipChars);
  m_nid.uFlags = kBaseFlags;
  merro::certmanager::NotifyIcon(NIM_MODIFY, &m_nid);
}

void CTrayDlg::ShowBalloon(UINT textId) {
  MR_TRACE("CTrayDlg::ShowBalloon");
  CopyCut(m_nid.szInfo, merro::win::LoadThisModuleString(textId), kBalloonTextChars);
  CopyCut(m_nid.szInfoTitle, merro::win::LoadThisModuleString(IDS_BALLOON_TITLE), kBalloonTitleChars);
  m_nid.uFlags = kBaseFlags | NIF_INFO;
  m_nid.dwInfoFlags = NIIF_INFO;
  m_nid.uTimeout = kBalloonTimeoutMs;
  merro::certmanager::NotifyIcon(NIM_MODIFY, &m_nid);
}

void CTrayDlg::AddIcon() {
  merro::certmanager::NotifyIcon(NIM_ADD, &m_nid);
  m_bIconAdded = true;
  m_bIconRemoved = false;
}

void CTrayDlg::DeleteIcon() {
  merro::certmanager::NotifyIcon(NIM_DELETE, &m_nid);
  m_bIconAdded = false;
  m_bIconRemoved = true;
}

void CTrayDlg::OnOpenMainWindow() {
  MR_TRACE("CTrayDlg::OnOpenMainWindow");
  HWND hMain = m_pParam != nullptr ? m_pParam->hMainDlg : nullptr;
  if (hMain == nullptr || !::IsWindow(hMain) || ::IsWindowVisible(Window())) {
    return;
  }
  ::ShowWindow(hMain, SW_SHOWDEFAULT);
  ::SetForegroundWindow(hMain);
}

void CTrayDlg::ShowTrayMenu() {
  MR_TRACE("CTrayDlg::ShowTrayMenu");
  HMENU hMenu = ::LoadMenuW(merro::win::ThisModule(), MAKEINTRESOURCEW(IDR_TRAY_MENU));
  if (hMenu == nullptr) {
    MR_LOG_FAIL(L"LoadMenuW", L"hMenu == NULL", merro::LastErrorResult());
    return;
  }
  HMENU hPopup = ::GetSubMenu(hMenu, 0);
  if (hPopup != nullptr) {
    ::SetMenuDefaultItem(hPopup, ID_TRAY_OPEN_MAIN, FALSE);
    // In front, so that the menu closes when the user clicks elsewhere.
    ::SetForegroundWindow(Window());
    POINT pt{};
    ::GetCursorPos(&pt);
    ::TrackPopupMenu(hPopup, TPM_RIGHTBUTTON, pt.x, pt.y, 0, Window(), nullptr);
  }
  ::DestroyMenu(hMenu);
}

void CTrayDlg::OnExitProcess() {
  MR_TRACE("CTrayDlg::OnExitProcess");
  const std::wstring text = merro::win::LoadThisModuleString(IDS_CONFIRM_EXIT);
  const std::wstring caption = merro::win::LoadThisModuleString(IDS_TRAY_TIP);
  if (::MessageBoxW(Window(), text.c_str(), caption.c_str(), MB_OKCANCEL) != IDOK) {
    return;
  }
  HWND hMain = m_pParam != nullptr ? m_pParam->hMainDlg : nullptr;
  if (hMain == nullptr || !::IsWindow(hMain)) {
    return;
  }
  ::ShowWindow(hMain, SW_HIDE);
  ::ShowWindow(Window(), SW_HIDE);
  // Posted: the tray thread never waits for the main thread during an exit.
  ::PostMessageW(hMain, WM_CLOSE, kRealExit, 0);
  m_bIconRemoved = true;
}
