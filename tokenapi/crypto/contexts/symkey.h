// Software cipher contexts: one init / update / final discipline over DES,
// two- and three-key triple DES, RC4 and SM4, chosen by algorithm number
// (algorithms.h).
//
// Output lengths: every update and final takes the room of its output
// buffer in *pdwOutDataLen and returns the bytes written there. When the
// room is short the result is 0x80070003 and *pdwOutDataLen holds the bytes
// needed; an update then changes nothing.
//
// An update needs room for the waiting bytes plus the new input, rounded
// down to the block size (a decrypting update writes one block less); an
// encrypting final needs one block; a decrypting final needs at most one
// block less one byte.
#pragma once

#include <memory>
#include <variant>

#include "foundation/platform.h"
#include "tokenapi/crypto/des/des.h"
#include "tokenapi/crypto/rc4/rc4.h"
#include "tokenapi/crypto/sm4/sm4.h"

namespace merro::crypto {

// The algorithm state behind a cipher context.
using SymKeyState = std::variant<std::monostate, MR_DES_CTX, MR_RC4_KEY, SM4_CTX>;

struct SYMKEY_CTX {
  std::unique_ptr<SymKeyState> pKeyState;
  BYTE algtype = 0;
};

// Key bytes read by each cipher.
constexpr DWORD kRc4KeyBytes = 16;

// A new, not yet keyed state for algorithm 2, 3, 4 (DES context), 8 (RC4) or
// 19 (SM4); null for any other number or when memory runs out.
std::unique_ptr<SymKeyState> NewSymKey(BYTE algorithm);

// Make a context for one direction and store it in *ppCipherCtx. pKey holds
// 8, 16, 24, 16 or 16 key bytes for algorithms 2, 3, 4, 8 and 19; pIV is null
// (zeros) or 8 (DES) or 16 (SM4) bytes; nMode 1 is ECB, any other value CBC.
// On failure nothing is stored.
HRESULT SymEncryptInit(SYMKEY_CTX** ppCipherCtx, BYTE algorithm, BYTE nMode, const BYTE* pKey,
                       const BYTE* pIV);
HRESULT SymDecryptInit(SYMKEY_CTX** ppCipherCtx, BYTE algorithm, BYTE nMode, const BYTE* pKey,
                       const BYTE* pIV);

// Both forward to SymCipherUpdate: the direction lives in the state.
HRESULT SymEncryptUpdate(SYMKEY_CTX* pCipherCtx, const BYTE* pSourceData, DWORD dwSourceDataLen,
                         BYTE* pOutData, DWORD* pdwOutDataLen);
HRESULT SymDecryptUpdate(SYMKEY_CTX* pCipherCtx, const BYTE* pSourceData, DWORD dwSourceDataLen,
                         BYTE* pOutData, DWORD* pdwOutDataLen);
HRESULT SymCipherUpdate(SYMKEY_CTX* pCipherCtx, const BYTE* pSourceData, DWORD dwSourceDataLen,
                        BYTE* pOutData, DWORD* pdwOutDataLen);

// Both forward to SymCipherFinal, which ends the context (frees it and its
// state) on every path.
HRESULT SymEncryptFinal(SYMKEY_CTX* pCipherCtx, BYTE* pOutData, DWORD* pdwOutDataLen);
HRESULT SymDecryptFinal(SYMKEY_CTX* pCipherCtx, BYTE* pOutData, DWORD* pdwOutDataLen);
HRESULT SymCipherFinal(SYMKEY_CTX* pCipherCtx, BYTE* pOutData, DWORD* pdwOutDataLen);

}  // namespace merro::crypto
