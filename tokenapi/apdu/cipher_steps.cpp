#include "tokenapi/apdu/cipher_steps.h"

#include <memory>

#include "foundation/result.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/contexts/handles.h"

namespace merro::apdu {
namespace {

HRESULT StepResult(const TraceHelper& scope, const wchar_t* step, HRESULT hr, HRESULT code) {
  const HRESULT result = FAILED(hr) && code != 0 ? code : hr;
  merro::trace::LogStep(scope.Name(), step, result);
  return result;
}

}  // namespace

HRESULT RunCbcCipher(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE nAlg, bool encrypt,
                     const BYTE* pKey, const BYTE* pIn, DWORD nInLen, BYTE* pOut, DWORD nOutCap,
                     DWORD* pOutLen, const CipherFailureCodes& codes) {
  *pOutLen = 0;
  SYMKEY_HANDLE* raw = nullptr;
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_SymKeyInit(pDevCtx, nAlg,
                                                      encrypt ? MR_CRYPTO_ENC : MR_CRYPTO_DEC,
                                                      MR_MODE_CBC, pKey, nullptr, &raw));
  hr = StepResult(scope, encrypt ? L"SymEncryptInit" : L"SymDecryptInit", hr, codes.init);
  if (FAILED(hr)) {
    return hr;
  }
  std::unique_ptr<SYMKEY_HANDLE> handle(raw);
  DWORD updateLen = nOutCap;
  hr = HRESULT_FROM_TOKEN_ERROR(mr_SymKeyUpdate(handle.get(), pIn, nInLen, pOut, &updateLen));
  hr = StepResult(scope, encrypt ? L"SymEncryptUpdate" : L"SymDecryptUpdate", hr, codes.update);
  if (FAILED(hr)) {
    return hr;
  }
  *pOutLen = updateLen;
  DWORD finalLen = nOutCap - updateLen;
  // The final ends the handle whatever it returns.
  hr = HRESULT_FROM_TOKEN_ERROR(mr_SymKeyFinal(handle.release(), pOut + updateLen, &finalLen));
  hr = StepResult(scope, encrypt ? L"SymEncryptFinal" : L"SymDecryptFinal", hr, codes.final);
  if (FAILED(hr)) {
    return hr;
  }
  *pOutLen = updateLen + finalLen;
  return S_OK;
}

}  // namespace merro::apdu
