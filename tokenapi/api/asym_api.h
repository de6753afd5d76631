// Public token API: key contexts on the token's key pairs, with signing,
// decryption, encryption and verification.
//
// AsymKeyInit makes a key context bound to its DEV_CTX (which must outlive
// it) and takes the device mutex; the operations on a key context take no
// mutex themselves: the key object holds its token's mutex around each of
// its token commands. AsymKeyFinal destroys the context.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/commands/private_key_codes.h"
#include "tokenapi/transport/device_ctx.h"

// nKeyType: 1 or 7 (RSA-1024 / RSA-2048), 0x11 (SM2); wKeyFID: the key file.
HRESULT AsymKeyInit(DEV_CTX* pDevCtx, BYTE nKeyType, WORD wKeyFID, void** ppKeyCtx);
HRESULT AsymKeyFinal(void* pKeyCtx);
// The token context a key context was made on; null for a null context.
const DEV_CTX* AsymKeyDevCtx(const void* pKeyCtx);
// Signs pDispbuf after the user confirmed it on the token's display.
HRESULT SignXML(void* pKeyCtx, BYTE nHashType, const BYTE* pDispbuf, DWORD nDisplen,
                BYTE* pSignbuf, DWORD* pSignlen);
// Signing with the hash computed on the token: DigestInit, any number of
// DigestUpdate, DigestFinal (the digest), SignDataResult (the signature).
HRESULT DigestInit(void* pKeyCtx, BYTE nHashType);
HRESULT DigestUpdate(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen);
HRESULT DigestFinal(void* pKeyCtx, BYTE* pDigestbuf, DWORD* pDigestlen);
HRESULT SignDataResult(void* pKeyCtx, BYTE* pSignbuf, DWORD* pSignlen);
// Signs a finished digest.
HRESULT SignDigest(void* pKeyCtx, const BYTE* pDigest, DWORD nDigestLen, BYTE* pSignbuf,
                   DWORD* pSignlen);
HRESULT PrikeyDec(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutlen);
// Verifies on the host with the public key read from the token.
HRESULT VerifySignature(void* pKeyCtx, BYTE nHashType, const BYTE* pDigestbuf, DWORD nDigestLen,
                        const BYTE* pSignbuf, DWORD nSignlen);
HRESULT PubkeyEnc(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutlen);
