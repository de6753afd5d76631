// Puts counting hook calls under the password fields for the time of a test:
// the platform's own calls, counted, or an install that fails.
#pragma once

#include <windows.h>

#include <atomic>

#include "device/ui/password_edit.h"

namespace merro::test {

class HookCounter {
 public:
  HookCounter() {
    s_live = 0;
    s_installs = 0;
    s_failInstalls = false;
    m_previous = merro::ui::CPasswordEdit::SetHookApi({&Install, &Remove});
  }
  ~HookCounter() { merro::ui::CPasswordEdit::SetHookApi(m_previous); }
  HookCounter(const HookCounter&) = delete;
  HookCounter& operator=(const HookCounter&) = delete;

  // Hooks installed and not yet removed; hooks installed in all.
  static int Live() { return s_live; }
  static int Installs() { return s_installs; }
  // From now on every install fails as the platform would report it.
  static void FailInstalls() { s_failInstalls = true; }

 private:
  static HHOOK WINAPI Install(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    if (s_failInstalls) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    HHOOK hook = ::SetWindowsHookExW(idHook, proc, module, threadId);
    if (hook != nullptr) {
      ++s_live;
      ++s_installs;
    }
    return hook;
  }
  static BOOL WINAPI Remove(HHOOK hook) {
    const BOOL removed = ::UnhookWindowsHookEx(hook);
    if (removed) {
      --s_live;
    }
    return removed;
  }

  static inline std::atomic<int> s_live{0};
  static inline std::atomic<int> s_installs{0};
  static inline std::atomic<bool> s_failInstalls{false};
  merro::ui::KeyboardHookApi m_previous{};
};

}  // namespace merro::test
