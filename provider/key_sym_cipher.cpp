// KeyHandle: the session-key ciphers (DES, triple DES, RC4) behind
// CPEncrypt and CPDecrypt. The cipher itself runs in the device object's
// symmetric contexts; this key object only holds the running context in
// m_pEvpCtx, from the init step until the final step consumes it.
//
// Every failure of the cipher layer is reported as NTE_BAD_KEY, whatever
// the device object said.
#include <new>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

// What an init step makes of the key's algorithm.
enum class SymAlgClass { kSessionCipher, kKeyPair, kUnsupported };

SymAlgClass ClassOf(ALG_ID uAlgID) {
  switch (uAlgID) {
    case CALG_DES:
    case CALG_3DES:
    case CALG_3DES_112:  // passes here; the device object refuses it
    case CALG_RC4:
      return SymAlgClass::kSessionCipher;
    case CALG_RSA_SIGN:
    case CALG_RSA_KEYX:
    case CALG_SM2_SIGN:
    case CALG_SM2_KEYX:
      return SymAlgClass::kKeyPair;
    default:
      return SymAlgClass::kUnsupported;
  }
}

HRESULT SymInit(const char* function, KeyHandle& key, int nCryptType, const wchar_t* pszInitStep) {
  MR_TRACE_UNDER(function);
  const SymAlgClass algClass = ClassOf(key.m_uAlgID);
  if (algClass == SymAlgClass::kKeyPair) {
    MR_LOG_FAIL(L"Only for symEncrypt", L"TRUE", NTE_BAD_ALGID);
    return NTE_BAD_ALGID;
  }
  if (algClass == SymAlgClass::kUnsupported) {
    MR_LOG_FAIL(L"Only support DES 3DES 3DES_112", L"TRUE", NTE_NOT_SUPPORTED);
    return NTE_NOT_SUPPORTED;
  }
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF(key.m_pContainer == NULL, L"Check m_pContainer", NTE_BAD_KEY);

  // One cipher per key: a cipher still running is finished first, so that
  // its context and key schedule do not outlive their reference.
  if (key.m_pEvpCtx != nullptr) {
    MR_LOG_STEP(L"SymKeyFinal(running cipher)", key.EndRunningCipher());
  }

  SYMKEY_HANDLE* pKeyCtx = nullptr;
  const HRESULT hResult = g_pDeviceHandle->SymKeyHandleInit(
      key.m_pContainer->m_szDeviceName, key.m_uAlgID, nCryptType, key.m_dwMode,
      key.m_stSymKey.pbData, key.m_stSymKey.cbData, key.m_pbyIV,
      key.m_pbyIV != nullptr ? key.m_dwIVBits / 8 : 0, &pKeyCtx);
  MR_FAIL_IF(hResult != S_OK, pszInitStep, NTE_BAD_KEY);
  key.m_pEvpCtx = pKeyCtx;
  MR_LOG_STEP(pszInitStep);
  return S_OK;
}

HRESULT SymUpdate(const char* function, KeyHandle& key, const BYTE* pbySourceData,
                  DWORD dwSourceDataLen, BYTE** ppbyOutData, DWORD* pdwOutDataLen) {
  MR_TRACE_UNDER(function);
  MR_FAIL_IF(NULL == pbySourceData, L"Check pbySourceData", NTE_BAD_KEY);
  MR_FAIL_IF(dwSourceDataLen <= 0, L"Check dwSourceDataLen", NTE_BAD_KEY);
  MR_FAIL_IF(NULL == ppbyOutData, L"Check ppbyOutData", NTE_BAD_KEY);
  MR_FAIL_IF(NULL == pdwOutDataLen, L"Check pdwOutDataLen", NTE_BAD_KEY);
  MR_FAIL_IF(NULL == key.m_pEvpCtx, L"Check m_pEvpCtx", NTE_BAD_KEY);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);

  const HRESULT hResult = g_pDeviceHandle->SymKeyHandleUpdate(
      key.m_pEvpCtx, pbySourceData, dwSourceDataLen, ppbyOutData, pdwOutDataLen);
  MR_FAIL_IF(hResult != S_OK, L"SymKeyHandleUpdate", NTE_BAD_KEY);
  MR_LOG_STEP(L"SymKeyHandleUpdate");
  return S_OK;
}

HRESULT SymFinal(const char* function, KeyHandle& key, BYTE** ppbyOutData, DWORD* pdwOutDataLen) {
  MR_TRACE_UNDER(function);
  MR_FAIL_IF(ppbyOutData == NULL, L"Check ppbyOutData", E_INVALIDARG);
  MR_FAIL_IF(NULL == key.m_pEvpCtx, L"Check m_pEvpCtx", NTE_BAD_KEY);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);

  // The device object ends the context on failure as well as on success:
  // the reference goes in both cases, so that nothing finishes it again.
  const HRESULT hResult =
      g_pDeviceHandle->SymKeyHandleFinal(key.m_pEvpCtx, ppbyOutData, pdwOutDataLen);
  key.m_pEvpCtx = nullptr;
  MR_FAIL_IF(hResult != S_OK, L"SymKeyHandleFinal", NTE_BAD_KEY);
  MR_LOG_STEP(L"SymKeyHandleFinal");
  return S_OK;
}

}  // namespace

HRESULT KeyHandle::SymEncryptInit() {
  MR_TRACE("KeyHandle::SymEncryptInit");
  return SymInit(MR_TRACE_FUNCTION, *this, MR_CRYPTO_ENC, L"SymKeyHandleInit(Encrypt)");
}

HRESULT KeyHandle::SymDecryptInit() {
  MR_TRACE("KeyHandle::SymDecryptInit");
  return SymInit(MR_TRACE_FUNCTION, *this, MR_CRYPTO_DEC, L"SymKeyHandleInit(Decrypt)");
}

HRESULT KeyHandle::SymEncryptUpdate(const BYTE* pbySourceData, DWORD dwSourceDataLen,
                                    BYTE** ppbyOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("KeyHandle::SymEncryptUpdate");
  return SymUpdate(MR_TRACE_FUNCTION, *this, pbySourceData, dwSourceDataLen, ppbyOutData,
                   pdwOutDataLen);
}

HRESULT KeyHandle::SymDecryptUpdate(const BYTE* pbySourceData, DWORD dwSourceDataLen,
                                    BYTE** ppbyOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("KeyHandle::SymDecryptUpdate");
  return SymUpdate(MR_TRACE_FUNCTION, *this, pbySourceData, dwSourceDataLen, ppbyOutData,
                   pdwOutDataLen);
}

HRESULT KeyHandle::SymEncryptFinal(BYTE** ppbyOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("KeyHandle::SymEncryptFinal");
  return SymFinal(MR_TRACE_FUNCTION, *this, ppbyOutData, pdwOutDataLen);
}

HRESULT KeyHandle::SymDecryptFinal(BYTE** ppbyOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("KeyHandle::SymDecryptFinal");
  return SymFinal(MR_TRACE_FUNCTION, *this, ppbyOutData, pdwOutDataLen);
}

}  // namespace merro::provider
