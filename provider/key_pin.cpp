// KeyHandle: the PIN checks that every private-key operation goes through,
// and the PIN check and change the certificate manager calls directly.
//
// A PIN lives in a SecretBytes while it is used: whatever path leaves a
// function, its bytes are wiped before the memory goes.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/ui/confirm_runner.h"
#include "device/ui/owner_window.h"
#include "device/ui/user_interface.h"
#include "device/user_pin_prompt.h"
#include "foundation/result.h"
#include "foundation/secret_bytes.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "provider/operation_sequence.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

constexpr DWORD kUserPIN = 1;
constexpr DWORD kAdminPIN = 2;
// The token's PIN status byte while that PIN is verified.
constexpr DWORD kUserVerified = 0x11;
constexpr DWORD kAdminVerified = 0x10;
// CheckPIN may show the confirmation while the token waits for its button.
constexpr DWORD kConfirmOnToken = 1;
// The PIN dialog's modes.
constexpr DWORD kModeUser = 0;
constexpr DWORD kModeAdmin = 1;
constexpr DWORD kModeAgain = 2;

// The token's view of a PIN: tries left, status byte, ever changed.
struct PinState {
  DWORD dwLeftTimes = 0;
  DWORD dwStatus = 0;
  DWORD dwModified = 0;
};

// GetPINInfo and, with bCheckDefault, the settings' rule on a factory PIN
// that was never changed. Failures are logged for `function`.
HRESULT ReadPinState(const char* pszDevName, DWORD dwPINType, bool bCheckDefault, PinState* pState,
                     const char* function) {
  MR_TRACE_UNDER(function);
  HRESULT hResult = g_pDeviceHandle->GetPINInfo(pszDevName, dwPINType, &pState->dwLeftTimes,
                                                &pState->dwStatus, &pState->dwModified);
  if (hResult != S_OK) {
    hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
    MR_LOG_FAIL(L"GetPINInfo", L"hResult != S_OK", hResult);
    return hResult;
  }
  if (bCheckDefault) {
    hResult = g_pDeviceHandle->CheckDefaultPINStat(pState->dwModified);
    if (hResult != S_OK) {
      hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
      MR_LOG_FAIL(L"CheckDefaultPINStat", L"hResult != S_OK", hResult);
      return hResult;
    }
  }
  return S_OK;
}

// One verification of a PIN loop, with the confirmation on the token when
// few tries remain. S_OK when the token took the PIN. *pbFinal tells
// whether the failure ends the loop: the holder's answer on the token, C
// (0x8010006E) or the time-out (0x8010000A), as the token gives them
// (0x8000FF06, 0x8000FF07) or as the confirmation hands them over, costs
// no try and is never a wrong PIN. Any other failure (a wrong PIN among
// them) is the token's, for the caller to weigh.
HRESULT VerifyPass(const char* pszDevName, DWORD dwPINType, const SecretBytes& pin, int nLeftTimes,
                   const char* function, bool* pbFinal) {
  MR_TRACE_UNDER(function);
  const HRESULT hResult =
      g_pDeviceHandle->CheckPIN(pszDevName, dwPINType, reinterpret_cast<const char*>(pin.data()),
                                static_cast<DWORD>(pin.size()), nLeftTimes, kConfirmOnToken);
  const HRESULT hAnswer = ui::MapConfirmResult(hResult);
  *pbFinal = hAnswer == SCARD_W_CANCELLED_BY_USER || hAnswer == SCARD_E_TIMEOUT;
  if (*pbFinal) {
    MR_LOG_FAIL(
        hAnswer == SCARD_E_TIMEOUT ? L"User operation timed out" : L"User operation canceled",
        L"the holder's answer on the token", hAnswer);
    return hAnswer;
  }
  return hResult;
}

