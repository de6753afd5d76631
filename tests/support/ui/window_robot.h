// A robot that works real dialogs the way a person would: it finds a dialog
// (class "#32770") of a process, reads its controls, types with SendInput,
// clicks, presses buttons, closes it and takes screenshots. It works on
// dialogs of its own process (from a thread started before the modal call,
// see robot_thread.h) and of other processes (merro-uirobot.exe).
//
// Every wait is bounded. A verb that fails records why (Failures()) and
// returns false or an empty value; Require() turns a failed step into the
// end of the script.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace merro::test {

class WindowRobot {
 public:
  // How long a wait for a state gives up: only a failing run ever waits
  // that long, so it is sized for a cold Wine on two loaded cores.
  static constexpr DWORD kDefaultTimeoutMs = 60000;
  // How long a dialog's thread may take to answer one message.
  static constexpr DWORD kReplyTimeoutMs = 15000;
  static constexpr DWORD kKeyPaceMs = 30;  // the pace a low-level hook sees under Wine
  static constexpr DWORD kPollMs = 20;     // how often a wait looks again

  // Finding. Both wait until a visible top-level "#32770" window matches.
  // A dialog of process `pid` holding control `controlId` (any language).
  HWND WaitForDialog(DWORD pid, int controlId, DWORD timeoutMs = kDefaultTimeoutMs);
  // A dialog with this caption; pid 0 means any process.
  HWND FindDialog(const wchar_t* caption, DWORD pid = 0, DWORD timeoutMs = kDefaultTimeoutMs);
  // Waits until `dialog` is gone (destroyed or hidden).
  bool WaitGone(HWND dialog, DWORD timeoutMs = kDefaultTimeoutMs);
  // Waits until `condition` holds; otherwise records "`what` within N ms"
  // followed by what `seen` (when given) reports at the end.
  bool WaitFor(const std::function<bool()>& condition, const std::string& what,
               const std::function<std::string()>& seen = {},
               DWORD timeoutMs = kDefaultTimeoutMs);
  // Any top-level window of process `pid` (0: any process) with this class
  // (null: any) and caption (null: any), shown or hidden as asked.
  HWND WaitForWindow(const wchar_t* className, const wchar_t* caption, DWORD pid, bool visible,
                     DWORD timeoutMs = kDefaultTimeoutMs);

  // A message box's text is its static control with this id.
  static constexpr int kMessageBoxText = 65535;

  // Reading. controlId 0 reads the dialog itself (its caption).
  std::wstring Text(HWND dialog, int controlId = 0);
  bool IsEnabled(HWND dialog, int controlId);
  std::vector<std::wstring> ComboItems(HWND dialog, int controlId);
  int ComboSelection(HWND dialog, int controlId);  // CB_GETCURSEL, -1 when none

  // Keyboard: virtual keys down and up, SendInput kKeyPaceMs apart, into
  // the dialog after it was brought to the foreground. In Type, letters and
  // digits and the punctuation of the US layout are typed with VK_LSHIFT
  // where needed; Keys sends virtual keys as they are; Chord holds
  // `modifier` (VK_LSHIFT, VK_LCONTROL) around `key`.
  bool Type(HWND dialog, const std::wstring& text);
  bool Keys(HWND dialog, std::initializer_list<WORD> keys);
  bool Chord(HWND dialog, WORD modifier, WORD key);
  // Brings a dialog that just came up to the foreground and waits until its
  // thread has handled its focus events. Wine then lines its key state up
  // with the X server's, which never saw the robot's keys: a modifier sent
  // before that would be let go again. Call it before a Chord (or a Type
  // with capitals) at a dialog's start.
  bool Settle(HWND dialog);
  // Waits until the dialog's thread has taken every key and mouse event the
  // robot sent since the last wait off its queue: SendInput only queues them,
  // and a read sent right after (WM_GETTEXT, CB_GETCURSEL) is answered before
  // the queued input is handled. Each event may bring one more message
  // (a key its WM_CHAR), and the thread handles a sent message each time it
  // looks for the next one, so two sent messages per event plus two cover it.
  bool WaitInputHandled(HWND dialog);

  // Mouse: a left click at the control's centre; a drag with the left
  // button from a point of the dialog (client coordinates) by (dx, dy).
  bool Click(HWND dialog, int controlId);
  bool Drag(HWND dialog, POINT fromClient, int dx, int dy);

