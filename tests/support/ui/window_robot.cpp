#include "tests/support/ui/window_robot.h"

#include <cstdlib>
#include <memory>

#include "foundation/win/file_util.h"
#include "foundation/win/image_load.h"  // GDI+ with the project's min/max fix

namespace merro::test {

namespace {

constexpr DWORD kPollMs = 20;

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
  const DWORD start = ::GetTickCount();
  for (;;) {
    search.found = nullptr;
    ::EnumWindows(&MatchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr || ::GetTickCount() - start >= timeoutMs) {
      return search.found;
    }
    ::Sleep(kPollMs);
  }
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

// GDI+ for the time of one screenshot.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    m_ok = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok;
  }
  ~GdiplusSession() {
    if (m_ok) {
      Gdiplus::GdiplusShutdown(m_token);
    }
  }
  bool Ok() const { return m_ok; }

 private:
  ULONG_PTR m_token = 0;
  bool m_ok = false;
};

bool PngEncoder(CLSID* clsid) {
  UINT count = 0;
  UINT bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
    return false;
  }
  std::unique_ptr<BYTE[]> buffer(new BYTE[bytes]);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.get());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) {
    return false;
  }
  for (UINT i = 0; i < count; ++i) {
    if (::lstrcmpW(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
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

HWND WindowRobot::WaitForDialog(DWORD pid, int controlId, DWORD timeoutMs) {
  HWND found = Poll(Search{pid, controlId, nullptr, nullptr}, timeoutMs);
  if (found == nullptr) {
    Fail("no dialog with control " + std::to_string(controlId) + " of process " +
         std::to_string(pid) + " within " + std::to_string(timeoutMs) + " ms");
  }
  return found;
}

HWND WindowRobot::FindDialog(const wchar_t* caption, DWORD pid, DWORD timeoutMs) {
  HWND found = Poll(Search{pid, 0, caption, nullptr}, timeoutMs);
  if (found == nullptr) {
    Fail("no dialog \"" + Utf8(caption) + "\" within " + std::to_string(timeoutMs) + " ms");
  }
  return found;
}

bool WindowRobot::WaitGone(HWND dialog, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::IsWindow(dialog) && ::IsWindowVisible(dialog)) {
    if (::GetTickCount() - start >= timeoutMs) {
      Fail("the dialog is still up after " + std::to_string(timeoutMs) + " ms");
      return false;
    }
    ::Sleep(kPollMs);
  }
  return true;
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
  if (!::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    Fail("WM_GETTEXTLENGTH of control " + std::to_string(controlId) + " timed out");
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied)) {
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
  if (!::SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count) ||
      static_cast<LONG_PTR>(count) < 0) {
    Fail("CB_GETCOUNT of control " + std::to_string(controlId) + " failed");
    return items;
  }
  for (DWORD_PTR i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    ::SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &length);
    if (static_cast<LONG_PTR>(length) < 0) {
      Fail("CB_GETLBTEXTLEN of row " + std::to_string(i) + " failed");
      return items;
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(static_cast<LONG_PTR>(copied) > 0 ? copied : 0);
    items.push_back(text);
  }
  return items;
}

int WindowRobot::ComboSelection(HWND dialog, int controlId) {
  HWND combo = Control(dialog, controlId);
  DWORD_PTR selection = static_cast<DWORD_PTR>(CB_ERR);
  if (combo != nullptr) {
    ::SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
  }
  return static_cast<int>(static_cast<LONG_PTR>(selection));
}

bool WindowRobot::Foreground(HWND dialog) {
  if (::GetForegroundWindow() == dialog) {
    return true;
  }
  ::SetForegroundWindow(dialog);
  const DWORD start = ::GetTickCount();
  while (::GetForegroundWindow() != dialog) {
    if (::GetTickCount() - start >= 2000) {
      Fail("the dialog does not come to the foreground");
      return false;
    }
    ::Sleep(kPollMs);
  }
  return true;
}

bool WindowRobot::SendKey(WORD vk, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  const bool sent = ::SendInput(1, &input, sizeof(input)) == 1;
  ::Sleep(kKeyPaceMs);
  if (!sent) {
    Fail("SendInput refused key " + std::to_string(vk));
  }
  return sent;
}

bool WindowRobot::Keys(HWND dialog, std::initializer_list<WORD> keys) {
  if (!Foreground(dialog)) {
    return false;
  }
  for (WORD vk : keys) {
    if (!SendKey(vk, false) || !SendKey(vk, true)) {
      return false;
    }
  }
  return true;
}

bool WindowRobot::Chord(HWND dialog, WORD modifier, WORD key) {
  if (!Foreground(dialog)) {
    return false;
  }
  const bool ok = SendKey(modifier, false) && SendKey(key, false) && SendKey(key, true);
  return SendKey(modifier, true) && ok;
}

bool WindowRobot::Type(HWND dialog, const std::wstring& text) {
  if (!Foreground(dialog)) {
    return false;
  }
  // The US layout, whatever the prefix's language: the robot types what the
  // test spells, not what a local layout would make of the keys.
  static HKL us = ::LoadKeyboardLayoutW(L"00000409", 0);
  for (wchar_t c : text) {
    const SHORT scan = ::VkKeyScanExW(c, us);
    if (scan == -1) {
      Fail("no key for character " + std::to_string(c));
      return false;
    }
    const WORD vk = LOBYTE(scan);
    const bool shift = (HIBYTE(scan) & 1) != 0;
    const bool ok = shift ? Chord(dialog, VK_LSHIFT, vk) : (SendKey(vk, false) && SendKey(vk, true));
    if (!ok) {
      return false;
    }
  }
  return true;
}

bool WindowRobot::Click(HWND dialog, int controlId) {
  HWND control = Control(dialog, controlId);
  if (control == nullptr || !Foreground(dialog)) {
    return false;
  }
  RECT r;
  ::GetWindowRect(control, &r);
  POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  if (!::SetCursorPos(centre.x, centre.y)) {
    Fail("SetCursorPos failed");
    return false;
  }
  ::Sleep(kKeyPaceMs);
  INPUT input[2] = {};
  input[0].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].type = INPUT_MOUSE;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  for (INPUT& one : input) {
    if (::SendInput(1, &one, sizeof(one)) != 1) {
      Fail("SendInput refused a mouse button");
      return false;
    }
    ::Sleep(kKeyPaceMs);
  }
  return true;
}

