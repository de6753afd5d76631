#include "device/ui/password_edit.h"

#include <bcrypt.h>

#include <memory>
#include <new>

#include "device/ui/password_keys.h"
#include "foundation/misc/text_convert.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "PasswordEdit"

namespace merro::ui {

namespace {

// Whether a key is held, from the system's input state. The thread's own key
// state (GetKeyState) lags: it changes only when the thread takes the key's
// message from its queue, and the hook call of the next key may come first,
// so Shift+2 would type '2' and Ctrl+V 'v' whenever the thread is slow.
bool Held(int vk) { return ::GetAsyncKeyState(vk) < 0; }

constexpr UINT_PTR kReinstallTimerId = 0x4D50;  // 'MP'
// Ties the edit window to its field, so the hook finds the field behind the
// focused window of its own thread without touching another thread's object.
constexpr const wchar_t* kFieldProperty = L"Merro.PasswordEdit";

KeyboardHookApi& HookApi() {
  static KeyboardHookApi api{&::SetWindowsHookExW, &::UnhookWindowsHookEx};
  return api;
}

}  // namespace

std::atomic<CPasswordEdit*> CPasswordEdit::s_pCurrent{nullptr};

CPasswordEdit::CPasswordEdit() { Initialize(); }

CPasswordEdit::~CPasswordEdit() {
  Release();
  WipeCharacters();
  SecureWipe(m_lpbyRandomNumber, sizeof m_lpbyRandomNumber);
}

KeyboardHookApi CPasswordEdit::SetHookApi(const KeyboardHookApi& api) {
  KeyboardHookApi previous = HookApi();
  HookApi() = api;
  return previous;
}

// Empty buffers and a fresh pad of 16 bytes, each 1 to 254, from the
// system's generator (reseeding the C runtime's generator would disturb the
// host program's thread).
void CPasswordEdit::Initialize() {
  MR_TRACE("CPasswordEdit::Initialize");
  m_bFocus = 0;
  WipeCharacters();
  BYTE random[kMaxChars] = {};
  const NTSTATUS status =
      ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status != 0) {
    // The pad only masks the characters in memory; a constant one still
    // works, so the field stays usable.
    MR_LOG_FAIL(L"BCryptGenRandom", L"status != 0", static_cast<LONG>(status));
    SecureWipe(random, sizeof random);
  }
  for (DWORD i = 0; i < kMaxChars; ++i) {
    m_lpbyRandomNumber[i] = static_cast<BYTE>(random[i] % 254 + 1);
  }
  m_lpbyRandomNumber[kMaxChars] = 0;
  SecureWipe(random, sizeof random);
}

void CPasswordEdit::WipeCharacters() {
  SecureWipe(m_stPasswordDataBlob.pBlobData, sizeof m_stPasswordDataBlob.pBlobData);
  m_stPasswordDataBlob.cbData = 0;
}

bool CPasswordEdit::Attach(HWND edit) {
  MR_TRACE("CPasswordEdit::Attach");
  if (!SubclassWindow(edit)) {
    MR_LOG_FAIL(L"SubclassWindow", L"!SubclassWindow(edit)", E_FAIL);
    return false;
  }
  ::SetPropW(edit, kFieldProperty, this);
  ::SendMessageW(edit, EM_LIMITTEXT, kMaxChars, 0);
  ::SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
  ::SetTimer(edit, kReinstallTimerId, kReinstallMs, nullptr);
  if (::GetFocus() == edit) {
    OnSetFocus();
  }
  return true;
}

CPasswordEdit* CPasswordEdit::FromWindow(HWND hWnd) {
  return hWnd != nullptr ? static_cast<CPasswordEdit*>(::GetPropW(hWnd, kFieldProperty))
                         : nullptr;
}

