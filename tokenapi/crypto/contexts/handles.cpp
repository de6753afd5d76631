#include "tokenapi/crypto/contexts/handles.h"

#include <new>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"

using namespace merro::crypto;

namespace {
// The step name of a handle's direction, or null for a flag that is
// neither MR_CRYPTO_ENC nor MR_CRYPTO_DEC.
const wchar_t* DirectionStep(BYTE nCryptFlag, const wchar_t* encrypt, const wchar_t* decrypt) {
  return nCryptFlag == MR_CRYPTO_ENC ? encrypt : nCryptFlag == MR_CRYPTO_DEC ? decrypt : nullptr;
}
}  // namespace

void SymKeyCtxDeleter::operator()(SYMKEY_CTX* ctx) const { delete ctx; }
void HashCtxDeleter::operator()(HASH_CTX* ctx) const { Hash_Free(ctx); }

HRESULT mr_SymKeyInit(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nCryptFlag, BYTE nMode,
                      const BYTE* pKey, const BYTE* pIV, SYMKEY_HANDLE** ppKeyCtx) {
  MR_TRACE("mr_SymKeyInit");
  MR_FAIL_IF(ppKeyCtx == nullptr, L"CHECK ppKeyCtx", kResultInvalidArg);
  std::unique_ptr<SYMKEY_HANDLE> handle(new (std::nothrow) SYMKEY_HANDLE);
  MR_FAIL_IF(!handle, L"new SYMKEY_HANDLE", kResultNoMemory);
  const wchar_t* step = DirectionStep(nCryptFlag, L"SymEncryptInit", L"SymDecryptInit");
  MR_FAIL_IF(step == nullptr, L"CHECK nCryptFlag", kResultBadCryptFlag);
  SYMKEY_CTX* cipher = nullptr;
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(
      nCryptFlag == MR_CRYPTO_ENC ? SymEncryptInit(&cipher, nAlgType, nMode, pKey, pIV)
                                  : SymDecryptInit(&cipher, nAlgType, nMode, pKey, pIV));
  MR_FAIL_IF(hr != S_OK, step, hr);
  handle->pCipherCtx.reset(cipher);
  handle->pDevCtx = pDevCtx;
  handle->nCryptFlag = nCryptFlag;
  *ppKeyCtx = handle.release();
  MR_LOG_STEP(step);
  return S_OK;
}


HRESULT mr_SymKeyUpdate(SYMKEY_HANDLE* pKeyCtx, const BYTE* pInData, DWORD nInLen,
                        BYTE* pOutData, DWORD* pOutLen) {
  MR_TRACE("mr_SymKeyUpdate");
  MR_FAIL_IF(pKeyCtx == nullptr, L"CHECK pKeyCtx", kResultInvalidArg);
  const wchar_t* step = DirectionStep(pKeyCtx->nCryptFlag, L"SymEncryptUpdate", L"SymDecryptUpdate");
  MR_FAIL_IF(step == nullptr, L"CHECK pKeyCtx.nCryptFlag", kResultBadCryptFlag);
  SYMKEY_CTX* cipher = pKeyCtx->pCipherCtx.get();
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(
      pKeyCtx->nCryptFlag == MR_CRYPTO_ENC
          ? SymEncryptUpdate(cipher, pInData, nInLen, pOutData, pOutLen)
          : SymDecryptUpdate(cipher, pInData, nInLen, pOutData, pOutLen));
  MR_FAIL_IF(hr != S_OK, step, hr);
  MR_LOG_STEP(step);
  return S_OK;
}

HRESULT mr_SymKeyFinal(SYMKEY_HANDLE* pKeyCtx, BYTE* pOutData, DWORD* pOutLen) {
  MR_TRACE("mr_SymKeyFinal");
  // The handle ends here whatever happens, with its cipher context.
  const std::unique_ptr<SYMKEY_HANDLE> handle(pKeyCtx);
  MR_FAIL_IF(pKeyCtx == nullptr, L"CHECK pKeyCtx", kResultInvalidArg);
  const wchar_t* step = DirectionStep(handle->nCryptFlag, L"SymEncryptFinal", L"SymDecryptFinal");
  MR_FAIL_IF(step == nullptr, L"CHECK pKeyCtx.nCryptFlag", kResultBadCryptFlag);
  SYMKEY_CTX* cipher = handle->pCipherCtx.release();  // the final consumes it
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(handle->nCryptFlag == MR_CRYPTO_ENC
                                                  ? SymEncryptFinal(cipher, pOutData, pOutLen)
                                                  : SymDecryptFinal(cipher, pOutData, pOutLen));
  MR_FAIL_IF(hr != S_OK, step, hr);
  MR_LOG_STEP(step);
  return S_OK;
}

HRESULT mr_HashInit(DEV_CTX* pDevCtx, BYTE nHashType, HASH_HANDLE** ppHashCtx) {
  MR_TRACE("mr_HashInit");
  MR_FAIL_IF(ppHashCtx == nullptr, L"CHECK ppHashCtx", kResultInvalidArg);
  std::unique_ptr<HASH_HANDLE> handle(new (std::nothrow) HASH_HANDLE);
  MR_FAIL_IF(!handle, L"new HASH_HANDLE", kResultNoMemory);
  HASH_CTX* ctx = nullptr;
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(Hash_Init(&ctx, nHashType));
  MR_FAIL_IF(hr != S_OK, L"Hash_Init", hr);
  handle->pHashCtx.reset(ctx);
  handle->pDevCtx = pDevCtx;
  handle->nHashType = nHashType;
  *ppHashCtx = handle.release();
  MR_LOG_STEP(L"Hash_Init");
  return S_OK;
}

HRESULT mr_HashUpdate(HASH_HANDLE* pHashCtx, const BYTE* pData, DWORD nLen) {
  MR_TRACE("mr_HashUpdate");
  MR_FAIL_IF(pHashCtx == nullptr, L"CHECK pHashCtx", kResultInvalidArg);
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(Hash_Update(pHashCtx->pHashCtx.get(), pData, nLen));
  MR_FAIL_IF(hr != S_OK, L"Hash_Update", hr);
  MR_LOG_STEP(L"Hash_Update");
  return S_OK;
}

HRESULT mr_HashFinal(HASH_HANDLE* pHashCtx, BYTE* pDigest, DWORD* pDigestLen) {
  MR_TRACE("mr_HashFinal");
  // The handle ends here whatever happens, with any hash context that
  // Hash_Final leaves behind (it keeps it on its argument checks).
  const std::unique_ptr<HASH_HANDLE> handle(pHashCtx);
  MR_FAIL_IF(pHashCtx == nullptr, L"CHECK pHashCtx", kResultInvalidArg);
  HASH_CTX* ctx = handle->pHashCtx.get();
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(Hash_Final(ctx, pDigest, pDigestLen));
  if (hr == S_OK || (hr != kResultInvalidArg && hr != kResultBufferTooSmall)) {
    handle->pHashCtx.release();  // consumed by Hash_Final
  }
  MR_FAIL_IF(hr != S_OK, L"Hash_Final", hr);
  MR_LOG_STEP(L"Hash_Final");
  return S_OK;
}