bool WindowRobot::Drag(HWND dialog, POINT fromClient, int dx, int dy) {
  if (!Foreground(dialog)) {
    return false;
  }
  POINT p = fromClient;
  ::ClientToScreen(dialog, &p);
  ::SetCursorPos(p.x, p.y);
  ::Sleep(kKeyPaceMs);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  if (::SendInput(1, &input, sizeof(input)) != 1) {
    Fail("SendInput refused the button press of a drag");
    return false;
  }
  ::Sleep(100);
  // Absolute moves: relative ones are scaled by the mouse speed settings.
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  constexpr int kSteps = 8;
  for (int i = 1; i <= kSteps; ++i) {
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    move.mi.dx = MulDiv(p.x + dx * i / kSteps, 65535, width - 1);
    move.mi.dy = MulDiv(p.y + dy * i / kSteps, 65535, height - 1);
    ::SendInput(1, &move, sizeof(move));
    ::Sleep(kKeyPaceMs);
  }
  input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(1, &input, sizeof(input));
  ::Sleep(100);
  return true;
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

std::wstring WindowRobot::Screenshot(HWND dialog, const std::wstring& name) {
  std::wstring folder = PathFromEnvironment("MERRO_UI_SHOTS");
  if (folder.empty()) {
    return {};
  }
  const char* lang = std::getenv("MERRO_UI_LANG");
  folder += L"\\" + Widen(lang != nullptr && *lang != '\0' ? lang : "default");
  CreateDirectories((folder + L"\\").c_str());
  const std::wstring file = folder + L"\\" + name + L".png";

  // Let the dialog finish painting before the screen is read.
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ::Sleep(200);
  RECT r;
  if (!::GetWindowRect(dialog, &r) || r.right <= r.left || r.bottom <= r.top) {
    Fail("no window rectangle for screenshot " + Utf8(name));
    return {};
  }
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);

  bool saved = false;
  if (copied) {
    GdiplusSession gdiplus;
    CLSID png;
    if (gdiplus.Ok() && PngEncoder(&png)) {
      Gdiplus::Bitmap image(bitmap, nullptr);
      saved = image.Save(file.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
  }
  ::DeleteObject(bitmap);
  if (!saved) {
    Fail("screenshot " + Utf8(file) + " not written");
    return {};
  }
  return file;
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
