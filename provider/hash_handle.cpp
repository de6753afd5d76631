// HashHandle: starting a digest, hashing, finishing it, taking a value
// given whole, and the one-shot MD5 of a data block.
#include "provider/hash_handle.h"
#include "provider/operation_sequence.h"

#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/alg_ids.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"
#include "provider/hash_algorithms.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "HashHandle"

namespace merro::provider {

using merro::device::DevCtxLease;
using merro::device::DeviceHandle;

HashHandle::HashHandle() { MR_TRACE("HashHandle::HashHandle"); }

HashHandle::~HashHandle() {
  MR_TRACE("HashHandle::~HashHandle");
  merro::OwnedBytes::Release(m_pHashData, m_dwHashLen);
  // A hash destroyed before Final still holds its software context.
  ReleaseSoftwareHash(&m_pHashCtx);
  // The last holder of the digest key context releases it.
  m_pDigestKeyCtx.reset();
}

HRESULT HashHandle::Init(ALG_ID uAlgID) {
  MR_TRACE("HashHandle::Init");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", NTE_NO_KEY);
  const HashAlgorithm* pAlgorithm = FindHashAlgorithm(uAlgID);
  if (pAlgorithm == nullptr) {
    MR_LOG_FAIL(L"nonsupport algid", L"TRUE", NTE_BAD_ALGID);
    return NTE_BAD_ALGID;
  }
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_INVALIDARG);

