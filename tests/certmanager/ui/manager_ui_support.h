// The certificate manager run in the test's own process: RunCertManager on
// a thread of its own while the GoogleTest thread works its windows as the
// robot; the tray icon's calls recorded through the manager's seam; the
// manager's windows, tree, buttons and store entries read back. Every wait
// is bounded.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "provider/cert_store.h"
#include "tests/support/ui/window_robot.h"

namespace merro::test {

// One call of the notification-area function, with what it carried.
struct NotifyCall {
  DWORD message = 0;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
  DWORD cbSize = 0;
  HWND hWnd = nullptr;
  UINT uFlags = 0;
  UINT uCallbackMessage = 0;
  std::wstring tip;
  std::wstring info;
  std::wstring infoTitle;
  DWORD infoFlags = 0;
  UINT timeout = 0;
};

// Records every call of the manager's notification-area seam (and answers
// TRUE, as the system does) while it is installed.
class NotifyRecorder {
 public:
  NotifyRecorder();
  ~NotifyRecorder();
  NotifyRecorder(const NotifyRecorder&) = delete;
  NotifyRecorder& operator=(const NotifyRecorder&) = delete;

  std::vector<NotifyCall> Calls() const;
  // The calls with this message.
  std::vector<NotifyCall> Calls(DWORD message) const;
  void Clear();
  // The tray dialog: the window of the first NIM_ADD; null before it.
  HWND TrayWindow() const;
  // Whether the tray dialog was ever visible, even for a moment, since its
  // first NIM_ADD.
  bool TrayWindowShown() const;
  // The icon's calls so far, from an icon in the notification area
  // (`shownAtStart`) or none: consistent when no NIM_ADD comes while the
  // icon is there (a second icon). A NIM_DELETE of an icon that is not
  // there is refused by the shell and harmless. Any registered message
  // (the shell's "TaskbarCreated" among them, and others Wine sends at any
  // moment) puts the icon back with a NIM_DELETE and a NIM_ADD, so the
  // tests judge the icon by these, not by counting calls.
  bool IconCallsConsistent(bool shownAtStart = false) const;
  // Whether the calls leave the icon in the notification area.
  bool IconShown(bool shownAtStart = false) const;
};

// RunCertManager on a thread of its own.
class ManagerRun {
 public:
  static constexpr DWORD kEndTimeoutMs = 30000;

  explicit ManagerRun(const std::wstring& commandLine = L"", int showCommand = SW_SHOWNORMAL);
  ~ManagerRun();  // a run still going is ended (real exit), or the program is
  ManagerRun(const ManagerRun&) = delete;
  ManagerRun& operator=(const ManagerRun&) = delete;

  // The main dialog once it is up (its tree filled, shown or hidden as the
  // start-up leaves it): null after the time-out.
  HWND MainDialog(DWORD timeoutMs = WindowRobot::kDefaultTimeoutMs);
  // Waits for the run to end; false after the time-out.
  bool WaitEnded(DWORD timeoutMs = kEndTimeoutMs);
  bool Ended() const;
  int ExitCode() const { return m_exitCode; }
  // Asks for a real exit (as the tray's Exit does) and waits for the end.
  bool Exit();

 private:
  HANDLE m_done = nullptr;
  int m_exitCode = -1;
  std::thread m_thread;
};

// A visible dialog of this process other than `besides` (a message box, or
// a dialog the manager opened, whoever owns it).
HWND WaitForOtherDialog(HWND besides, DWORD timeoutMs = WindowRobot::kDefaultTimeoutMs);
// A visible message box of this process with this caption.
HWND WaitForMessageBox(WindowRobot& robot, const std::wstring& caption,
                       DWORD timeoutMs = WindowRobot::kDefaultTimeoutMs);

// A string of the manager's table in the run's language.
std::wstring ManagerString(UINT id);

// The tree's items and the state of the main dialog's controls.
std::vector<std::wstring> TreeTexts(WindowRobot& robot, HWND mainDialog);
bool ButtonEnabled(HWND mainDialog, int id);
bool ButtonVisible(HWND mainDialog, int id);
// Which of the four command buttons (modify PIN, view certificate, view
// device, rename) are enabled, as "1" or "0" each in that order. The manager
// enables them one after another, so a test waits for the whole pattern
// rather than for one button.
std::string CommandButtons(HWND mainDialog);
// Waits until the command buttons show `pattern`; on failure the returned
// result says what they showed.
::testing::AssertionResult WaitForCommandButtons(HWND mainDialog, const std::string& pattern);

// Tokens 0 to n - 1 of the simulator inserted, every other one pulled out.
void InsertOnlyTokens(int n);

// What every run starts from: tokens 0 to n - 1 inserted, the bank's flag
// file as asked, no SM2 marker, both "MY" stores empty; false when the
// stores could not be emptied.
bool StartFresh(int insertedTokens, bool flagFile = true);

// The bank's flag file C:\windows\TAVR.flag: present, or not.
void SetFlagFile(bool present);
// The SM2 marker %APPDATA%\Tolvane\Merro\sm2browser.spt: present, or not.
void SetSm2Marker(bool present);

// This provider's entries of the current user's "MY" store: "<container>
// <key spec>" each, sorted.
std::vector<std::string> OurStoreEntries();

}  // namespace merro::test
