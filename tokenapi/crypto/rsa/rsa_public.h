// RSA public-key operations on the host (OpenSSL big numbers): the raw
// operation, PKCS#1 v1.5 encryption (block type 2) and PKCS#1 v1.5
// signature verification against a given digest (RFC 8017).
#pragma once

#include <openssl/bn.h>

#include "foundation/platform.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace merro::crypto {

// Padding modes of RSA_Encrypt: 1 = PKCS#1 v1.5 block type 2; any other
// value = none (callers pass 3).
constexpr DWORD MR_RSA_PKCS1_PADDING = 1;
constexpr DWORD MR_RSA_NO_PADDING = 3;

// x^e mod n for the big-endian input x (at most k = BN_num_bytes(n) bytes,
// below n). Writes exactly k bytes, zero-filled on the left, and returns k;
// -1 when refused: n above 16384 bits, n not above e, n above 3072 bits with
// e above 64 bits, bad input, or a big-number failure.
int RSA_eay_public_decrypt(DWORD inLen, const BYTE* in, BYTE* out, const BIGNUM* n,
                           const BIGNUM* e);

// The raw operation under an RSA_KEY public key; out takes the key's nLen
// bytes. Returns 1 on success (not 0), else an HRESULT-style code.
HRESULT RSA_PublicEncrypt(const BYTE* in, DWORD inLen, BYTE* out, DWORD* pOutLen,
                          const RSA_KEY* key);

// Encrypts with PKCS#1 v1.5 padding (mode 1) or raw (other modes); out takes
// nLen bytes. 0 or an HRESULT-style code.
HRESULT RSA_Encrypt(const RSA_KEY* key, const BYTE* plain, DWORD plainLen, BYTE* out,
                    DWORD* pOutLen, DWORD padding);

// Checks a PKCS#1 v1.5 signature over the digest of hash type 10 (MD5), 11
// (SHA-1), 12 (SHA-256), 13 (SHA-512) or 14 (SHA-1 then MD5, 36 bytes, no
// DigestInfo). The signature must be exactly nLen bytes long. 0 when it
// matches, else an HRESULT-style code.
HRESULT RSA_Verify(const RSA_KEY* key, DWORD hashType, const BYTE* digest, const BYTE* signature,
                   DWORD signatureLen);

}  // namespace merro::crypto
