// RSA commands that use the private key of a key file on the token: the
// raw private-key operation and the signature with the hashing done by the
// token (start, data, end of data, signature).
//
// Output lengths are capacity in, length out. Results: 0, the folded result
// of the failing exchange (status words as 0x8000xxxx), 0x8007020B for a
// hash type outside the token's table, 0x80070003 for an output buffer
// below what the token returns, 0x80070004 for an input of the wrong
// length, 0x80070001 for a null argument.
#pragma once

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "tokenapi/commands/private_key_codes.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::commands {

// The token's code and digest length of a host hash type. SHA-256 has a
// token code for display signing only; forHashing refuses it.
struct TokenHashCode {
  BYTE code;
  BYTE digestLen;
};
bool LookupTokenHash(BYTE byHashType, bool forHashing, TokenHashCode* pOut);

// 1 for MR_ALG_RSA2048, else 0: the key size flag of the RSA commands.
constexpr BYTE KeySizeFlag(BYTE byKeyType) { return byKeyType == 7 ? 1 : 0; }
// 256 for MR_ALG_RSA2048, else 128.
constexpr DWORD ModulusLenOf(BYTE byKeyType) { return byKeyType == 7 ? 256 : 128; }

// After the first 128 result bytes are in pOut (the frame with P1 0x03, P2
// 0x00 of instruction ins): for a 2048-bit key reads the second 128 bytes
// (P2 0x80) into pOut + 128. *pOutLen becomes 128 or 256; a failure wipes
// the first half and sets it to 0.
HRESULT FinishRsaResult(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, BYTE byKeyType,
                        BYTE* pOut, DWORD* pOutLen);

}  // namespace merro::commands

// x^d mod n of the key in wKeyFID for an input of the modulus length
// (128 bytes, or 256 for key type 7), sent and returned unchanged.
HRESULT mr_RSAPriKeyRaw(DEV_CTX* pDevCtx, WORD wKeyFID, BYTE byKeyType, const BYTE* pInbuf,
                        DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen);

// *pDigestLen receives the digest length of the hash type before the frame
// is sent; a refused hash type leaves it untouched.
HRESULT mr_RSASignDataInit(DEV_CTX* pDevCtx, BYTE byHashType, BYTE* pDigestLen);
// nInlen 0 sends nothing.
HRESULT mr_RSASignDataUpdate(DEV_CTX* pDevCtx, const BYTE* pInbuf, DWORD nInlen);
// byDigestLen: what mr_RSASignDataInit returned. *pDigestlen is byDigestLen
// on every return.
HRESULT mr_RSASignDataFinal(DEV_CTX* pDevCtx, BYTE byDigestLen, BYTE* pDigestbuf,
                            DWORD* pDigestlen);
// PKCS#1 v1.5 signature over the digest of the sequence with the key in
// wKeyFID: 128 bytes, or 256 for key type 7.
HRESULT mr_RSASignDataResult(DEV_CTX* pDevCtx, WORD wKeyFID, BYTE byKeyType, BYTE* pSignbuf,
                             DWORD* pSignlen);
