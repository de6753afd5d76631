// DeviceHandle: the symmetric cipher contexts behind the provider's DES,
// triple-DES and RC4 session keys. The context is the token API's; the
// caller holds it from SymKeyHandleInit until SymKeyHandleFinal ends it.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/result.h"
#include "foundation/secret_bytes.h"
#include "foundation/wiped_bytes.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// Room the token API may use beyond the input: padding and held-back blocks.
constexpr DWORD kOutputSlack = 64;
constexpr DWORD kMaxUpdateInput = 0xFFFFFFFFu - kOutputSlack;  // 0xFFFFFFBF
// The IV the token API reads for the block ciphers.
constexpr DWORD kIVBytes = 8;

struct SymAlgorithm {
  ALG_ID dwAlg;     // CryptoAPI
  BYTE nAlgType;    // token API
  DWORD dwKeyLen;   // key bytes the token API reads
};
constexpr SymAlgorithm kAlgorithms[] = {
    {CALG_DES, MR_ALG_DES, 8},
    {CALG_3DES, MR_ALG_3DES, 24},
    {CALG_RC4, MR_ALG_RC4, 16},
};

const SymAlgorithm* FindAlgorithm(DWORD dwAlg) {
  for (const SymAlgorithm& alg : kAlgorithms) {
    if (alg.dwAlg == dwAlg) {
      return &alg;
    }
  }
  return nullptr;
}

// The token API's mode for a CryptoAPI mode; 0 for any other mode, which
// only RC4 (a stream cipher) accepts.
BYTE TokenMode(DWORD dwMode) {
  switch (dwMode) {
    case CRYPT_MODE_CBC:
      return MR_MODE_CBC;
    case CRYPT_MODE_ECB:
      return MR_MODE_ECB;
    default:
      return 0;
  }
}

}  // namespace

HRESULT DeviceHandle::SymKeyHandleInit(const char* pszDevName, DWORD dwAlg, int nCryptType,
                                       DWORD dwMode, const BYTE* pbyKey, DWORD dwKeyLen,
                                       const BYTE* pbyIV, DWORD dwIVLen,
                                       SYMKEY_HANDLE** ppKeyCtx) {
  MR_TRACE("DeviceHandle::SymKeyHandleInit");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pbyKey == NULL, L"Check pbyKey", E_INVALIDARG);
  MR_FAIL_IF(ppKeyCtx == NULL, L"Check ppKeyCtx", E_INVALIDARG);
  MR_FAIL_IF(nCryptType != MR_CRYPTO_ENC && nCryptType != MR_CRYPTO_DEC, L"Check nCryptType",
             E_INVALIDARG);
  const SymAlgorithm* pAlg = FindAlgorithm(dwAlg);
  MR_FAIL_IF(pAlg == nullptr, L"Only support CALG_DES AND CALG_DES3", NTE_BAD_ALGID);
  const BYTE nMode = TokenMode(dwMode);
  MR_FAIL_IF(nMode == 0 && dwAlg != CALG_RC4, L"Only support CRYPT_MODE_ECB AND CRYPT_MODE_CBC",
             NTE_BAD_ALGID);
  // The token API reads a fixed number of key bytes, and 8 IV bytes when
  // an IV is given: shorter buffers would be over-read.
  MR_FAIL_IF(dwKeyLen < pAlg->dwKeyLen, L"Check dwKeyLen", E_INVALIDARG);
  MR_FAIL_IF(pbyIV != nullptr && dwIVLen < kIVBytes, L"Check dwIVLen", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hResult)) {
    return hResult;
  }

  SYMKEY_HANDLE* pKeyCtx = nullptr;
  const HRESULT nRet = SymKeyInit(pDevCtx, pAlg->nAlgType, static_cast<BYTE>(nCryptType), nMode,
                                  pbyKey, pbyIV, &pKeyCtx);
  MR_FAIL_IF(nRet != 0, L"SymKeyInit", HRESULT_FROM_TOKEN_ERROR(nRet));
  *ppKeyCtx = pKeyCtx;
  MR_LOG_STEP(L"SymKeyInit");
  return S_OK;
}