// Moves a PIN handed out in an array-new buffer (the dialog's, terminated,
// or the keep's, not) into *pPin; the buffer is wiped and freed on every
// path.
template <typename Byte>
HRESULT TakePIN(Byte* pbyPIN, size_t nLength, SecretBytes* pPin) {
  const BasicOwnedBytes<Byte, true> handed =
      BasicOwnedBytes<Byte, true>::Adopt(pbyPIN, static_cast<DWORD>(nLength));
  return pPin->Assign(handed.data(), handed.size()) ? S_OK : E_OUTOFMEMORY;
}

// The PIN dialog for the PIN check, owned by hOwner (null: found in this
// process): *pPin receives what was typed.
HRESULT AskPIN(DWORD dwMode, int nLeftTimes, SecretBytes* pPin, HWND hOwner = nullptr) {
  char* pszPIN = nullptr;
  const HRESULT hResult = KeyHandle::GetUserPIN(dwMode, nLeftTimes, &pszPIN, hOwner);
  if (FAILED(hResult)) {
    return hResult;
  }
  return TakePIN(pszPIN, std::strlen(pszPIN), pPin);
}

}  // namespace

HRESULT KeyHandle::GetUserPIN(DWORD dwMode, int nLeftTimes, char** ppszPIN, HWND hOwner) {
  MR_TRACE("KeyHandle::GetUserPIN");
  MR_FAIL_IF(ppszPIN == NULL, L"Check ppszPIN", E_INVALIDARG);
  // Inside a caller's program the dialog belongs to that program's window:
  // the one the caller named, else the one found for it.
  if (nLeftTimes <= 0) {
    hOwner = nullptr;
  } else if (hOwner == nullptr) {
    hOwner = ui::FindOwnerWindow(::GetCurrentProcessId());
  }
  const HRESULT hResult =
      device::PromptForPIN(hOwner, static_cast<int>(dwMode), nLeftTimes, ppszPIN);
  MR_FAIL_IF(FAILED(hResult), L"GetPIN", hResult);
  return S_OK;
}

