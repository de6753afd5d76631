// A small modal-dialog base and a window-subclassing base of our own (the
// platform has no ATL/WTL). Each dialog class derives from DialogImpl<T> with
// `enum { IDD = <template id> };` and overrides the handlers it needs. Every
// window and dialog procedure runs inside a catch-all guard: no exception
// ever unwinds into the system's message dispatch.
#pragma once

#include <windows.h>

namespace merro::ui {

enum class DialogState {
  NeverInitialised,  // DoModal not called, or the template could not be created
  Running,           // WM_INITDIALOG seen, the dialog is up
  Ended,             // EndDialog was called (the window may still exist briefly)
};

class DialogBase {
 public:
  DialogBase() = default;
  virtual ~DialogBase() = default;
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;

  HWND Window() const { return m_hWnd; }
  DialogState State() const { return m_state; }
  // The value given to DoModal, readable from OnInitDialog on.
  LPARAM InitParam() const { return m_initParam; }

  // Ends the modal loop with `result`; false when the dialog is not up.
  bool EndDialog(INT_PTR result);
  // Destroys a modeless dialog's window (on its own thread); false when
  // there is none.
  bool DestroyWindow();

 protected:
  // Runs dialog template `templateId` of the module that holds this code,
  // modally, owned by `owner`. Returns DialogBoxParamW's result: the value
  // given to EndDialog, or -1 when the dialog could not be created (the last
  // error says why).
  INT_PTR RunModal(WORD templateId, HWND owner, LPARAM initParam);
  // Creates dialog template `templateId` of that module modeless, owned by
  // `owner`: the dialog's window, or null when it could not be created (the
  // last error says why). The calling thread's message loop must pass the
  // dialog's messages through IsDialogMessageW; DestroyWindow ends it.
  HWND CreateModeless(WORD templateId, HWND owner, LPARAM initParam);

  // Handlers. Return true when the message was handled. OnInitDialog's
  // result is WM_INITDIALOG's: TRUE lets the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual bool OnCommand(WORD id, WORD notifyCode, HWND control) { return false; }
  // WM_CLOSE; unhandled, the dialog manager turns it into IDCANCEL.
  virtual bool OnClose() { return false; }
  // Any message, before the handlers above; *pResult is the procedure's
  // return value when handled (use SetWindowLongPtr DWLP_MSGRESULT for
  // messages that need a result there).
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) {
    return false;
  }

 private:
  static INT_PTR CALLBACK StaticDialogProc(HWND hWnd, UINT message, WPARAM wParam,
                                           LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  DialogState m_state = DialogState::NeverInitialised;
  LPARAM m_initParam = 0;
};

template <class T>
class DialogImpl : public DialogBase {
 public:
  INT_PTR DoModal(HWND owner, LPARAM initParam = 0) {
    return RunModal(static_cast<WORD>(T::IDD), owner, initParam);
  }
  HWND Create(HWND owner, LPARAM initParam = 0) {
    return CreateModeless(static_cast<WORD>(T::IDD), owner, initParam);
  }
};

// Subclasses an existing control: its messages reach WindowProc first, and
// CallOriginal hands one on to the control's own procedure. The subclass
// removes itself when the window is destroyed.
class SubclassedWindow {
 public:
  SubclassedWindow() = default;
  virtual ~SubclassedWindow();
  SubclassedWindow(const SubclassedWindow&) = delete;
  SubclassedWindow& operator=(const SubclassedWindow&) = delete;

  bool SubclassWindow(HWND hWnd);
  void UnsubclassWindow();
  HWND Window() const { return m_hWnd; }

 protected:
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallOriginal(message, wParam, lParam);
  }
  // Called once, after the window is destroyed and the subclass removed.
  virtual void OnFinalMessage() {}
  LRESULT CallOriginal(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK StaticSubclassProc(HWND hWnd, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR id, DWORD_PTR refData);
  HWND m_hWnd = nullptr;
  // The message being handled, for CallOriginal.
  HWND m_hCurrent = nullptr;
};

}  // namespace merro::ui
