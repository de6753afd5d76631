// Translation between CryptoAPI's key and hash vocabulary and the token's.
#pragma once

#include "foundation/alg_ids.h"
#include "foundation/platform.h"

struct CONTAINER_RECORD;

// The key length codes a container record holds, with the key type and the
// key size each stands for: 0 SM2 (256 bits), 1 RSA-1024, 2 RSA-2048.
struct KeyLengthCode {
  BYTE byCode;
  BYTE byKeyType;
  DWORD dwKeyBits;
};
// The row of a code, or of a key size; null when there is none (0xFF: no
// key; 4096 bits: no code).
const KeyLengthCode* FindKeyLengthCode(BYTE byCode);
const KeyLengthCode* FindKeyLengthCodeForBits(DWORD dwKeyBits);

// Token key type and key length of a container's exchange key
// (AT_KEYEXCHANGE) or signature key (AT_SIGNATURE), from its key length code:
// 0 SM2 (MR_ALG_SM2, 256 bits), 1 RSA-1024 (MR_ALG_RSA1024), 2 RSA-2048
// (MR_ALG_RSA2048); any other code (0xFF: no key) gives 0x8009000D.
// pdwKeyBits is optional; outputs are written only on success.
HRESULT GetKeyType(const CONTAINER_RECORD* pstContainer, DWORD dwAlgType, BYTE* pbyKeyType,
                   DWORD* pdwKeyBits);

// Token hash type of a CryptoAPI hash algorithm: MD5, SHA-1, SHA-256,
// SSL3 SHA-1+MD5 and SM3; any other identifier gives 0x80070057 and nothing
// is written.
HRESULT GetKeyHashType(ALG_ID ulHashAlg, BYTE* pbyHashType);
