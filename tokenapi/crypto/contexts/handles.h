// Device-level symmetric and hash handles of the token API. They carry the
// device context but run on the host; only the hardware symmetric
// operation (hw_symkey.h) talks to the token.
//
// Output lengths follow the contexts (symkey.h, hash.h): the room of the
// output buffer in, the bytes written out.
#pragma once

#include <memory>

#include "foundation/platform.h"
#include "tokenapi/crypto/contexts/hash.h"
#include "tokenapi/crypto/contexts/symkey.h"

struct DEV_CTX;

struct SymKeyCtxDeleter {
  void operator()(merro::crypto::SYMKEY_CTX* ctx) const;
};
struct HashCtxDeleter {
  void operator()(merro::crypto::HASH_CTX* ctx) const;
};

// What SymKeyInit hands out. A cipher context that no final consumed is
// freed with the handle.
struct SYMKEY_HANDLE {
  DEV_CTX* pDevCtx = nullptr;  // stored only
  std::unique_ptr<merro::crypto::SYMKEY_CTX, SymKeyCtxDeleter> pCipherCtx;
  BYTE nCryptFlag = 0;  // MR_CRYPTO_ENC or MR_CRYPTO_DEC
};

// What HashInit hands out. A hash context that no final consumed is freed
// with the handle.
struct HASH_HANDLE {
  DEV_CTX* pDevCtx = nullptr;  // stored only: hashing runs on the host
  std::unique_ptr<merro::crypto::HASH_CTX, HashCtxDeleter> pHashCtx;
  BYTE nHashType = 0;
};

// nCryptFlag 1 encrypts, 2 decrypts (0x80070209 otherwise). On failure
// nothing is stored in *ppKeyCtx.
HRESULT mr_SymKeyInit(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nCryptFlag, BYTE nMode,
                      const BYTE* pKey, const BYTE* pIV, SYMKEY_HANDLE** ppKeyCtx);
HRESULT mr_SymKeyUpdate(SYMKEY_HANDLE* pKeyCtx, const BYTE* pInData, DWORD nInLen,
                        BYTE* pOutData, DWORD* pOutLen);
// Ends the handle (and its cipher context) on every path.
HRESULT mr_SymKeyFinal(SYMKEY_HANDLE* pKeyCtx, BYTE* pOutData, DWORD* pOutLen);

HRESULT mr_HashInit(DEV_CTX* pDevCtx, BYTE nHashType, HASH_HANDLE** ppHashCtx);
HRESULT mr_HashUpdate(HASH_HANDLE* pHashCtx, const BYTE* pData, DWORD nLen);
// Ends the handle (and its hash context) on every path.
HRESULT mr_HashFinal(HASH_HANDLE* pHashCtx, BYTE* pDigest, DWORD* pDigestLen);
