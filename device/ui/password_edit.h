// The PIN field: an edit control whose typed characters never reach the
// control. While it has the focus a low-level keyboard hook takes every key
// before any window sees it; the characters are kept masked with a random
// pad, and the control shows one asterisk per character.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "device/ui/dialog_base.h"
#include "foundation/secret_bytes.h"

namespace merro::ui {

// The platform's hook calls, replaceable so that tests can make the install
// fail (the platform itself never refuses one under Wine) or count hooks.
struct KeyboardHookApi {
  HHOOK(WINAPI* install)(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId);
  BOOL(WINAPI* remove)(HHOOK hook);
};

// The password as UTF-16 text, in memory that is wiped when released.
struct WidePassword {
  SecretBytes units;  // the UTF-16 units and a terminating zero unit
  const wchar_t* Text() const {
    return units.empty() ? L"" : reinterpret_cast<const wchar_t*>(units.data());
  }
  std::size_t Length() const { return units.empty() ? 0 : units.size() / sizeof(wchar_t) - 1; }
};

class CPasswordEdit : public SubclassedWindow {
 public:
  static constexpr DWORD kMaxChars = 16;
  // How often the focused field puts a fresh hook first in the chain.
  static constexpr UINT kReinstallMs = 250;

  CPasswordEdit();
  ~CPasswordEdit() override;

  // Subclasses edit control `edit`; limits it to 16 characters shown as
  // asterisks and starts the reinstall timer.
  bool Attach(HWND edit);

  // The typed characters (narrow, no terminator); an empty field gives an
  // empty buffer. 0x8007000E when no buffer could be had.
  HRESULT GetDecryptPassword(SecretBytes* pPassword) const;
  // The same, as UTF-16 text.
  HRESULT GetDecryptPassword(WidePassword* pPassword) const;
  DWORD GetPasswordLength() const { return m_stPasswordDataBlob.cbData; }

  // Empties the field and draws a new pad; does nothing while it has the focus.
  void ResetPasswordEditCrtl();

  // Replaces the hook calls for the process; returns the ones in use before.
  static KeyboardHookApi SetHookApi(const KeyboardHookApi& api);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnFinalMessage() override;

 private:
  static LRESULT CALLBACK LowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam);
  static CPasswordEdit* FromWindow(HWND hWnd);

  void Initialize();
  void OnSetFocus();
  void OnKeyDown(DWORD vk);
  void TrackCapsLock(bool down);
  char GetCharFromKey(DWORD vk) const;
  void ShowAsterisks();
  // Installs a fresh hook, then removes the one this field held, so ours
  // stays first in the chain at every moment. False when the install failed.
  bool InstallHook();
  void RemoveHook();
  // Hook, timer, window property and the current-field pointer: what must
  // not outlive the window or the object.
  void Release();
  void WipeCharacters();

  DWORD m_bFocus = 0;
  BYTE m_lpbyRandomNumber[kMaxChars + 1] = {};
  struct {
    DWORD cbData = 0;
    BYTE pBlobData[kMaxChars + 1] = {};
  } m_stPasswordDataBlob;
  // The hook this field installed, if any; a field removes only its own.
  HHOOK m_hHook = nullptr;
  // Caps Lock as the hook has seen it while this field had the focus.
  bool m_bCapsLock = false;
  bool m_bCapsDown = false;

  // The field that received the focus last: the hook types into it alone.
  static std::atomic<CPasswordEdit*> s_pCurrent;
};

}  // namespace merro::ui
