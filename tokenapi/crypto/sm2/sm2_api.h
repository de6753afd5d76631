// SM2 front ends of the token library: key generation, the Z value,
// verification and encryption with 32-byte big-endian key and value forms.
// Results are the library's error codes, 0 for success.
#pragma once

#include "foundation/platform.h"

namespace merro::crypto {

// pKeyPair: 96 bytes, x (0-31), y (32-63), d (64-95).
HRESULT SM2_GenKey(BYTE* pKeyPair);

// Z of a 64-byte public key (x then y) with the default identity, on the
// recommended curve's values; pZ receives 32 bytes.
HRESULT SM2_GetZVal(const BYTE* pPubKey, BYTE* pZ);

// Digest form: pDigest is the 32-byte e; the signature is r then s (64 bytes).
// 0 when the signature holds, 0x80090006 when it does not, 0x80070057 for a
// bad argument.
HRESULT SM2_Verify(const BYTE* pPubKey, const BYTE* pDigest, const BYTE* pRawSignatureRS,
                   DWORD nRawSignatureRSSize);

// Message form: e = SM3(Z || data) with Z of the public key, then as above.
HRESULT SM2_Verify(const BYTE* pPubKey, const BYTE* pData, DWORD nDataLen,
                   const BYTE* pRawSignatureRS, DWORD nRawSignatureRSSize);

// Raw ciphertext 0x04 || x1 || y1 || C2 || C3 of nInLen (at least 1) bytes
// into pOut, which must hold nInLen + 97 bytes; *pOutLen = nInLen + 97.
HRESULT SM2_Encrypt(const BYTE* pPubKey, const BYTE* pIn, DWORD nInLen, BYTE* pOut,
                    DWORD* pOutLen);

}  // namespace merro::crypto
