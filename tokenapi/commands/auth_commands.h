// External authentication of the host to the token and the session key of
// secure messaging.
//
// External authentication: the token sends an 8-byte challenge, the host
// returns it encrypted with two-key triple DES (CBC, zero IV, one padding
// block: 16 bytes) under the key of the key id (extern_auth_keys.h).
//
// Session key: the host draws a 16-byte transport key, sends it under the
// token's temporary SM2 public key (key file 0x0012) and receives the
// session key SM4-CBC-encrypted under the transport key. The session key
// then protects every class 0xB4 command of the context (secure messaging).
#pragma once

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "tokenapi/commands/extern_auth_keys.h"
#include "tokenapi/transport/device_ctx.h"

// Key file of the token's temporary SM2 key pair.
constexpr WORD MR_TEMP_SM2_KEY_FID = 0x0012;
constexpr DWORD MR_SM2_PUBKEY_LEN = 64;          // x then y
constexpr DWORD MR_EXTERN_CHALLENGE_LEN = 8;
constexpr DWORD MR_EXTERN_CRYPTOGRAM_LEN = 16;
constexpr DWORD MR_TRANSPORT_KEY_LEN = 16;
constexpr DWORD MR_WRAPPED_TRANSPORT_KEY_LEN = 113;  // 04 || x1 || y1 || C2 || C3
constexpr DWORD MR_WRAPPED_SESSION_KEY_LEN = 32;
constexpr DWORD MR_SESSION_KEY_MIN = 16;             // what SM4 reads of the key

// One external authentication with the 16-byte key pKey for key id nKeyId
// (P1 0x00 for MR_KEY_EXTERN, 0x01 for any other id).
HRESULT mr_ExternalAuth(DEV_CTX* pDevCtx, const BYTE* pKey, BYTE nKeyId);

// External authentication with MR_KEY_EXTERN (derived from the chip serial
// number) or MR_KEY_EXTERN_CFG; any other id is 0x80070210, nothing sent.
HRESULT mr_AutoExternalAuth(DEV_CTX* pDevCtx, BYTE nAuthType);

// The temporary SM2 public key (x then y, 64 bytes) of key file 0x0012.
HRESULT mr_ExportTempPubKey(DEV_CTX* pDevCtx, BYTE* pPubKey);

// Sets a fresh session key: on success the context holds it and secure
// messaging is on (bySMState 2). On any failure the context keeps its
// earlier state, key and length.
HRESULT mr_SetSessionKey(DEV_CTX* pDevCtx);

namespace merro::commands {

// MR_KEY_EXTERN of a token: the first 16 bytes of the two-key triple-DES
// CBC encryption (zero IV) of MD5(chip serial number) under the
// configuration key. Steps "Hash_Digest" (folded error), "SymEncryptInit"
// (0x80070206), "SymEncryptUpdate" and "SymEncryptFinal" (0x80070207) are
// logged as steps of the calling routine `scope`. pKey receives 16 bytes.
HRESULT DeriveExternKey(const TraceHelper& scope, DEV_CTX* pDevCtx, const BYTE* pChipSN,
                        DWORD nChipSNLen, BYTE* pKey);

}  // namespace merro::commands
