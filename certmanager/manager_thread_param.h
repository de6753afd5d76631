// What the manager's three threads share: the four slots of
// ManagerThreadParam, the named events through which other processes reach a
// running manager, and the window message between the tray dialog and the
// main dialog.
#pragma once

#include <windows.h>

// The block of four slots. RunCertManager fills the two events; the main
// dialog and the tray dialog each write their window once in their
// WM_INITDIALOG. The threads and dialogs only read it afterwards.
struct ManagerThreadParam {
  HANDLE hExitEvent = nullptr;  // set by a start with "-t": quit
  HANDLE hShowEvent = nullptr;  // set by a second start: come to the front
  HWND hMainDlg = nullptr;
  HWND hTrayDlg = nullptr;
};

// Named events (no namespace prefix), all manual reset.
// Exists while a manager runs (created signalled); the provider tests it.
inline constexpr wchar_t g_wszInstanceEventName[] = L"{52FF9CFD-8C4F-4AD8-85D5-6EC27E9D0626}";
inline constexpr wchar_t g_wszShowEventName[] = L"{00E5EFB3-59C3-4E39-A72F-C818B55035BB}";
inline constexpr wchar_t g_wszExitEventName[] = L"{1125C549-BBBC-416A-992B-D2581D3341B2}";

// Access for opening another process's event: to test that it exists, and
// to set it.
inline constexpr DWORD kEventExistsAccess = READ_CONTROL;
inline constexpr DWORD kEventSetAccess = READ_CONTROL | EVENT_MODIFY_STATE;

// The tray icon's callback message; sent to the main dialog it carries the
// main dialog's requests to the tray dialog (lParam below, wParam 0).
inline constexpr UINT WM_TRAYNOTIFY = 0x824;
inline constexpr LPARAM TRAY_RELOAD_ICON = 1209;  // add the icon again when it was removed
inline constexpr LPARAM TRAY_KEY_INSERT = 1210;   // balloon: a token arrived
inline constexpr LPARAM TRAY_KEY_REMOVE = 1211;   // balloon: a token left

// WM_CLOSE's wParam from the tray or the event thread: a real exit, not the
// close box (which only hides the main dialog).
inline constexpr WPARAM kRealExit = 1;
// WM_CLOSE's lParam from the main dialog to the tray dialog at a real exit.
inline constexpr LPARAM kEndTray = 1;
