// One whole message through a software cipher handle, CBC with a zero IV:
// mr_SymKeyInit, one mr_SymKeyUpdate, then mr_SymKeyFinal behind the
// update's output. Shared by secure messaging, external authentication and
// the session-key set-up, which all log the same three steps.
#pragma once

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::apdu {

// The result each failing step reports; 0 passes on the step's own folded
// result.
struct CipherFailureCodes {
  HRESULT init;
  HRESULT update;
  HRESULT final;
};

// Encrypts (encrypt true) or decrypts nInLen bytes with algorithm nAlg and
// the key pKey into pOut (room nOutCap). The steps are logged under scope as
// "SymEncryptInit", "SymEncryptUpdate", "SymEncryptFinal" (or "SymDecrypt..."),
// each with its result. *pOutLen receives the bytes produced, also on a
// failure of the update or the final (what was produced before it).
HRESULT RunCbcCipher(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE nAlg, bool encrypt,
                     const BYTE* pKey, const BYTE* pIn, DWORD nInLen, BYTE* pOut, DWORD nOutCap,
                     DWORD* pOutLen, const CipherFailureCodes& codes);

}  // namespace merro::apdu