HRESULT KeyHandle::CheckUserPIN(BOOL bForce, BOOL bRetry, OperationSequence* pSequence) {
  MR_TRACE("KeyHandle::CheckUserPIN");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  // Every private-key operation asks for the PIN here: on a handle acquired
  // with CRYPT_SILENT the PIN dialog fails with NTE_SILENT_CONTEXT before it
  // shows, and the kept PIN still serves.
  const ui::SilentScope silent(m_pContainer->IsAllowUI());
  const char* pszDevName = m_pContainer->m_szDeviceName;
  device::DeviceHandle& device = *g_pDeviceHandle;
  // The PIN state read under the sequence lock stays true for the operation.
  const auto takeSequence = [&]() -> HRESULT {
    return pSequence != nullptr ? pSequence->lock.Take(pszDevName) : S_OK;
  };

  HRESULT hResult = takeSequence();
  MR_FAIL_IF(hResult != S_OK, L"Take the token's sequence lock", hResult);
  PinState state;
  hResult = ReadPinState(pszDevName, kUserPIN, true, &state, MR_TRACE_FUNCTION);
  if (hResult != S_OK) {
    return hResult;
  }
  if (state.dwStatus == kUserVerified && bForce != TRUE) {
    MR_LOG_STEP(L"PIN already verified");
    return S_OK;
  }
  MR_FAIL_IF(state.dwLeftTimes <= 0, L"Check pin locked", SCARD_W_CHV_BLOCKED);

  SecretBytes pin;
  bool bMayUseKept = true;
  for (;;) {
    hResult = ReadPinState(pszDevName, kUserPIN, false, &state, MR_TRACE_FUNCTION);
    if (hResult != S_OK) {
      return hResult;
    }
    const int nLeftTimes = static_cast<int>(state.dwLeftTimes);
    bool bFromKeep = false;
    pin.Clear();
    if (pSequence != nullptr && !pSequence->pin.empty()) {
      // A rerun: the PIN this operation verified before.
      MR_FAIL_IF(!pin.Assign(pSequence->pin.data(), pSequence->pin.size()), L"New buffer",
                 E_OUTOFMEMORY);
      bFromKeep = true;
      bMayUseKept = false;
    }
    if (bMayUseKept) {
      bMayUseKept = false;
      BYTE* pbyKept = nullptr;
      DWORD dwKeptLength = 0;
      if (device.GetKeptUserPIN(pszDevName, &pbyKept, &dwKeptLength) == S_OK) {
        hResult = TakePIN(pbyKept, dwKeptLength, &pin);
        MR_FAIL_IF(hResult != S_OK, L"New buffer", hResult);
        bFromKeep = !pin.empty();
      }
    }
    if (!bFromKeep) {
      MR_FAIL_IF(pSequence != nullptr && pSequence->bRerun, L"No PIN in hand for the rerun",
                 kTokenSecurityStateLost);
      // No other process waits for the token while the user types.
      if (pSequence != nullptr) {
        pSequence->lock.Release();
      }
      // The window the caller handed over (PP_CLIENT_HWND) owns the dialog.
      hResult = AskPIN(kModeUser, nLeftTimes, &pin, m_pContainer->GetOwnerWindow());
      MR_FAIL_IF(FAILED(hResult), L"GetUserPIN", hResult);
      hResult = takeSequence();
      MR_FAIL_IF(hResult != S_OK, L"Take the token's sequence lock", hResult);
    }

    bool bFinal = false;
    hResult = VerifyPass(pszDevName, kUserPIN, pin, nLeftTimes, MR_TRACE_FUNCTION, &bFinal);
    if (hResult == S_OK) {
      if (pSequence != nullptr) {
        pSequence->bSessionSet = true;
      }
      break;
    }
    // The session or the security state went away under the verification:
    // no wrong PIN, nothing to ask again.
    MR_FAIL_IF(IsLostTokenState(hResult), L"VerifyPIN", hResult);
    if (bFinal) {
      return hResult;
    }
    device.ClearKeptPIN(pszDevName);
    // A refused kept PIN is only stale: the user is asked once.
    MR_FAIL_IF(bRetry != TRUE && !bFromKeep, L"Wrong user PIN", SCARD_E_INVALID_CHV);
    MR_FAIL_IF(pSequence != nullptr && pSequence->bRerun, L"Wrong user PIN", SCARD_E_INVALID_CHV);
    MR_LOG_STEP(L"PIN refused, asking again");
  }

  if (device.IsKeepPIN()) {
    // Kept anew when it came from the keep: that renews its time stamps.
    device.KeepUserPIN(pszDevName, pin.data(), static_cast<DWORD>(pin.size()));
  }
  if (pSequence != nullptr) {
    pSequence->pin = std::move(pin);
  }
  MR_LOG_STEP(L"CheckUserPIN");
  return S_OK;
}

HRESULT KeyHandle::CheckPINCode(const char* pszDevName, DWORD dwPINType, BOOL bForce,
                                BOOL bRetry, char** ppszPIN) {
  MR_TRACE("KeyHandle::CheckPINCode");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  if (ppszPIN != nullptr) {
    *ppszPIN = nullptr;
  }
  PinState state;
  HRESULT hResult = ReadPinState(pszDevName, dwPINType, true, &state, MR_TRACE_FUNCTION);
  if (hResult != S_OK) {
    return hResult;
  }
  const bool bVerified = (dwPINType == kUserPIN && state.dwStatus == kUserVerified) ||
                         (dwPINType == kAdminPIN && state.dwStatus == kAdminVerified);
  if (bForce != TRUE && bVerified) {
    MR_LOG_STEP(L"PIN already verified");
    return S_OK;
  }

  DWORD dwMode = dwPINType != kUserPIN ? kModeAdmin : kModeUser;
  SecretBytes pin;
  for (;;) {
    hResult = ReadPinState(pszDevName, dwPINType, false, &state, MR_TRACE_FUNCTION);
    if (hResult != S_OK) {
      return hResult;
    }
    const int nLeftTimes = static_cast<int>(state.dwLeftTimes);
    hResult = AskPIN(dwMode, nLeftTimes, &pin);
    MR_FAIL_IF(FAILED(hResult), L"GetUserPIN", hResult);
    bool bFinal = false;
    hResult = VerifyPass(pszDevName, dwPINType, pin, nLeftTimes, MR_TRACE_FUNCTION, &bFinal);
    if (hResult == S_OK) {
      break;
    }
    if (bFinal) {
      return hResult;
    }
    MR_FAIL_IF(bRetry != TRUE, L"Wrong user PIN", SCARD_E_INVALID_CHV);
    dwMode = kModeAgain;
  }

  if (ppszPIN != nullptr) {
    // A terminated copy for a caller that keeps it.
    SecretText copy;
    const char* pszPIN = copy.Assign(pin.data(), pin.size(), pin.size() + 1) ? copy.get() : nullptr;
    MR_FAIL_IF(pszPIN == NULL, L"New buffer", E_OUTOFMEMORY);
    copy.HandOut(ppszPIN);
  }
  MR_LOG_STEP(L"CheckPINCode");
  return S_OK;
}

