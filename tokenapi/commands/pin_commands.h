// The token's PIN commands and its random-number command.
//
// A PIN never travels in clear: the token keeps MD5(PIN), the host fetches a
// fresh 16-byte challenge and proves the PIN with MD5(MD5(PIN) || challenge).
// A new PIN travels as MD5(new PIN) behind the proof. The PIN commands are
// class 0xB4, so with a session key set their data travel encrypted.
//
// The functions check none of their pointers (the public token API does).
// Each returns 0 or a folded error; a wrong PIN is 0x800063Cx, x the tries
// left (0x800063C0: now blocked).
#pragma once

#include "foundation/platform.h"
#include "tokenapi/commands/pin_command_codes.h"
#include "tokenapi/transport/device_ctx.h"

constexpr BYTE MR_PIN_CHALLENGE_LEN = 16;
constexpr DWORD MR_PIN_DIGEST_LEN = 16;

// GET CHALLENGE: nRandlen (at most 128, else 0x80070001 and nothing sent)
// random bytes from the token into pRandom. A reply shorter than asked
// fails with 0x8007000D and leaves pRandom untouched.
HRESULT mr_GenRandom(DEV_CTX* pDevCtx, BYTE nRandlen, BYTE* pRandom);

// VERIFY PIN with a fresh challenge.
HRESULT mr_VerifyPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pPin, BYTE nPinLen);

// CHANGE PIN: proof of the current PIN, then MD5 of the new one.
HRESULT mr_ChangePIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pOldPin, BYTE nOldPinLen,
                     const BYTE* pNewPin, BYTE nNewPinLen);

// UNLOCK PIN: proof of the administrator PIN (pOldPin, nAdminPinLen), then
// MD5 of the new PIN of byPinType, whose tries the token resets.
HRESULT mr_UnlockPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pOldPin, BYTE nAdminPinLen,
                     const BYTE* pNewPin, BYTE nNewPinLen);

// PIN STATUS: tries left, the token's state byte for the PIN and whether it
// was changed from its factory value. A reply shorter than the bytes used
// fails with 0x8007000D; outputs already written stay written.
HRESULT mr_GetPINStatus(DEV_CTX* pDevCtx, BYTE byPinType, BYTE* pTimes, BYTE* pStatus,
                        BYTE* pModified);
