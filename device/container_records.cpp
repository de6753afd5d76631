// DeviceHandle: a container's record. InitializeContainer prepares it on the
// token before a key is generated or imported; the queries answer from the
// container list's copy of it (null names 0x80070057, a container not
// listed 0x80004005, as the item look-up gives them).
#include "device/device_handle.h"
#include "device/device_trace.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/key_type.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// Bits of an RSA key from its length code; 0 for a code that names no RSA
// key (0xFF: no key).
DWORD RsaBits(BYTE byCode) {
  const KeyLengthCode* pCode = FindKeyLengthCode(byCode);
  return pCode != nullptr && pCode->byKeyType != MR_ALG_SM2 ? pCode->dwKeyBits : 0;
}

}  // namespace

HRESULT DeviceHandle::InitializeContainer(const char* pszDevName, const char* pszContainerName,
                                          DWORD dwKeySpec, DWORD dwBitsLength) {
  MR_TRACE("DeviceHandle::InitializeContainer");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  // 4096 bits have no length code: the record would claim an SM2 key.
  const KeyLengthCode* pCode = FindKeyLengthCodeForBits(dwBitsLength);
  MR_FAIL_IF(pCode == nullptr, L"Check dwBitsLength", E_INVALIDARG);
  MR_FAIL_IF((dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE), L"Check dwKeySpec",
             E_INVALIDARG);
  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hResult = ResolveContainer(pszDevName, pszContainerName, &pItem, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);

  // The token's record first, so that the list's copy equals it whatever
  // happens next.
  CONTAINER_RECORD stRecord = *pItem->pstContainer();
  HRESULT nRetCode = ReadContainer(pDevCtx, &stRecord);
  MR_FAIL_IF(nRetCode != 0, L"ReadContainer", E_FAIL);
  *pItem->pstContainer() = stRecord;

  if (dwKeySpec == AT_SIGNATURE) {
    stRecord.SignKeyLen = pCode->byCode;
    stRecord.AlgType = pCode->byKeyType;
  } else {
    stRecord.ExchKeyLen = pCode->byCode;
    // The signature key, when there is one, names the container's type.
    if (stRecord.AlgType == 0 || stRecord.AlgType == MR_CTNR_NONE) {
      stRecord.AlgType = pCode->byKeyType;
    }
  }
  nRetCode = WriteContainer(pDevCtx, &stRecord);
  TraceDeviceValue(21, {static_cast<DWORD>(nRetCode)});
  MR_FAIL_IF(nRetCode != 0, L"WriteContainer", E_FAIL);
  *pItem->pstContainer() = stRecord;
  MR_LOG_STEP(L"InitializeContainer");
  return S_OK;
}

HRESULT DeviceHandle::GetContainerInfo(const char* pszDevName, const char* pszContainerName,
                                       DWORD* pdwKeyAlg, DWORD* pdwSignKeyBitsSize,
                                       DWORD* pdwExchKeyBitsSize) {
  MR_TRACE("DeviceHandle::GetContainerInfo");
  MR_FAIL_IF(pdwKeyAlg == NULL, L"Check pdwKeyAlg", E_INVALIDARG);
  MR_FAIL_IF(pdwSignKeyBitsSize == NULL, L"Check pdwSignKeyBitsSize", E_INVALIDARG);
  ContainerItem stItem;
  const HRESULT hResult = GetContainerInfo(pszDevName, pszContainerName, &stItem);
  if (FAILED(hResult)) {
    return hResult;
  }

  const CONTAINER_RECORD& stRecord = *stItem.pstContainer();
  DWORD dwExchBits = 0;
  if (stRecord.AlgType == MR_ALG_SM2) {
    *pdwKeyAlg = KEYSETALGORITHM_SM2;
    *pdwSignKeyBitsSize = MR_SM2_KEY_BITS;
    dwExchBits = MR_SM2_KEY_BITS;
  } else {
    // A code that names no key (0xFF) is no key: 0 bits.
    *pdwKeyAlg = KEYSETALGORITHM_RSA;
    *pdwSignKeyBitsSize = RsaBits(stRecord.SignKeyLen);
    dwExchBits = RsaBits(stRecord.ExchKeyLen);
  }
  if (pdwExchKeyBitsSize != nullptr) {
    *pdwExchKeyBitsSize = dwExchBits;
  }
  return S_OK;
}

HRESULT DeviceHandle::GetKeyLength(const char* pszDevName, const char* pszContainerName,
                                   DWORD dwKeySpec, DWORD* pdwKeyBits) {
  MR_TRACE("DeviceHandle::GetKeyLength");
  MR_FAIL_IF(dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE, L"Check dwKeySpec",
             E_INVALIDARG);
  MR_FAIL_IF(pdwKeyBits == NULL, L"Check pdwKeyBits", E_INVALIDARG);
  ContainerItem stItem;
  const HRESULT hResult = GetContainerInfo(pszDevName, pszContainerName, &stItem);
  if (FAILED(hResult)) {
    return hResult;
  }

  const CONTAINER_RECORD* pContainer = stItem.pstContainer();
  const BYTE nKeyLength =
      dwKeySpec == AT_SIGNATURE ? pContainer->SignKeyLen : pContainer->ExchKeyLen;
  const KeyLengthCode* pCode = FindKeyLengthCode(nKeyLength);
  if (pCode == nullptr) {
    // No key of that kind.
    TraceDeviceValue(22, {static_cast<DWORD>(nKeyLength)});
    *pdwKeyBits = 0;
    return S_OK;
  }
  // The code must agree with the container's type.
  switch (nKeyLength) {
    case 0x00:
      MR_FAIL_IF(pContainer->AlgType != MR_ALG_SM2, L"Check is SM2(nKeyLength == 0x00)", E_FAIL);
      break;
    case 0x01:
      MR_FAIL_IF(pContainer->AlgType == MR_ALG_SM2, L"Check is RSA(nKeyLength == 0x01)", E_FAIL);
      break;
    default:
      MR_FAIL_IF(pContainer->AlgType == MR_ALG_SM2, L"Check is RSA(nKeyLength == 0x02)", E_FAIL);
      break;
  }
  *pdwKeyBits = pCode->dwKeyBits;
  return S_OK;
}

HRESULT DeviceHandle::IsContainerEmpty(const char* pszDevName, const char* pszContainerName,
                                       BOOL* pbEmpty) {
  MR_TRACE("DeviceHandle::IsContainerEmpty");
  MR_FAIL_IF(pbEmpty == NULL, L"Check pbEmpty", E_INVALIDARG);
  ContainerItem stItem;
  const HRESULT hResult = GetContainerInfo(pszDevName, pszContainerName, &stItem);
  if (FAILED(hResult)) {
    return hResult;
  }
  *pbEmpty = stItem.pstContainer()->byFlag == MR_CTNR_NEW ? TRUE : FALSE;
  return S_OK;
}

}  // namespace merro::device
