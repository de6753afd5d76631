// HashHandle: the SM3 data kept on the host for the token's digest, and
// the switch to a digest streamed to the token once the data outgrows it.
//
// The token has one digest for every process that reaches it, so a digest
// left running there between two provider calls can be restarted or fed by
// another hash or process. The kept data lets the token digest (and sign)
// in one sequence within a single call instead.
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

bool HashHandle::DigestKeptOnHost() const {
  // Only an initialised hash (Init made its value buffer) takes data.
  return m_uAlgID == CALG_SM3 && m_pHashData != nullptr && !m_pDigestKeyCtx;
}

bool HashHandle::DigestStreamsToToken() const {
  return m_uAlgID == CALG_SM3 && m_pDigestKeyCtx != nullptr;
}

HRESULT HashHandle::TakeTokenDigest(const BYTE* pbyDigest, DWORD dwDigestSize) {
  MR_TRACE("HashHandle::TakeTokenDigest");
  MR_FAIL_IF(pbyDigest == NULL || m_pHashData == NULL, L"Check parameter", E_INVALIDARG);
  MR_FAIL_IF(dwDigestSize != m_dwHashLen, L"Check hash final size", NTE_BAD_HASH);
  if (m_bFinal) {
    MR_FAIL_IF(std::memcmp(m_pHashData, pbyDigest, m_dwHashLen) != 0,
               L"Check the token's digest is the hash value", NTE_BAD_HASH);
    return S_OK;
  }
  std::memcpy(m_pHashData, pbyDigest, m_dwHashLen);
  m_bFinal = TRUE;
  return S_OK;
}

HRESULT HashHandle::KeepHostDigestData(const BYTE* pData, DWORD dwDataLen) {
  try {
    m_vHostDigestData.insert(m_vHostDigestData.end(), pData, pData + dwDataLen);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT HashHandle::StreamKeptDataToToken() {
  MR_TRACE("HashHandle::StreamKeptDataToToken");
  std::shared_ptr<DigestKeyContext> spKeyCtx;
  const HRESULT hResult = OpenDigestKeyContext(&spKeyCtx);
  if (hResult != S_OK) {
    return hResult;
  }
  LONG nRet = DigestInit(spKeyCtx->get(), MR_ALG_SM3);
  MR_FAIL_IF(nRet != 0, L"DigestInit", NTE_BAD_HASH);
  if (!m_vHostDigestData.empty()) {
    nRet = DigestUpdate(spKeyCtx->get(), m_vHostDigestData.data(),
                        static_cast<DWORD>(m_vHostDigestData.size()));
    MR_FAIL_IF(nRet != 0, L"DigestUpdate", HRESULT_FROM_TOKEN_ERROR(nRet));
  }
  // The token's digest now holds what the copy held: from here on the hash
  // is fed, finished and signed there, as a hash of its own context.
  m_pDigestKeyCtx = std::move(spKeyCtx);
  m_ullDigestChange = m_pDigestKeyCtx->NoteChange();
  std::vector<BYTE>().swap(m_vHostDigestData);
  return S_OK;
}

}  // namespace merro::provider