HRESULT KeyHandle::CheckPINCode(const char* pszDevName, DWORD dwPINType, const char* pszPIN) {
  MR_TRACE("KeyHandle::CheckPINCode");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF(pszPIN == NULL, L"Check pszPIN", E_INVALIDARG);
  PinState state;
  HRESULT hResult = ReadPinState(pszDevName, dwPINType, true, &state, MR_TRACE_FUNCTION);
  if (hResult != S_OK) {
    return hResult;
  }
  hResult = g_pDeviceHandle->CheckPIN(pszDevName, dwPINType, pszPIN,
                                      static_cast<DWORD>(std::strlen(pszPIN)),
                                      static_cast<int>(state.dwLeftTimes), kConfirmOnToken);
  MR_FAIL_IF(hResult != S_OK, L"CheckPIN", HRESULT_FROM_TOKEN_ERROR(hResult));
  MR_LOG_STEP(L"CheckPINCode");
  return S_OK;
}

HRESULT KeyHandle::ModifyPINWithTip(const char* pszDevName, DWORD dwPINType, const BYTE* pbyOldPIN,
                                    DWORD dwOldPINSize, const BYTE* pbyNewPIN,
                                    DWORD dwNewPINSize) {
  MR_TRACE("KeyHandle::ModifyPINWithTip");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_FAIL);
  MR_FAIL_IF(pbyOldPIN == NULL, L"Check pbyOldPIN", E_FAIL);
  MR_FAIL_IF(dwOldPINSize <= 0, L"Check dwOldPINSize", E_FAIL);
  MR_FAIL_IF(pbyNewPIN == NULL, L"Check pbyNewPIN", E_FAIL);
  MR_FAIL_IF(dwNewPINSize <= 0, L"Check dwNewPINSize", E_FAIL);
  PinState state;
  HRESULT hResult = ReadPinState(pszDevName, dwPINType, false, &state, MR_TRACE_FUNCTION);
  if (hResult != S_OK) {
    return hResult;
  }
  MR_FAIL_IF(state.dwLeftTimes == 0, L"Check pin locked", SCARD_W_CHV_BLOCKED);
  // With three tries or fewer the change waits for the token's button under
  // a confirmation that shows the tries left.
  hResult = g_pDeviceHandle->ModifyPIN(
      pszDevName, dwPINType, reinterpret_cast<const char*>(pbyOldPIN), dwOldPINSize,
      reinterpret_cast<const char*>(pbyNewPIN), dwNewPINSize,
      static_cast<int>(state.dwLeftTimes), kConfirmOnToken);
  MR_FAIL_IF(FAILED(hResult), L"ModifyPIN", hResult);
  MR_LOG_STEP(L"ModifyPINWithTip");
  return S_OK;
}

}  // namespace merro::provider
