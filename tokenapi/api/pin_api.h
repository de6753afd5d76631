// Public token API: PINs, the host's external authentication and the
// session key of secure messaging.
//
// Every PIN length lies between 6 and 16 bytes; a length outside fails its
// check before anything is sent. A wrong PIN is 0x800063Cx (x tries left).
#pragma once

#include "foundation/platform.h"
#include "tokenapi/commands/pin_command_codes.h"
#include "tokenapi/transport/device_ctx.h"

constexpr BYTE MR_PIN_LEN_MIN = 6;
constexpr BYTE MR_PIN_LEN_MAX = 16;

HRESULT VerifyPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pPin, BYTE nPinLen);
HRESULT ChangePIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pOldPin, BYTE nOldPinLen,
                  const BYTE* pNewPin, BYTE nNewPinLen);
// Sets a new PIN of byPinType with the administrator PIN.
HRESULT UnlockPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pAdminPin, BYTE nAdminPinLen,
                  const BYTE* pNewPin, BYTE nNewPinLen);
// Tries left, the token's state byte of the PIN, whether it was changed.
HRESULT GetPINStatus(DEV_CTX* pDevCtx, BYTE byPinType, BYTE* pTimes, BYTE* pStatus,
                     BYTE* pModified);

// External authentication with key nAuthType (0x33 or 0x34).
HRESULT ExternalAuth(DEV_CTX* pDevCtx, BYTE nAuthType);
// A fresh session key; afterwards class 0xB4 commands travel protected.
HRESULT SetSessionKey(DEV_CTX* pDevCtx);
