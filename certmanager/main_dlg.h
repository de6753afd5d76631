// CMainDlg: the manager's main window, a modeless dialog (template 102) on
// the main thread. It shows the inserted tokens with their certificates in a
// tree, keeps the personal certificate store in step with the tokens,
// reacts to the token's USB arrival and removal and to the provider's signal
// that it wrote a certificate, and dispatches its buttons. The close box
// only hides it; a real exit (WM_CLOSE with wParam kRealExit) ends the tray,
// removes this provider's store entries and quits the message loop with 1.
//
// The files: main_dlg.cpp (set-up, messages, exit), main_dlg_tree.cpp
// (refresh, tree clicks, the certificate view), main_dlg_device_change.cpp
// (arrival and removal), main_dlg_commands.cpp (the token commands),
// main_dlg_modify_pin.cpp (the PIN change) and main_dlg_hidden_commands.cpp
// (initialise and unlock).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <memory>
#include <string>

#include "certmanager/manager_thread_param.h"
#include "certmanager/window_icons.h"
#include "certmanager/message_loop.h"
#include "certmanager_resource_ids.h"
#include "device/ui/dialog_base.h"
#include "device/ui/gdiplus_session.h"
#include "device/ui/image_static.h"
#include "provider/container_information.h"

class CMainDlg : public merro::ui::DialogImpl<CMainDlg>, public merro::certmanager::MessageFilter {
 public:
  enum { IDD = IDD_MAIN };

  CMainDlg();
  ~CMainDlg() override;

  // Whether at least one token is inserted (a failure counts as none).
  static BOOL bIsKeyInsert();

  BOOL PreTranslateMessage(MSG* pMsg) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override;

 private:
  // The tree item a command acts on: its item data and, since a refresh may
  // give another token its index, the token's device name and the
  // container's name, by which the command looks them up again.
  struct Selection {
    DWORD dwItemData = 0xFFFFFFFF;
    std::string strDeviceName;
    std::string strContainerName;
  };

  // Refresh: reads the tokens, shows the start boxes (bShowMessages),
  // synchronises the store and rebuilds the tree.
  HRESULT InitializeCertTree(BOOL bShowMessages);
  void ShowStartBoxes(const merro::provider::SecureInfo& stSecureInfo);

  void OnClose(WPARAM wParam);
  LRESULT OnDeviceChange(WPARAM wParam, LPARAM lParam);
  void OnTokenArrival();
  void OnTokenRemoval();
  // InitializeCertTree after a device change, unless a token stays busy
  // with another process's sequence past a brief wait: then the refresh
  // runs later from a timer, with the start boxes if any postponed one
  // asked for them.
  void RefreshWhenTokensIdle(BOOL bShowMessages);
  static constexpr UINT_PTR kRefreshRetryTimer = 2;
  void OnTimer(UINT_PTR idEvent);
  void OnShowTrayIcon(LPARAM lParam);
  void OnDestroy();
  void CloseSignalEvents();

  void OnClickCertTree();
  void OnDblclkCertTree();
  void OnClickViewCert();
  void ViewCertificate(DWORD dwItemData);
  // Hit-tests the cursor in the tree; remembers and returns the item's data
  // (kNoTreeItem when no item is hit).
  DWORD HitTestAndRemember();

  // The token commands (main_dlg_commands.cpp).
  void OnClickModifyPIN();
  void OnClickViewDev();
  void OnClickAbout();
  void OnClickHelp();
  void OnClickModDevName();
  void OnClickInitialize();
  void OnClickUnlockPin();

  // The selected token, looked up by its device name in the token list;
  // null when nothing is selected or the token is no longer listed.
  const merro::provider::TokenInformation* SelectedToken() const;
  // The listed token of that device name; null when it is no longer listed.
  const merro::provider::TokenInformation* ListedToken(const std::string& strDeviceName) const;
  // The same, with box 112 "Please select a key." (caption string
  // captionId, error icon) when there is none.
  const merro::provider::TokenInformation* SelectedTokenOrTell(UINT captionId);
  // The selected certificate's container, looked up by names; null when
  // the selection is no certificate or its container is gone.
  const merro::provider::ContainerInformation* SelectedContainer() const;
  void ClearSelection();

  void SetButtonsForKind(DWORD dwKind);
  void DisableCommandButtons();
  void EnableButton(int id, bool enable);
  HWND TrayWindow() const;
  int ShowBox(UINT textId, UINT captionId, UINT type);

  HWND m_hTree = nullptr;
  merro::ui::CImageStatic m_logo;
  // GDI+ while the window with the logo stands.
  std::unique_ptr<merro::ui::GdiplusSession> m_pGdiplus;
  ManagerThreadParam* m_pParam = nullptr;
  merro::certmanager::MessageLoop* m_pLoop = nullptr;
  // The tokens the tree shows; replaced only together with the tree.
  merro::provider::TokenInformationList m_tokens;
  Selection m_selection;
  HIMAGELIST m_hImageList = nullptr;
  HANDLE m_hEventA = nullptr;
  HANDLE m_hEventB = nullptr;
  HDEVNOTIFY m_hDevNotify = nullptr;
  BOOL m_bRefreshShowMessages = FALSE;
  merro::certmanager::WindowIcons m_icons;
};