HRESULT DeviceHandle::SymKeyHandleUpdate(SYMKEY_HANDLE* pKeyCtx, const BYTE* pbyInData,
                                         DWORD dwInDataSize, BYTE** ppbyOutData,
                                         DWORD* pdwOutDataSize) {
  MR_TRACE("DeviceHandle::SymKeyHandleUpdate");
  MR_FAIL_IF(pKeyCtx == NULL, L"Check pKeyCtx", E_INVALIDARG);
  MR_FAIL_IF(pbyInData == NULL, L"Check pbyInData", E_INVALIDARG);
  MR_FAIL_IF(dwInDataSize <= 0, L"Check dwInDataSize", E_INVALIDARG);
  // The output room is the input plus 64: it must not wrap.
  MR_FAIL_IF(dwInDataSize > kMaxUpdateInput, L"Check dwInDataSize", E_INVALIDARG);
  MR_FAIL_IF(ppbyOutData == NULL, L"Check ppbyOutData", E_INVALIDARG);
  MR_FAIL_IF(pdwOutDataSize == NULL, L"Check pdwOutDataSize", E_INVALIDARG);

  const DWORD dwRoom = dwInDataSize + kOutputSlack;
  // Plaintext when decrypting: wiped unless it is handed out.
  SecretBytes pbyOutData = SecretBytes::Zeroed(dwRoom);
  MR_FAIL_IF(!pbyOutData.get(), L"New buffer", E_OUTOFMEMORY);
  DWORD dwOutDataSize = dwRoom;
  const HRESULT nRet = SymKeyUpdate(pKeyCtx, pbyInData, dwInDataSize, pbyOutData.get(),
                                    &dwOutDataSize);
  MR_FAIL_IF(nRet != 0, L"SymKeyUpdate", HRESULT_FROM_TOKEN_ERROR(nRet));
  pbyOutData.HandOut(ppbyOutData);
  *pdwOutDataSize = dwOutDataSize;
  MR_LOG_STEP(L"SymKeyUpdate");
  return S_OK;
}

HRESULT DeviceHandle::SymKeyHandleFinal(SYMKEY_HANDLE* pKeyCtx, BYTE** ppbyOutData,
                                        DWORD* pdwOutDataSize) {
  MR_TRACE("DeviceHandle::SymKeyHandleFinal");
  MR_FAIL_IF(pKeyCtx == NULL, L"Check pKeyCtx", E_INVALIDARG);
  // The context ends here on every path, the caller's own argument and
  // memory failures included: after this call it is gone, whatever the
  // result. So the cipher is finished into a local buffer first.
  BYTE abyLast[kOutputSlack] = {};
  DWORD dwLast = kOutputSlack;
  const HRESULT nRet = SymKeyFinal(pKeyCtx, abyLast, &dwLast);
  const WipeOnExit wipeLast(abyLast);

  MR_FAIL_IF(ppbyOutData == NULL, L"Check ppbyOutData", E_INVALIDARG);
  MR_FAIL_IF(pdwOutDataSize == NULL, L"Check pdwOutDataSize", E_INVALIDARG);
  MR_FAIL_IF(nRet != 0, L"SymKeyFinal", HRESULT_FROM_TOKEN_ERROR(nRet));
  if (dwLast > kOutputSlack) {
    dwLast = kOutputSlack;
  }
  SecretBytes pbyOutData = SecretBytes::CopyOf(abyLast, dwLast, kOutputSlack);
  MR_FAIL_IF(!pbyOutData.get(), L"New buffer", E_OUTOFMEMORY);
  pbyOutData.HandOut(ppbyOutData);
  *pdwOutDataSize = dwLast;
  MR_LOG_STEP(L"SymKeyFinal");
  return S_OK;
}

}  // namespace merro::device
