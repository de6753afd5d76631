// The token's asymmetric key files and its secret-key objects: generation,
// public-key export, clear and wrapped import, and WRITE KEY. Callers hold
// the device mutex for the whole sequence (select, key commands, record
// update). Generation and import into a container key file also set the
// file's bit in the container record (0x04 sign key on generation, 0x01
// exchange key on import).
#pragma once

#include "foundation/alg_ids.h"
#include "foundation/platform.h"
#include "tokenapi/commands/extern_auth_keys.h"
#include "tokenapi/crypto/rsa/rsa_key.h"
#include "tokenapi/transport/device_ctx.h"

// Key ids of the token's PIN objects (the key type of WRITE KEY); the two
// external-authentication key ids are in extern_auth_keys.h.
constexpr BYTE MR_KEY_USER_PIN = 0x30;
constexpr BYTE MR_KEY_ADMIN_PIN = 0x31;
constexpr BYTE MR_KEY_UNLOCK_PIN = 0x32;

constexpr DWORD MR_RSA_MAX_LEN = 256;
constexpr DWORD MR_RSA1024_LEN = 128;
constexpr DWORD MR_RSA2048_LEN = 256;
constexpr DWORD MR_SM2_COORD_LEN = 32;
constexpr DWORD MR_WRAPPED_RSA_SYMKEY_LEN = 128;
constexpr DWORD MR_WRAPPED_RSA_KEYPAIR_LEN = 640;
constexpr DWORD MR_KEY_RECORD_LEN = 21;   // WRITE KEY data
constexpr DWORD MR_KEY_VALUE_LEN = 16;

// RSA_KEY (n, nLen, e, eLen, d, dLen) is the record of the host's RSA code.
static_assert(sizeof(RSA_KEY::n) == MR_RSA_MAX_LEN, "RSA_KEY holds 2048-bit keys");

// An SM2 key pair, each part big-endian.
struct SM2_KEY {
  BYTE x[MR_SM2_COORD_LEN];
  BYTE y[MR_SM2_COORD_LEN];
  BYTE d[MR_SM2_COORD_LEN];
};
static_assert(sizeof(SM2_KEY) == 96, "SM2_KEY is 96 bytes");

// Generates a key pair of nAlgType (MR_ALG_RSA1024, MR_ALG_RSA2048,
// MR_ALG_SM2) in key file wKeyFID. pPubKey null: nothing more (no export, no
// record update). Else the public key is exported into it (an RSA_KEY, or
// 64 bytes x then y for SM2) and a container sign key file gets its bit.
HRESULT mr_GenerateKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pPubKey);

// Reads the public key of key file wKeyFID into pPubKey (an RSA_KEY: n, nLen,
// e, eLen; or 64 bytes x then y for SM2).
HRESULT mr_ExportPublicKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pPubKey);

// Imports a key pair into wKeyFID. MR_ALG_RSA1024: pKey is an RSA_KEY in
// clear. MR_ALG_RSA2048: pKey is the 640-byte wrapped key pair and pSymKey
// its 128-byte wrapped key. MR_ALG_SM2: pKey is a wrapped SM2 key pair of
// nKeyLen bytes (1 to 255). A container exchange key file gets its bit.
HRESULT mr_ImportKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const BYTE* pKey,
                         DWORD nKeyLen, const BYTE* pSymKey);

// Imports a key pair in clear (pKey: RSA_KEY for types 1 and 7, SM2_KEY for
// 0x11): private part, then public part. A container exchange key file gets
// its bit.
HRESULT mr_ImportKeyPairEx(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey);

// Writes the private part of pKey (RSA_KEY: d and n; SM2_KEY: d). The RSA
// modulus is 128 or 256 bytes and d at most as long (sent right-aligned to
// the modulus length); else 0x80070210.
HRESULT mr_ImportPrivateKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey);

// Writes the public part of pKey (RSA_KEY: n, whose exponent must be 65537,
// the one the token stores; SM2_KEY: x and y); else 0x80070210.
HRESULT mr_ImportPublicKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey);

// Writes one secret-key object into the selected file: nKeyType 0x30 to
// 0x32 store the MD5 of the nKeyLen PIN bytes, 0x33 and 0x34 the key bytes
// zero-filled to 16 (nKeyLen at most 16); byRetry is the retry limit.
HRESULT mr_WriteKey(DEV_CTX* pDevCtx, BYTE nKeyType, const BYTE* pKey, DWORD nKeyLen,
                    BYTE byRetry);
