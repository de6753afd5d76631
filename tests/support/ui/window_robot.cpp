#include "tests/support/ui/window_robot.h"

#include <cstdlib>

namespace merro::test {

namespace {

bool IsVisibleDialog(HWND hWnd) {
  wchar_t cls[16] = {};
  ::GetClassNameW(hWnd, cls, 16);
  return ::lstrcmpW(cls, L"#32770") == 0 && ::IsWindowVisible(hWnd);
}

struct Search {
  DWORD pid;
  int controlId;            // 0: no control asked for
  const wchar_t* caption;   // null: any caption
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND hWnd, LPARAM lParam) {
  auto* s = reinterpret_cast<Search*>(lParam);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hWnd, &pid);
  if ((s->pid != 0 && pid != s->pid) || !IsVisibleDialog(hWnd)) {
    return TRUE;
  }
  if (s->controlId != 0 && ::GetDlgItem(hWnd, s->controlId) == nullptr) {
    return TRUE;
  }
  if (s->caption != nullptr) {
    wchar_t text[512] = {};
    ::GetWindowTextW(hWnd, text, 512);
    if (::lstrcmpW(text, s->caption) != 0) {
      return TRUE;
    }
  }
  s->found = hWnd;
  return FALSE;
}

HWND Poll(Search search, DWORD timeoutMs) {
  WaitUntil(
      [&] {
        search.found = nullptr;
        ::EnumWindows(&MatchDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

struct Description {
  DWORD pid;
  int controlId;
  std::string text;
  int listed;
};

BOOL CALLBACK DescribeOne(HWND hWnd, LPARAM lParam) {
  constexpr int kMaxListed = 12;
  auto* d = reinterpret_cast<Description*>(lParam);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hWnd, &pid);
  wchar_t cls[64] = {};
  ::GetClassNameW(hWnd, cls, 64);
  const bool dialog = ::lstrcmpW(cls, L"#32770") == 0;
  const bool visible = ::IsWindowVisible(hWnd) != FALSE;
  // The hidden helper windows every Wine process has say nothing.
  if ((d->pid != 0 && pid != d->pid) || (!dialog && !visible)) {
    return TRUE;
  }
  if (++d->listed > kMaxListed) {
    d->text += "; ...";
    return FALSE;
  }
  wchar_t caption[128] = {};
  ::GetWindowTextW(hWnd, caption, 128);
  d->text += (d->listed > 1 ? "; " : "") + Utf8(cls) + " \"" + Utf8(caption) + "\" " +
             (visible ? "shown" : "hidden");
  if (d->controlId != 0) {
    d->text += ::GetDlgItem(hWnd, d->controlId) != nullptr ? ", with the control" : ", without it";
  }
  if (d->pid == 0) {
    d->text += " (process " + std::to_string(pid) + ")";
  }
  return TRUE;
}

BOOL CALLBACK CloseOne(HWND hWnd, LPARAM lParam) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hWnd, &pid);
  if (pid == static_cast<DWORD>(lParam) && IsVisibleDialog(hWnd)) {
    ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

std::wstring Widen(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? n : 0);
  return out;
}

std::wstring PathFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    return {};
  }
  std::wstring path = Widen(value);
  if (path[0] == L'/') {
    path = L"Z:" + path;
  }
  for (wchar_t& c : path) {
    if (c == L'/') {
      c = L'\\';
    }
  }
  return path;
}

void CloseDialogsOf(DWORD pid) { ::EnumWindows(&CloseOne, static_cast<LPARAM>(pid)); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (condition()) {
      return true;
    }
    if (::GetTickCount() - start >= timeoutMs) {
      return false;
    }
    ::Sleep(WindowRobot::kPollMs);
  }
}

bool WaitForMessageLoop(HWND window, DWORD timeoutMs) {
  // A sent message is handled when the loop next looks for messages, just
  // before it finds the queue empty; the second one after that moment.
  for (int i = 0; i < 2; ++i) {
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored)) {
      return false;
    }
  }
  return true;
}

std::string DescribeWindowsOf(DWORD pid, int controlId) {
  Description d{pid, controlId, {}, 0};
  ::EnumWindows(&DescribeOne, reinterpret_cast<LPARAM>(&d));
  return d.text.empty() ? "no window" : d.text;
}

bool WindowRobot::WaitFor(const std::function<bool()>& condition, const std::string& what,
                          const std::function<std::string()>& seen, DWORD timeoutMs) {
  if (WaitUntil(condition, timeoutMs)) {
    return true;
  }
  Fail(what + " within " + std::to_string(timeoutMs) + " ms" + (seen ? "; seen: " + seen() : ""));
  return false;
}

