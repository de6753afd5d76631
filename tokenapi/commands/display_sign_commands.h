// Signature of a message that the token shows on its display and signs only
// after the user has pressed OK: the message goes to the token unchanged in
// pieces, then the host asks for the result every 100 ms while the token
// answers that it is still waiting (0xFF05, 0xFF11, 0xFF12, 0xFF13).
//
// Results: 0 with the signature, MR_E_KEY_CANCELLED when the user pressed C,
// MR_E_KEY_TIMEOUT when the token gave up waiting or when the host stopped
// asking after kMaxResultPolls rounds, the folded result of a failing
// exchange, 0x8007020B for a refused hash type, 0x80070003 for a signature
// buffer below the key's signature length (checked before anything is
// sent), 0x80070001 for a null argument.
#pragma once

#include <functional>

#include "foundation/platform.h"
#include "tokenapi/commands/private_key_codes.h"
#include "tokenapi/transport/device_ctx.h"

// SM2 with SM3 over Z (default identity) and the message; 64-byte r || s.
HRESULT mr_SM2SignXML(DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pDispbuf, DWORD nDisplen,
                      BYTE* pSignbuf, DWORD* pSignlen);
// RSA PKCS#1 v1.5 with SHA-256 (the only hash type accepted); 128 or 256 bytes.
HRESULT mr_RSASignXML(DEV_CTX* pDevCtx, WORD wKeyFID, BYTE byKeyType, BYTE byHashType,
                      const BYTE* pDispbuf, DWORD nDisplen, BYTE* pSignbuf, DWORD* pSignlen);

namespace merro::commands {

// The pause before every result poll, and the bound on the number of polls:
// five minutes of 100 ms pauses. The display signature holds the device
// mutex while it polls, so a token stuck in a waiting state must not hang
// every process that waits for it.
constexpr DWORD kResultPollIntervalMs = 100;
constexpr DWORD kMaxResultPolls = 3000;

// Replaces the pause between polls (tests); an empty function restores
// Sleep. Not to be called while a display signature is under way.
void SetResultPollSleep(std::function<void(DWORD)> sleep);

}  // namespace merro::commands