  // Every hash needs the container's key on its token and the token's
  // authentication, even one computed in software.
  std::shared_ptr<DigestKeyContext> spKeyCtx;
  HRESULT hResult = OpenDigestKeyContext(&spKeyCtx);
  if (hResult != S_OK) {
    return hResult;
  }
  // An SM3 digest starts on the token only when its value or signature is
  // asked for: nothing of it is left on the token between calls.
  HASH_HANDLE* pHashCtx = nullptr;
  if (pAlgorithm->bOnToken) {
    spKeyCtx.reset();
  } else {
    const LONG nRet = HashInit(spKeyCtx->lease().get(), pAlgorithm->byTokenType, &pHashCtx);
    MR_FAIL_IF(nRet != 0, L"SoftHashInit", NTE_BAD_HASH);
  }
  merro::OwnedBytes pHashData = merro::OwnedBytes::Zeroed(pAlgorithm->dwHashLen);
  if (pHashData == nullptr) {
    ReleaseSoftwareHash(&pHashCtx);
    MR_LOG_FAIL(L"New buffer", L"!m_pHashData", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }

  // Success: the new digest replaces whatever the handle held.
  ReleaseSoftwareHash(&m_pHashCtx);
  m_pHashCtx = pHashCtx;
  m_pDigestKeyCtx = std::move(spKeyCtx);
  m_uAlgID = uAlgID;
  merro::OwnedBytes::Release(m_pHashData, m_dwHashLen);
  m_dwHashLen = pAlgorithm->dwHashLen;
  m_bFinal = FALSE;
  m_bHashValueSet = FALSE;
  pHashData.HandOut(&m_pHashData);
  std::memset(m_bySourceData, 0, sizeof m_bySourceData);
  m_dwCurrentSourceDataSize = 0;
  m_bSourceDataComplete = TRUE;
  m_bDigestBeyondSourceData = FALSE;
  m_vHostDigestData.clear();
  m_ullDigestChange = m_pDigestKeyCtx ? m_pDigestKeyCtx->Changes() : 0;
  return S_OK;
}

HRESULT HashHandle::OpenDigestKeyContext(std::shared_ptr<DigestKeyContext>* pspKeyCtx) const {
  MR_TRACE("HashHandle::OpenDigestKeyContext");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", NTE_NO_KEY);
  // The container key's context, lent with its token's context.
  DevCtxLease lease;
  void* pKeyCtx = nullptr;
  HRESULT hResult = g_pDeviceHandle->InitDigestKeyCtx(
      m_pContainer->m_szDeviceName, m_pContainer->m_szContainerName, &lease, &pKeyCtx);
  if (hResult != S_OK) {
    if (pKeyCtx != nullptr) {
      DeviceHandle::ReleaseDigestKeyCtx(&lease, pKeyCtx);
    }
    MR_LOG_FAIL(L"InitDigestKeyCtx", L"hResult != S_OK", hResult);
    return hResult;
  }
  // From here on the holder releases the new context on every failure.
  std::shared_ptr<DigestKeyContext> spKeyCtx = MakeDigestKeyContext(std::move(lease), pKeyCtx);
  MR_FAIL_IF(!spKeyCtx, L"New DigestKeyContext", E_OUTOFMEMORY);
  DEV_CTX* pDevCtx = spKeyCtx->lease().get();
  // The session set-up under the token's sequence lock.
  merro::transport::TokenSequenceLock sequence;
  hResult = sequence.TakeByMutexName(pDevCtx->szMutexName);
  MR_FAIL_IF(hResult != S_OK, L"Take the token's sequence lock", hResult);
  LONG nRet = ExternalAuth(pDevCtx, merro::device::kSessionAuthKey);
  MR_FAIL_IF(nRet != 0, L"ExternalAuth", ResultOfLostState(HRESULT_FROM_TOKEN_ERROR(nRet)));
  nRet = SetSessionKey(pDevCtx);
  MR_FAIL_IF(nRet != 0, L"SetSessionKey", ResultOfLostState(HRESULT_FROM_TOKEN_ERROR(nRet)));
  *pspKeyCtx = std::move(spKeyCtx);
  return S_OK;
}

HRESULT HashHandle::Update(const BYTE* pData, DWORD dwDataLen) {
  MR_TRACE("HashHandle::Update");
  if (!pData) {
    MR_LOG_FAIL(L"Check parameter", L"(dwDataLen < 0) || (!pData)", E_INVALIDARG);
    return E_INVALIDARG;
  }
  LONG nRetCode = 0;
  if (m_uAlgID == CALG_SM3) {
    HRESULT hResult = S_OK;
    if (DigestKeptOnHost()) {
      if (static_cast<ULONGLONG>(m_vHostDigestData.size()) + dwDataLen <= m_dwHostDigestMax) {
        hResult = KeepHostDigestData(pData, dwDataLen);
        MR_FAIL_IF(hResult != S_OK, L"DigestUpdate", hResult);
        RecordSourceData(pData, dwDataLen);
        return S_OK;
      }
      hResult = StreamKeptDataToToken();
      if (hResult != S_OK) {
        return hResult;
      }
    }
    hResult = CheckTokenDigest();
    if (hResult != S_OK) {
      return hResult;
    }
    nRetCode = DigestUpdate(m_pDigestKeyCtx->get(), pData, dwDataLen);
    m_ullDigestChange = m_pDigestKeyCtx->NoteChange();
  } else {
    nRetCode = HashUpdate(m_pHashCtx, pData, dwDataLen);
  }
  MR_FAIL_IF(nRetCode != 0x00, L"DigestUpdate", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  RecordSourceData(pData, dwDataLen);
  return S_OK;
}

bool HashHandle::SourceDataIsAllHashed() const {
  if (!m_bSourceDataComplete || m_bDigestBeyondSourceData) {
    return false;
  }
  // A streamed SM3 digest on the token is shared with duplicates: it is
  // this hash's data alone while no other hash fed it after this one.
  return m_uAlgID != CALG_SM3 || DigestKeptOnHost() ||
         (m_pDigestKeyCtx && m_pDigestKeyCtx->Changes() == m_ullDigestChange);
}

void HashHandle::RecordSourceData(const BYTE* pData, DWORD dwDataLen) {
  // Summed in 64 bits: the count saturates instead of wrapping round to a
  // small size that would pass for complete source data.
  const ULONGLONG ullTotal = static_cast<ULONGLONG>(m_dwCurrentSourceDataSize) + dwDataLen;
  if (m_bSourceDataComplete && ullTotal <= HASH_SOURCE_DATA_MAX) {
    if (dwDataLen != 0) {
      std::memcpy(m_bySourceData + m_dwCurrentSourceDataSize, pData, dwDataLen);
    }
  } else {
    m_bSourceDataComplete = FALSE;
  }
  m_dwCurrentSourceDataSize = ullTotal > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullTotal);
}

HRESULT HashHandle::Final() {
  MR_TRACE("HashHandle::Final");
  MR_FAIL_IF(m_bFinal, L"Hash state is final", NTE_BAD_HASH_STATE);
  MR_FAIL_IF(m_pHashData == NULL, L"Check m_pHashData", NTE_BAD_HASH_STATE);
  BYTE byHashData[128] = {};
  DWORD nHashDataSize = sizeof byHashData;
  LONG nRetCode = 0;
  if (m_uAlgID == CALG_SM3 && DigestKeptOnHost()) {
    // The token digests the kept data in one sequence.
    MR_FAIL_IF(g_pDeviceHandle == NULL || m_pContainer == NULL, L"Check g_pDeviceHandle",
               NTE_NO_KEY);
    const HRESULT hResult = g_pDeviceHandle->DigestOnToken(
        m_pContainer->m_szDeviceName, m_pContainer->m_szContainerName, m_vHostDigestData.data(),
        static_cast<DWORD>(m_vHostDigestData.size()), byHashData, &nHashDataSize, nullptr,
        nullptr);
    MR_FAIL_IF(hResult != S_OK, L"DigestFinal", hResult);
    return TakeTokenDigest(byHashData, nHashDataSize);
  }
  if (m_uAlgID == CALG_SM3) {
    const HRESULT hResult = CheckTokenDigest();
    if (hResult != S_OK) {
      return hResult;
    }
    nRetCode = DigestFinal(m_pDigestKeyCtx->get(), byHashData, &nHashDataSize);
  } else {
    // HashFinal releases the context whatever it answers; a context that a
    // failed Final already released is not hashed into again.
    MR_FAIL_IF(m_pHashCtx == NULL, L"Check m_pHashCtx", NTE_BAD_HASH_STATE);
    nRetCode = HashFinal(m_pHashCtx, byHashData, &nHashDataSize);
    m_pHashCtx = nullptr;
  }
  MR_FAIL_IF(nRetCode != 0x00, L"DigestFinal", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_FAIL_IF(nHashDataSize != m_dwHashLen, L"Check hash final size", NTE_BAD_HASH);
  std::memcpy(m_pHashData, byHashData, nHashDataSize);
  m_bFinal = TRUE;
  return S_OK;
}

HRESULT HashHandle::SetHashValue(const BYTE* pData) {
  MR_TRACE("HashHandle::SetHashValue");
  MR_FAIL_IF(!pData, L"Check parameter", E_INVALIDARG);
  MR_FAIL_IF(m_pHashData == NULL, L"Check m_pHashData", NTE_BAD_HASH_STATE);
  std::memcpy(m_pHashData, pData, m_dwHashLen);
  m_bFinal = TRUE;
  m_bHashValueSet = TRUE;
  return S_OK;
}

HRESULT HashHandle::CheckTokenDigest() const {
  MR_TRACE("HashHandle::CheckTokenDigest");
  MR_FAIL_IF(!m_pDigestKeyCtx, L"Check m_pDigestKeyCtx", NTE_BAD_HASH_STATE);
  // A refresh of the device list retired the token context the digest runs
  // in: the token no longer holds this digest's session.
  const BOOL bCurrent = m_pDigestKeyCtx->IsCurrent() ? TRUE : FALSE;
  MR_FAIL_IF(bCurrent == FALSE, L"Check the digest's token context", NTE_BAD_HASH_STATE);
  return S_OK;
}

void HashHandle::ReleaseSoftwareHash(HASH_HANDLE** ppHashCtx) {
  if (*ppHashCtx == nullptr) {
    return;
  }
  BYTE byScratch[128] = {};
  DWORD dwScratchSize = sizeof byScratch;
  HashFinal(*ppHashCtx, byScratch, &dwScratchSize);
  *ppHashCtx = nullptr;
}

HRESULT HashHandle::DestroyContext(void* pKeyCtx) {
  MR_TRACE("HashHandle::DestroyContext");
  if (pKeyCtx != nullptr) {
    const LONG nRet = AsymKeyFinal(pKeyCtx);
    if (nRet != 0) {
      MR_LOG_FAIL(L"AsymKeyFinal", L"nRet != 0", HRESULT_FROM_TOKEN_ERROR(nRet));
    }
  }
  return S_OK;
}

HRESULT HashHandle::MD5Data(DEV_CTX* pDevCtx, const BYTE* pbyData, DWORD dwDataSize,
                            BYTE** ppbyHashData, DWORD* pdwHashDataSize) {
  MR_TRACE("HashHandle::MD5Data");
  MR_FAIL_IF(ppbyHashData == NULL, L"Check ppbyHashData", E_INVALIDARG);
  MR_FAIL_IF(pdwHashDataSize == NULL, L"Check pdwHashDataSize", E_INVALIDARG);
  HASH_HANDLE* pHashCtx = nullptr;
  LONG nRetCode = HashInit(pDevCtx, MR_ALG_MD5, &pHashCtx);
  MR_FAIL_IF(nRetCode != 0x00, L"HashInit(MD5)", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  nRetCode = HashUpdate(pHashCtx, pbyData, dwDataSize);
  if (nRetCode != 0x00) {
    ReleaseSoftwareHash(&pHashCtx);
    MR_LOG_FAIL(L"HashUpdate(MD5)", L"nRetCode != 0x00", HRESULT_FROM_TOKEN_ERROR(nRetCode));
    return HRESULT_FROM_TOKEN_ERROR(nRetCode);
  }
  BYTE byBuffer[64] = {};
  DWORD dwBufferSize = sizeof byBuffer;
  nRetCode = HashFinal(pHashCtx, byBuffer, &dwBufferSize);
  MR_FAIL_IF(nRetCode != 0x00, L"HashFinal(MD5)", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_FAIL_IF(dwBufferSize != 16, L"Check MD5 size", E_FAIL);
  merro::OwnedBytes pbyHashData = merro::OwnedBytes::CopyOf(byBuffer, 16);
  MR_FAIL_IF(!pbyHashData, L"New buffer", E_OUTOFMEMORY);
  pbyHashData.HandOut(ppbyHashData, pdwHashDataSize);
  return S_OK;
}

}  // namespace merro::provider
