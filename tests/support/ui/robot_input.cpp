// The robot's keyboard and mouse: input sent with SendInput, paced so that a
// low-level keyboard hook of the dialog's process sees every key.
#include "tests/support/ui/window_robot.h"

namespace merro::test {

bool WindowRobot::Foreground(HWND dialog) {
  if (::GetForegroundWindow() == dialog) {
    return true;
  }
  ::SetForegroundWindow(dialog);
  return WaitFor([&] { return ::GetForegroundWindow() == dialog; }, "the dialog in the foreground",
                 [] {
                   wchar_t caption[128] = {};
                   ::GetWindowTextW(::GetForegroundWindow(), caption, 128);
                   return "the foreground is \"" + Utf8(caption) + "\"";
                 },
                 kReplyTimeoutMs);
}

bool WindowRobot::SendKey(WORD vk, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  const bool sent = ::SendInput(1, &input, sizeof(input)) == 1;
  ++m_inputSinceWait;
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

bool WindowRobot::Settle(HWND dialog) {
  if (!Foreground(dialog)) {
    return false;
  }
  for (int i = 0; i < 2; ++i) {
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                               &ignored)) {
      Fail("the dialog's thread does not answer");
      return false;
    }
    ::Sleep(150);
  }
  return true;
}

bool WindowRobot::WaitInputHandled(HWND dialog) {
  const size_t rounds = 2 * m_inputSinceWait + 2;
  m_inputSinceWait = 0;
  for (size_t i = 0; i < rounds; ++i) {
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                               &ignored)) {
      // A dialog that closed on the input has handled it.
      if (::IsWindow(dialog)) {
        Fail("the dialog's thread does not take the input sent to it");
        return false;
      }
      return true;
    }
  }
  return true;
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
  if (control == nullptr) {
    return false;
  }
  RECT r;
  ::GetWindowRect(control, &r);
  return ClickAt(dialog, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, 1);
}

bool WindowRobot::ClickAt(HWND window, POINT screen, int clicks) {
  if (!Foreground(window)) {
    return false;
  }
  if (!::SetCursorPos(screen.x, screen.y)) {
    Fail("SetCursorPos failed");
    return false;
  }
  ::Sleep(kKeyPaceMs);
  for (int i = 0; i < clicks; ++i) {
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
      ++m_inputSinceWait;
      ::Sleep(kKeyPaceMs);
    }
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
    ++m_inputSinceWait;
    ::Sleep(kKeyPaceMs);
  }
  input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(1, &input, sizeof(input));
  m_inputSinceWait += 2;  // the press and this release
  ::Sleep(100);
  return true;
}

}  // namespace merro::test
