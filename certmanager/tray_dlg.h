// CTrayDlg: the invisible modal dialog (template 140) that owns the
// manager's icon in the notification area, on the tray thread. It shows the
// tip and the balloons for an inserted and a removed token, opens the main
// dialog on a double click or a balloon click, offers the tray menu (open
// the main window, exit after a confirmation), puts the icon back when the
// taskbar is recreated, and ends when the main dialog tells it to at a real
// exit (WM_CLOSE with lParam kEndTray).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "certmanager/manager_thread_param.h"
#include "certmanager/window_icons.h"
#include "certmanager_resource_ids.h"
#include "device/ui/dialog_base.h"

class CTrayDlg : public merro::ui::DialogImpl<CTrayDlg> {
 public:
  enum { IDD = IDD_TRAY };

  CTrayDlg() = default;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override;

 private:
  void OnNotifyIcon(LPARAM lParam);
  void OnPaint();
  // WM_CLOSE: true when handled here (the dialog stays), false when it goes
  // on to the dialog's default processing (the end from the main dialog).
  bool OnClose(LPARAM lParam);
  void OnReloadTrayIcon();
  void OnExitProcess();
  void OnOpenMainWindow();
  void ShowTrayMenu();
  void UpdateTip();
  void ShowBalloon(UINT textId);
  void AddIcon();
  void DeleteIcon();

  ManagerThreadParam* m_pParam = nullptr;
  NOTIFYICONDATAW m_nid{};
  merro::certmanager::WindowIcons m_icons;
  // The icon-removed flag: set until the icon is added, and again when it is
  // deleted or the exit is confirmed; a reload request adds it only then.
  bool m_bIconRemoved = true;
  bool m_bIconAdded = false;    // the shell holds our icon (added, not deleted)
  bool m_bFirstPaintDone = false;
};