bool CPasswordEdit::InstallHook() {
  MR_TRACE("CPasswordEdit::InstallHook");
  HHOOK fresh = HookApi().install(WH_KEYBOARD_LL, &CPasswordEdit::LowLevelKeyboardProc,
                                  ::GetModuleHandleW(nullptr), 0);
  if (fresh == nullptr) {
    MR_LOG_FAIL(L"SetWindowsHookExW", L"hook == NULL",
                static_cast<LONG>(HRESULT_FROM_WIN32(::GetLastError())));
    return false;
  }
  RemoveHook();
  m_hHook = fresh;
  return true;
}

void CPasswordEdit::RemoveHook() {
  if (m_hHook != nullptr) {
    HookApi().remove(m_hHook);
    m_hHook = nullptr;
  }
}

void CPasswordEdit::Release() {
  RemoveHook();
  CPasswordEdit* self = this;
  s_pCurrent.compare_exchange_strong(self, nullptr);
  m_bFocus = 0;
  if (Window() != nullptr) {
    ::KillTimer(Window(), kReinstallTimerId);
    ::RemovePropW(Window(), kFieldProperty);
  }
}

void CPasswordEdit::OnSetFocus() {
  MR_TRACE("CPasswordEdit::OnSetFocus");
  m_bFocus = 1;
  s_pCurrent = this;
  // From here on the hook follows Caps Lock itself (see TrackCapsLock).
  m_bCapsLock = (::GetKeyState(VK_CAPITAL) & 1) != 0;
  m_bCapsDown = Held(VK_CAPITAL);
  if (!InstallHook() && m_hHook == nullptr) {
    // Without the hook typed keys would reach the control: no PIN can be typed.
    MR_LOG_FAIL(L"InstallHook", L"no keyboard hook", E_FAIL);
    ::EnableWindow(Window(), FALSE);
  }
}

LRESULT CPasswordEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      OnSetFocus();
      if (!::IsWindowEnabled(Window())) {
        return 0;  // disabled for want of a hook: no caret
      }
      break;
    case WM_KILLFOCUS:
      m_bFocus = 0;
      RemoveHook();
      break;
    case WM_TIMER:
      if (wParam != kReinstallTimerId) {
        break;
      }
      // Only the field that holds the focus refreshes its hook; the others
      // must not take the keys from it.
      if (m_bFocus != 0 && s_pCurrent.load() == this && ::GetFocus() == Window()) {
        InstallHook();
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      // A click only gives the focus: no caret placement, no selection.
      ::SetFocus(Window());
      return 0;
    case WM_LBUTTONDBLCLK:
    case WM_CONTEXTMENU:
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CHAR:
    case WM_IME_CHAR:
    case WM_PASTE:
      // The text holds asterisks set by the hook only: a key that reached
      // the control some other way (no hook) or a paste must not add a
      // character in the clear.
      return 0;
    case WM_DESTROY:
      Release();
      WipeCharacters();
      break;
    default:
      break;
  }
  return CallOriginal(message, wParam, lParam);
}

void CPasswordEdit::OnFinalMessage() {
  Release();
  WipeCharacters();
}

LRESULT CALLBACK CPasswordEdit::LowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam) {
  if (nCode == HC_ACTION) {
    CPasswordEdit* field = FromWindow(::GetFocus());
    if (field != nullptr && field == s_pCurrent.load()) {
      const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
      const bool down = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
      if (key->vkCode == VK_CAPITAL) {
        field->TrackCapsLock(down);
      }
      if (!IsPassThroughKey(key->vkCode)) {
        if (down) {
          field->OnKeyDown(key->vkCode);
        }
        return 1;  // no window receives the key
      }
    }
  }
  return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// The toggle flips when the key goes down, not on its repeats. The system
// gives no toggle state that is current at hook time, so the focused field
// keeps it from the events its hook sees.
void CPasswordEdit::TrackCapsLock(bool down) {
  if (down && !m_bCapsDown) {
    m_bCapsLock = !m_bCapsLock;
  }
  m_bCapsDown = down;
}

char CPasswordEdit::GetCharFromKey(DWORD vk) const {
  const bool shift = Held(VK_SHIFT) || Held(VK_LSHIFT) || Held(VK_RSHIFT);
  return CharFromKey(vk, ::MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR), shift, m_bCapsLock);
}

