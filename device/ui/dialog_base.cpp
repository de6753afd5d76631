#include "device/ui/dialog_base.h"

#include <commctrl.h>

#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DialogBase"

namespace merro::ui {

namespace {

// An exception escaping a window procedure would unwind through the system's
// dispatch code; it is logged and the message counts as not handled.
void LogEscapedException(const char* where) {
  MR_TRACE_UNDER(where);
  MR_LOG_FAIL(L"Window procedure", L"exception caught", E_UNEXPECTED);
}

}  // namespace

INT_PTR DialogBase::RunModal(WORD templateId, HWND owner, LPARAM initParam) {
  m_initParam = initParam;
  m_state = DialogState::NeverInitialised;
  return ::DialogBoxParamW(merro::win::ThisModule(), MAKEINTRESOURCEW(templateId), owner,
                           &DialogBase::StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

HWND DialogBase::CreateModeless(WORD templateId, HWND owner, LPARAM initParam) {
  m_initParam = initParam;
  m_state = DialogState::NeverInitialised;
  return ::CreateDialogParamW(merro::win::ThisModule(), MAKEINTRESOURCEW(templateId), owner,
                              &DialogBase::StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

bool DialogBase::DestroyWindow() {
  if (m_hWnd == nullptr) {
    return false;
  }
  m_state = DialogState::Ended;
  return ::DestroyWindow(m_hWnd) != FALSE;
}

bool DialogBase::EndDialog(INT_PTR result) {
  if (m_hWnd == nullptr || m_state != DialogState::Running) {
    return false;
  }
  m_state = DialogState::Ended;
  return ::EndDialog(m_hWnd, result) != FALSE;
}

INT_PTR CALLBACK DialogBase::StaticDialogProc(HWND hWnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  DialogBase* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogBase*>(lParam);
    ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    self->m_hWnd = hWnd;
    self->m_state = DialogState::Running;
  } else {
    self = reinterpret_cast<DialogBase*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT) and after the last one have no
  // object to go to.
  if (self == nullptr) {
    return FALSE;
  }
  INT_PTR result = FALSE;
  try {
    result = self->Dispatch(message, wParam, lParam);
  } catch (...) {
    LogEscapedException("DialogBase::StaticDialogProc");
    result = FALSE;
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  return result;
}

INT_PTR DialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = FALSE;
  if (OnMessage(message, wParam, lParam, &result)) {
    return result;
  }
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE
                                                                                      : FALSE;
    case WM_CLOSE:
      return OnClose() ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

SubclassedWindow::~SubclassedWindow() { UnsubclassWindow(); }

bool SubclassedWindow::SubclassWindow(HWND hWnd) {
  if (hWnd == nullptr || m_hWnd != nullptr) {
    return false;
  }
  if (!::SetWindowSubclass(hWnd, &SubclassedWindow::StaticSubclassProc,
                           reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  m_hWnd = hWnd;
  return true;
}

void SubclassedWindow::UnsubclassWindow() {
  if (m_hWnd != nullptr) {
    ::RemoveWindowSubclass(m_hWnd, &SubclassedWindow::StaticSubclassProc,
                           reinterpret_cast<UINT_PTR>(this));
    m_hWnd = nullptr;
  }
}

LRESULT SubclassedWindow::CallOriginal(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefSubclassProc(m_hCurrent != nullptr ? m_hCurrent : m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK SubclassedWindow::StaticSubclassProc(HWND hWnd, UINT message, WPARAM wParam,
                                                      LPARAM lParam, UINT_PTR id,
                                                      DWORD_PTR refData) {
  auto* self = reinterpret_cast<SubclassedWindow*>(refData);
  LRESULT result = 0;
  HWND previous = self->m_hCurrent;
  self->m_hCurrent = hWnd;
  try {
    result = self->WindowProc(message, wParam, lParam);
  } catch (...) {
    LogEscapedException("SubclassedWindow::StaticSubclassProc");
    result = ::DefSubclassProc(hWnd, message, wParam, lParam);
  }
  self->m_hCurrent = previous;
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hWnd, &SubclassedWindow::StaticSubclassProc, id);
    self->m_hWnd = nullptr;
    self->OnFinalMessage();
  }
  return result;
}

}  // namespace merro::ui