HWND WindowRobot::WaitForDialog(DWORD pid, int controlId, DWORD timeoutMs) {
  HWND found = Poll(Search{pid, controlId, nullptr, nullptr}, timeoutMs);
  if (found == nullptr) {
    Fail("no dialog with control " + std::to_string(controlId) + " of process " +
         std::to_string(pid) + " within " + std::to_string(timeoutMs) +
         " ms; seen: " + DescribeWindowsOf(pid, controlId));
  }
  return found;
}

HWND WindowRobot::FindDialog(const wchar_t* caption, DWORD pid, DWORD timeoutMs) {
  HWND found = Poll(Search{pid, 0, caption, nullptr}, timeoutMs);
  if (found == nullptr) {
    Fail("no dialog \"" + Utf8(caption) + "\" within " + std::to_string(timeoutMs) +
         " ms; seen: " + DescribeWindowsOf(pid));
  }
  return found;
}

bool WindowRobot::WaitGone(HWND dialog, DWORD timeoutMs) {
  return WaitFor([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); },
                 "the dialog gone",
                 [&] {
                   wchar_t caption[128] = {};
                   ::GetWindowTextW(dialog, caption, 128);  // the caption, without a message
                   return "\"" + Utf8(caption) + "\" still shown";
                 },
                 timeoutMs);
}

HWND WindowRobot::Control(HWND dialog, int controlId) {
  if (controlId == 0) {
    return dialog;
  }
  HWND control = ::GetDlgItem(dialog, controlId);
  if (control == nullptr) {
    Fail("no control " + std::to_string(controlId));
  }
  return control;
}

std::wstring WindowRobot::Text(HWND dialog, int controlId) {
  HWND control = Control(dialog, controlId);
  if (control == nullptr) {
    return {};
  }
  // WM_GETTEXT crosses processes; GetWindowText would not read another
  // process's controls.
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                             &length)) {
    Fail("WM_GETTEXTLENGTH of control " + std::to_string(controlId) + " timed out");
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kReplyTimeoutMs, &copied)) {
    Fail("WM_GETTEXT of control " + std::to_string(controlId) + " timed out");
    return {};
  }
  text.resize(copied);
  return text;
}

bool WindowRobot::IsEnabled(HWND dialog, int controlId) {
  HWND control = Control(dialog, controlId);
  return control != nullptr && ::IsWindowEnabled(control);
}

std::vector<std::wstring> WindowRobot::ComboItems(HWND dialog, int controlId) {
  std::vector<std::wstring> items;
  HWND combo = Control(dialog, controlId);
  if (combo == nullptr) {
    return items;
  }
  DWORD_PTR count = 0;
  if (!::SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &count) ||
      static_cast<LONG_PTR>(count) < 0) {
    Fail("CB_GETCOUNT of control " + std::to_string(controlId) + " failed");
    return items;
  }
  for (DWORD_PTR i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    ::SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &length);
    if (static_cast<LONG_PTR>(length) < 0) {
      Fail("CB_GETLBTEXTLEN of row " + std::to_string(i) + " failed");
      return items;
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, kReplyTimeoutMs, &copied);
    text.resize(static_cast<LONG_PTR>(copied) > 0 ? copied : 0);
    items.push_back(text);
  }
  return items;
}

int WindowRobot::ComboSelection(HWND dialog, int controlId) {
  HWND combo = Control(dialog, controlId);
  DWORD_PTR selection = static_cast<DWORD_PTR>(CB_ERR);
  if (combo != nullptr) {
    ::SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &selection);
  }
  return static_cast<int>(static_cast<LONG_PTR>(selection));
}

bool WindowRobot::PressButton(HWND dialog, int controlId) {
  HWND button = Control(dialog, controlId);
  return button != nullptr &&
         Check(::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                              reinterpret_cast<LPARAM>(button)) != FALSE,
               "posting the click of button " + std::to_string(controlId));
}

bool WindowRobot::SystemClose(HWND dialog) {
  return Check(::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE,
               "posting WM_SYSCOMMAND SC_CLOSE");
}

bool WindowRobot::PostClose(HWND dialog) {
  return Check(::PostMessageW(dialog, WM_CLOSE, 0, 0) != FALSE, "posting WM_CLOSE");
}

void WindowRobot::Fail(const std::string& what) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_failures.push_back(what);
}

bool WindowRobot::Check(bool condition, const std::string& what) {
  if (!condition) {
    Fail(what);
  }
  return condition;
}

void WindowRobot::Require(bool condition, const std::string& what) {
  if (!condition) {
    Fail("required: " + what);
    throw RobotAbort{};
  }
}

std::vector<std::string> WindowRobot::Failures() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_failures;
}

bool WindowRobot::Failed() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return !m_failures.empty();
}

void WindowRobot::Note(const std::string& line) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_notes.push_back(line);
}

std::vector<std::string> WindowRobot::Notes() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_notes;
}

}  // namespace merro::test