void CPasswordEdit::OnKeyDown(DWORD vk) {
  auto& blob = m_stPasswordDataBlob;
  if (vk == VK_BACK) {
    if (blob.cbData > 0) {
      --blob.cbData;
      blob.pBlobData[blob.cbData] = 0;
    }
  } else if (IsTypedKey(vk)) {
    // Ctrl combinations (paste and the like) type nothing.
    const bool ctrl = Held(VK_CONTROL) || Held(VK_LCONTROL) || Held(VK_RCONTROL);
    if (!ctrl && blob.cbData < kMaxChars) {
      const char c = GetCharFromKey(vk);
      if (c != 0) {
        blob.pBlobData[blob.cbData] = static_cast<BYTE>(c) ^ m_lpbyRandomNumber[blob.cbData];
        blob.pBlobData[blob.cbData + 1] = 0;
        ++blob.cbData;
      }
    }
  } else {
    return;
  }
  ShowAsterisks();
}

void CPasswordEdit::ShowAsterisks() {
  wchar_t text[kMaxChars + 1] = {};
  for (DWORD i = 0; i < m_stPasswordDataBlob.cbData; ++i) {
    text[i] = L'*';
  }
  ::SendMessageW(Window(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  ::SendMessageW(Window(), EM_SETSEL, m_stPasswordDataBlob.cbData, -1);
}

HRESULT CPasswordEdit::GetDecryptPassword(SecretBytes* pPassword) const {
  MR_TRACE("CPasswordEdit::GetDecryptPassword");
  MR_FAIL_IF(pPassword == nullptr, L"Check arguments", E_INVALIDARG);
  char plain[kMaxChars + 1] = {};
  for (DWORD i = 0; i < m_stPasswordDataBlob.cbData; ++i) {
    plain[i] = static_cast<char>(m_stPasswordDataBlob.pBlobData[i] ^ m_lpbyRandomNumber[i]);
  }
  const HRESULT hr = pPassword->Assign(plain, m_stPasswordDataBlob.cbData) ? S_OK : E_OUTOFMEMORY;
  SecureWipe(plain, sizeof plain);
  MR_FAIL_IF(FAILED(hr), L"New buffer", E_OUTOFMEMORY);
  return S_OK;
}

HRESULT CPasswordEdit::GetDecryptPassword(WidePassword* pPassword) const {
  MR_TRACE("CPasswordEdit::GetDecryptPassword");
  MR_FAIL_IF(pPassword == nullptr, L"Check arguments", E_INVALIDARG);
  SecretBytes narrow;
  HRESULT hr = GetDecryptPassword(&narrow);
  if (FAILED(hr)) {
    return hr;
  }
  // Zero-terminated copy for the converter.
  char text[kMaxChars + 1] = {};
  for (size_t i = 0; i < narrow.size(); ++i) {
    text[i] = static_cast<char>(narrow.data()[i]);
  }
  UTF16CHAR* wide = nullptr;
  DWORD length = 0;
  hr = UTF8ToUTF16(text, &wide, &length);
  SecureWipe(text, sizeof text);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"UTF8ToUTF16", L"FAILED(hr)", hr);
    return hr;
  }
  const std::unique_ptr<UTF16CHAR[]> owned(wide);
  const size_t bytes = (static_cast<size_t>(length) + 1) * sizeof(UTF16CHAR);
  if (!pPassword->units.Assign(owned.get(), bytes)) {
    hr = E_OUTOFMEMORY;
  }
  SecureWipe(owned.get(), bytes);
  MR_FAIL_IF(FAILED(hr), L"New buffer", E_OUTOFMEMORY);
  return S_OK;
}

void CPasswordEdit::ResetPasswordEditCrtl() {
  MR_TRACE("CPasswordEdit::ResetPasswordEditCrtl");
  if (m_bFocus != 0) {
    return;
  }
  Initialize();
  if (Window() != nullptr) {
    ::SetWindowTextW(Window(), L"");
  }
}

}  // namespace merro::ui
