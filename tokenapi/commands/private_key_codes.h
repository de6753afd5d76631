// Result codes and limits shared by the commands that use a private key
// kept on the token and by the device key objects above them.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/crypto/sm2/sm2_sizes.h"

// The user pressed C on the token's display.
constexpr HRESULT MR_E_KEY_CANCELLED = static_cast<HRESULT>(0x8000FF06);
// The token waited in vain for a button.
constexpr HRESULT MR_E_KEY_TIMEOUT = static_cast<HRESULT>(0x8000FF07);
// The token's digest or signature of a hashing sequence is not over the
// data the key context fed it: another sequence (another process or
// thread) ran on the token in between. The outputs are wiped.
constexpr HRESULT MR_E_SIGN_DATA_MISMATCH = static_cast<HRESULT>(0x80070213);
// A hash type the RSA commands do not know.
constexpr HRESULT MR_E_INVALID_HASH_TYPE = static_cast<HRESULT>(0x8007020B);

// Message and hash data travel in pieces of this many bytes; the raw RSA
// input in pieces of 128.
constexpr DWORD MR_SIGN_PIECE_LEN = 224;
constexpr DWORD MR_RSA_RAW_PIECE_LEN = 128;

constexpr DWORD MR_SM2_DIGEST_LEN = 32;
constexpr DWORD MR_SM2_SIGNATURE_LEN = 64;  // r || s
// Raw SM2 ciphertext: 0x04 || x1 || y1 (65 bytes), C2, C3 (32 bytes).
constexpr DWORD MR_SM2_CIPHER_OVERHEAD = static_cast<DWORD>(merro::crypto::kSm2CipherOverhead);
// Longest SM2 ciphertext one decryption frame carries: in clear, and under
// secure messaging.
constexpr DWORD MR_SM2_CIPHER_MAX_CLEAR = 250;
constexpr DWORD MR_SM2_CIPHER_MAX_PROTECTED = 238;