  // Tree controls, of this process or another (each item is read through a
  // block in the tree's own process). Items in display order, each with its
  // depth (0 for the roots); the handles and data are the tree process's.
  struct TreeItem {
    HTREEITEM handle = nullptr;
    int depth = 0;
    std::wstring text;
    int image = -1;
    LPARAM data = 0;
  };
  std::vector<TreeItem> TreeItems(HWND dialog, int controlId);
  // A click (or a double click) with the mouse on the item's label.
  bool ClickTreeItem(HWND dialog, int controlId, HTREEITEM item, bool doubleClick = false);

  // Popup menus: the visible menu window ("#32768") of any process, its
  // items (MN_GETHMENU; read in process or across processes), and closing
  // it without a choice (WM_CANCELMODE).
  struct MenuItem {
    UINT id = 0;
    std::wstring text;
    bool separator = false;
    bool isDefault = false;
  };
  HWND WaitForMenu(DWORD timeoutMs = kDefaultTimeoutMs);
  std::vector<MenuItem> MenuItems(HWND menuWindow);
  bool CloseMenu(HWND menuWindow);
  // Posts WM_COMMAND `id` to a window, as a chosen menu item does to its
  // owner.
  bool PostCommand(HWND window, WORD id);

  // Commands, posted so that the robot never waits on the dialog's thread:
  // a button's click notification, WM_SYSCOMMAND SC_CLOSE (the system menu's
  // Close), and a plain WM_CLOSE.
  bool PressButton(HWND dialog, int controlId);
  bool SystemClose(HWND dialog);
  bool PostClose(HWND dialog);

  // Captures the dialog's screen rectangle (BitBlt from the screen; the
  // window's own printing gives a blank picture under Wine) as a PNG into
  // $MERRO_UI_SHOTS/<MERRO_UI_LANG>/<name>.png. Returns the file written, or
  // empty (with a failure recorded) when MERRO_UI_SHOTS is set and the file
  // could not be made; empty without failure when it is not set.
  std::wstring Screenshot(HWND dialog, const std::wstring& name);

  // Failures so far, and a check that records one.
  void Fail(const std::string& what);
  bool Check(bool condition, const std::string& what);
  // A failed check that ends the script (throws RobotAbort).
  void Require(bool condition, const std::string& what);
  std::vector<std::string> Failures() const;
  bool Failed() const;

  // Notes for the test to read afterwards (what the robot saw).
  void Note(const std::string& line);
  std::vector<std::string> Notes() const;

 private:
  bool Foreground(HWND dialog);
  bool SendKey(WORD vk, bool up);
  // Left clicks (1 or 2) at a screen point, the window brought in front first.
  bool ClickAt(HWND window, POINT screen, int clicks);
  HWND Control(HWND dialog, int controlId);

  mutable std::mutex m_lock;
  // Input events sent since the last WaitInputHandled.
  size_t m_inputSinceWait = 0;
  std::vector<std::string> m_failures;
  std::vector<std::string> m_notes;
};

// Thrown by Require; the robot thread catches it.
struct RobotAbort {};

// Polls `condition` every WindowRobot::kPollMs until it holds; false after
// the time-out.
bool WaitUntil(const std::function<bool()>& condition,
               DWORD timeoutMs = WindowRobot::kDefaultTimeoutMs);

// Waits until the thread of `window` has twice come to wait for messages:
// whatever it does before its message loop first finds an empty queue is
// over (a modal loop shows its dialog then, a modeless window has its final
// visibility). False when the thread does not answer in time.
bool WaitForMessageLoop(HWND window, DWORD timeoutMs = WindowRobot::kReplyTimeoutMs);

// The top-level windows of process `pid` as a failure line shows them:
// class, caption, shown or hidden, and whether it holds control
// `controlId` (when not 0).
std::string DescribeWindowsOf(DWORD pid, int controlId = 0);

// Posts WM_CLOSE to every visible "#32770" window of process `pid`: how a
// failing robot makes sure no modal call waits for it forever.
void CloseDialogsOf(DWORD pid);

// UTF-8 of a UTF-16 text, for failure lines and notes.
std::string Utf8(const std::wstring& text);

// A file path from the environment as this (Windows) process can open it: a
// Unix path given to a program under Wine becomes its Z: drive form.
std::wstring PathFromEnvironment(const char* name);

}  // namespace merro::test
