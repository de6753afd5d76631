#include "device/container_key.h"

#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/key_type.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/asym_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
HRESULT FindContainerKey(DeviceHandle& handle, const char* pszDevName,
                         const char* pszContainerName, DWORD dwKeySpec, HRESULT notFound,
                         const char* function, ContainerKey* pKey, DevCtxLease* pLease) {
  MR_TRACE_UNDER(function);
  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hResult = handle.ResolveContainer(pszDevName, pszContainerName, &pItem, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", notFound);
  const CONTAINER_RECORD& stRecord = *pItem->pstContainer();
  if (dwKeySpec == kNoKeySpecForDigest) {
    dwKeySpec = stRecord.SignKeyLen == MR_CTNR_NONE ? AT_KEYEXCHANGE : AT_SIGNATURE;
  }
  ContainerKey key;
  key.dwKeySpec = dwKeySpec;
  key.wKeyFID = dwKeySpec == AT_SIGNATURE ? stRecord.SignKeyFID : stRecord.ExchangeKeyFID;
  hResult = GetKeyType(&stRecord, dwKeySpec, &key.byKeyType, &key.dwKeyBits);
  MR_FAIL_IF(hResult != S_OK, L"GetKeyType", HRESULT_FROM_TOKEN_ERROR(hResult));
  key.pDevCtx = pDevCtx;
  if (pLease != nullptr) {
    // The item's own device name: the token that holds the container.
    hResult = handle.LendDevCtx(pItem->szDeviceName, pLease);
    MR_FAIL_IF(hResult != S_OK, L"LendDevCtx", notFound);
    key.pDevCtx = pLease->get();
  }
  *pKey = key;
  return S_OK;
}

ScopedKeyContext::~ScopedKeyContext() {
  if (m_pKeyCtx != nullptr) {
    AsymKeyFinal(m_pKeyCtx);
  }
}

HRESULT ScopedKeyContext::Open(const ContainerKey& key, const char* function) {
  MR_TRACE_UNDER(function);
  void* pKeyCtx = nullptr;
  const HRESULT nRet = AsymKeyInit(key.pDevCtx, key.byKeyType, key.wKeyFID, &pKeyCtx);
  if (nRet != 0) {
    if (pKeyCtx != nullptr) {
      AsymKeyFinal(pKeyCtx);
    }
    MR_LOG_FAIL(L"AsymKeyInit", L"nRet != 0", HRESULT_FROM_TOKEN_ERROR(nRet));
    return HRESULT_FROM_TOKEN_ERROR(nRet);
  }
  if (m_pKeyCtx != nullptr) {
    AsymKeyFinal(m_pKeyCtx);
  }
  m_pKeyCtx = pKeyCtx;
  return S_OK;
}

void* ScopedKeyContext::release() {
  void* pKeyCtx = m_pKeyCtx;
  m_pKeyCtx = nullptr;
  return pKeyCtx;
}

HRESULT OpenContainerKey(DeviceHandle& handle, const char* pszDevName,
                         const char* pszContainerName, DWORD dwKeySpec, HRESULT notFound,
                         const char* function, ContainerKey* pKey, ScopedKeyContext* pKeyCtx,
                         DevCtxLease* pLease) {
  const HRESULT hResult = FindContainerKey(handle, pszDevName, pszContainerName, dwKeySpec,
                                           notFound, function, pKey, pLease);
  return FAILED(hResult) ? hResult : pKeyCtx->Open(*pKey, function);
}

HRESULT HandOutCopy(const BYTE* data, DWORD length, BYTE** ppbyOut, DWORD* pdwOutSize,
                    const char* function) {
  MR_TRACE_UNDER(function);
  OwnedBytes pbyOut = OwnedBytes::CopyOf(data, length);
  if (pbyOut == nullptr) {
    MR_LOG_FAIL(L"New buffer", L"pbyOut == NULL", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  pbyOut.HandOut(ppbyOut, pdwOutSize);
  return S_OK;
}

}  // namespace merro::device
