// HashHandle: copying a hash into a second handle.
//
// A finished hash hands over its value. An SM3 hash whose data is kept on
// the host hands over a copy of that data too, so that the two go on (and
// are signed) independently. Otherwise an unfinished hash has its digest so
// far only in its own context, which cannot be copied: the duplicate is
// rebuilt from the kept source data (a software digest is fed it, a digest
// streamed to the token is started again over it), or refused when that
// data did not all fit (or the digest holds more than it), so that no
// duplicate silently lacks the earlier data.
//
// The duplicate's own kept source data starts empty. Its digest, though,
// holds the source's data: the duplicate is marked so, and its kept text is
// never taken for all that it hashed (a transaction message hashed into it
// afterwards would otherwise be shown and signed without that data).
#include <cstring>
#include <new>

#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "provider/hash_handle.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "HashHandle"

namespace merro::provider {

HRESULT HashHandle::Duplicate(HashHandle* pDstHashHandle) {
  MR_TRACE("HashHandle::Duplicate");
  MR_FAIL_IF(!pDstHashHandle, L"Check parameter", E_INVALIDARG);
  // The destination's own Init with this algorithm made its value buffer of
  // this length.
  const BOOL bSameDigest = pDstHashHandle != this && pDstHashHandle->m_uAlgID == m_uAlgID &&
                           pDstHashHandle->m_dwHashLen == m_dwHashLen &&
                           pDstHashHandle->m_pHashData != nullptr && m_pHashData != nullptr;
  MR_FAIL_IF(bSameDigest == FALSE, L"Check the destination's digest", E_INVALIDARG);
  const bool bHostDigest = DigestKeptOnHost();
  MR_FAIL_IF(!m_bFinal && !bHostDigest && !SourceDataIsAllHashed(),
             L"Check m_bSourceDataComplete", NTE_BAD_HASH_STATE);

  if (bHostDigest) {
    HRESULT hResult = S_OK;
    try {
      pDstHashHandle->m_vHostDigestData = m_vHostDigestData;
    } catch (const std::bad_alloc&) {
      hResult = E_OUTOFMEMORY;
    }
    MR_FAIL_IF(hResult != S_OK, L"Copy the kept data", hResult);
    pDstHashHandle->m_dwHostDigestMax = m_dwHostDigestMax;
  }
  HRESULT hResult = DuplicateContext(pDstHashHandle);
  MR_FAIL_IF(S_OK != hResult, L"HashCtxDuplicate", hResult);
  if (!m_bFinal && !bHostDigest) {
    hResult = m_uAlgID == CALG_SM3 ? RestartTokenDigest() : pDstHashHandle->FeedSoftwareHash(
                                                                m_bySourceData,
                                                                m_dwCurrentSourceDataSize);
    if (hResult != S_OK) {
      return hResult;
    }
  }
  pDstHashHandle->m_uAlgID = m_uAlgID;
  pDstHashHandle->m_dwHashLen = m_dwHashLen;
  pDstHashHandle->m_bFinal = m_bFinal;
  pDstHashHandle->m_bDigestBeyondSourceData = HoldsHashedData() ? TRUE : FALSE;
  pDstHashHandle->m_ullDigestChange = m_ullDigestChange;
  std::memcpy(pDstHashHandle->m_pHashData, m_pHashData, m_dwHashLen);
  return S_OK;
}

HRESULT HashHandle::DuplicateContext(HashHandle* pOutHashHandle) {
  MR_TRACE("HashHandle::DuplicateContext");
  MR_FAIL_IF(!pOutHashHandle, L"Check parameter", E_INVALIDARG);
  // The destination's own context goes when it holds the last reference.
  pOutHashHandle->m_pDigestKeyCtx = m_pDigestKeyCtx;
  return S_OK;
}

HRESULT HashHandle::FeedSoftwareHash(const BYTE* pData, DWORD dwDataLen) {
  MR_TRACE("HashHandle::FeedSoftwareHash");
  MR_FAIL_IF(m_pHashCtx == NULL, L"Check m_pHashCtx", NTE_BAD_HASH_STATE);
  if (dwDataLen == 0) {
    return S_OK;
  }
  const LONG nRetCode = HashUpdate(m_pHashCtx, pData, dwDataLen);
  MR_FAIL_IF(nRetCode != 0x00, L"HashUpdate", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  return S_OK;
}

HRESULT HashHandle::RestartTokenDigest() {
  MR_TRACE("HashHandle::RestartTokenDigest");
  HRESULT hResult = CheckTokenDigest();
  if (hResult != S_OK) {
    return hResult;
  }
  // The destination's Init started the token's one digest afresh. Once
  // restarted, the digest is this hash's data again, shared with the
  // duplicate.
  m_ullDigestChange = m_pDigestKeyCtx->NoteChange();
  LONG nRetCode = DigestInit(m_pDigestKeyCtx->get(), MR_ALG_SM3);
  MR_FAIL_IF(nRetCode != 0x00, L"DigestInit", NTE_BAD_HASH);
  if (m_dwCurrentSourceDataSize != 0) {
    nRetCode = DigestUpdate(m_pDigestKeyCtx->get(), m_bySourceData, m_dwCurrentSourceDataSize);
    MR_FAIL_IF(nRetCode != 0x00, L"DigestUpdate", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  }
  return S_OK;
}

}  // namespace merro::provider
