// SM2 commands that use the private key of a key file on the token:
// decryption, signature of a finished digest, and signature with the
// hashing done by the token (start, data, end of data, signature).
//
// The hashing sequence keeps its progress on the token between calls:
//   mr_SM2SignDataInit(ctx, fid);                 // Z from the key and the default identity
//   mr_SM2SignDataUpdate(ctx, data, n);           // any number of times
//   mr_SM2SignDataFinal(ctx, digest, &len);       // the 32-byte e
//   mr_SelectFile(ctx, 0x20, fid, ...);           // the key signs
//   mr_SM2SignDataResult(ctx, sig, &siglen);      // r || s
//
// Output lengths are capacity in, length out. Results: 0, the folded result
// of the failing exchange (status words as 0x8000xxxx), 0x80070003 for an
// output buffer below what the token returns, 0x80070004 for a length the
// frame cannot carry, 0x80070001 for a null argument.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/commands/private_key_codes.h"
#include "tokenapi/transport/device_ctx.h"

// nInlen: the raw ciphertext 04 || x1 || y1 || C2 || C3, 98 bytes up to the
// frame limit (250 in clear, 238 under secure messaging). *pOutLen is
// written on success only.
HRESULT mr_SM2Decrypt(DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pInbuf, DWORD nInlen,
                      BYTE* pOutbuf, DWORD* pOutLen);
// nInlen must be 32; the signature needs 64 bytes.
HRESULT mr_SM2SignDigest(DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pInbuf, DWORD nInlen,
                         BYTE* pSignbuf, DWORD* pSignlen);

HRESULT mr_SM2SignDataInit(DEV_CTX* pDevCtx, WORD wKeyFID);
// nInlen 0 sends nothing.
HRESULT mr_SM2SignDataUpdate(DEV_CTX* pDevCtx, const BYTE* pInbuf, DWORD nInlen);
// *pDigestlen is 32 on every return.
HRESULT mr_SM2SignDataFinal(DEV_CTX* pDevCtx, BYTE* pDigestbuf, DWORD* pDigestlen);
// *pSignlen is the reply length on success and 64 on every failure.
HRESULT mr_SM2SignDataResult(DEV_CTX* pDevCtx, BYTE* pSignbuf, DWORD* pSignlen);
