// Public token API: key pairs in the token's key files and the
// certificates of its containers.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/commands/cert_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/transport/device_ctx.h"

// Generates a key pair of nAlgType (MR_ALG_RSA1024, MR_ALG_RSA2048,
// MR_ALG_SM2) in wKeyFID; pPubKey receives the public key (an RSA_KEY, or
// 64 bytes x then y for SM2).
HRESULT GenerateKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pPubKey);
// Imports a key pair (clear RSA-1024, wrapped RSA-2048 with its wrapped
// key pSymKey, wrapped SM2 of nKeyLen bytes).
HRESULT ImportKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const BYTE* pKey,
                      DWORD nKeyLen, const BYTE* pSymKey);
// Imports a key pair in clear: an RSA_KEY or an SM2_KEY.
HRESULT ImportKeyPairEx(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey);
HRESULT ExportPublicKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pKey);
// A DER certificate (at most 2048 bytes) into a container's certificate
// file CertFID, and back.
HRESULT ImportCert(DEV_CTX* pDevCtx, WORD CertFID, const BYTE* pInbuf, DWORD nInlen);
HRESULT ExportCert(DEV_CTX* pDevCtx, WORD CertFID, BYTE* pOutbuf, DWORD* pOutlen);
