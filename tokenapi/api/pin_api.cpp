#include "tokenapi/api/pin_api.h"

#include "tokenapi/api/entry_frame.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/pin_commands.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;
using merro::api::RunOnDevice;

namespace {

constexpr bool PinLenOk(BYTE n) { return n >= MR_PIN_LEN_MIN && n <= MR_PIN_LEN_MAX; }

}  // namespace

HRESULT VerifyPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pPin, BYTE nPinLen) {
  return RunEntryPoint("VerifyPIN",
                       {{L"CHECK pPin", pPin != nullptr},
                        {L"CHECK nPinLen", PinLenOk(nPinLen)},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_VerifyPIN",
                       [&] { return mr_VerifyPIN(pDevCtx, byPinType, pPin, nPinLen); });
}

HRESULT ChangePIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pOldPin, BYTE nOldPinLen,
                  const BYTE* pNewPin, BYTE nNewPinLen) {
  return RunEntryPoint(
      "ChangePIN",
      {{L"CHECK pOldPin", pOldPin != nullptr},
       {L"CHECK nOldPinLen", PinLenOk(nOldPinLen)},
       {L"CHECK pNewPin", pNewPin != nullptr},
       {L"CHECK nNewPinLen", PinLenOk(nNewPinLen)},
       {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_ChangePIN",
      [&] { return mr_ChangePIN(pDevCtx, byPinType, pOldPin, nOldPinLen, pNewPin, nNewPinLen); });
}

HRESULT UnlockPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pAdminPin, BYTE nAdminPinLen,
                  const BYTE* pNewPin, BYTE nNewPinLen) {
  // The administrator PIN is checked under the step text "CHECK pOldPin".
  return RunEntryPoint("UnlockPIN",
                       {{L"CHECK pOldPin", pAdminPin != nullptr},
                        {L"CHECK nAdminPinLen", PinLenOk(nAdminPinLen)},
                        {L"CHECK pNewPin", pNewPin != nullptr},
                        {L"CHECK nNewPinLen", PinLenOk(nNewPinLen)},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_UnlockPIN", [&] {
                         return mr_UnlockPIN(pDevCtx, byPinType, pAdminPin, nAdminPinLen, pNewPin,
                                             nNewPinLen);
                       });
}

HRESULT GetPINStatus(DEV_CTX* pDevCtx, BYTE byPinType, BYTE* pTimes, BYTE* pStatus,
                     BYTE* pModified) {
  return RunEntryPoint("GetPINStatus",
                       {{L"CHECK pTimes", pTimes != nullptr},
                        {L"CHECK pStatus", pStatus != nullptr},
                        {L"CHECK pModified", pModified != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_GetPINStatus", [&] {
                         return mr_GetPINStatus(pDevCtx, byPinType, pTimes, pStatus, pModified);
                       });
}

HRESULT ExternalAuth(DEV_CTX* pDevCtx, BYTE nAuthType) {
  return RunOnDevice("ExternalAuth", pDevCtx, L"mr_AutoExternalAuth",
                     [&] { return mr_AutoExternalAuth(pDevCtx, nAuthType); });
}

HRESULT SetSessionKey(DEV_CTX* pDevCtx) {
  return RunOnDevice("SetSessionKey", pDevCtx, L"mr_SetSessionKey",
                     [&] { return mr_SetSessionKey(pDevCtx); });
}
