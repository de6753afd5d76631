#include "tokenapi/keyobjects/sign_shadow.h"

#include <cstring>

#include "foundation/secure_wipe.h"
#include "tokenapi/commands/private_key_codes.h"
#include "tokenapi/commands/routine_steps.h"

namespace merro::keyobjects {

HRESULT SignShadow::Start(BYTE hashType, const BYTE* prefix, DWORD prefixLen) {
  End();
  merro::crypto::HASH_CTX* ctx = nullptr;
  HRESULT hr = merro::crypto::Hash_Init(&ctx, hashType);
  if (FAILED(hr)) {
    return hr;
  }
  m_hash.reset(ctx);
  m_hashType = hashType;
  if (prefixLen != 0) {
    hr = merro::crypto::Hash_Update(ctx, prefix, prefixLen);
    if (FAILED(hr)) {
      End();
    }
  }
  return hr;
}

HRESULT SignShadow::Fed(HRESULT tokenResult, const BYTE* data, DWORD len) {
  if (FAILED(tokenResult) ||
      (m_hash && len != 0 && FAILED(merro::crypto::Hash_Update(m_hash.get(), data, len)))) {
    End();
  }
  return tokenResult;
}

bool SignShadow::Digest(const BYTE** ppDigest, DWORD* pLen) {
  if (!m_finished && m_hash) {
    DWORD len = sizeof m_digest;
    // Hash_Final frees the context on every path past its argument checks.
    const HRESULT hr = merro::crypto::Hash_Final(m_hash.release(), m_digest, &len);
    m_finished = SUCCEEDED(hr);
    m_digestLen = m_finished ? len : 0;
  }
  *ppDigest = m_digest;
  *pLen = m_digestLen;
  return m_finished;
}

HRESULT SignShadow::CheckDigest(const TraceHelper& scope, BYTE* pDigest, DWORD capacity, DWORD* pLen) {
  const BYTE* own = nullptr;
  DWORD ownLen = 0;
  if (!Digest(&own, &ownLen) || ownLen != *pLen || std::memcmp(own, pDigest, ownLen) != 0) {
    return RefuseForeignResult(scope, L"CHECK digest", pDigest, capacity, pLen);
  }
  return S_OK;
}

void SignShadow::End() {
  m_hash.reset();
  m_hashType = 0;
  m_finished = false;
  merro::SecureWipe(m_digest, sizeof m_digest);
  m_digestLen = 0;
}

HRESULT RefuseForeignResult(const TraceHelper& scope, const wchar_t* step, BYTE* pOut,
                            DWORD capacity, DWORD* pOutLen) {
  if (pOut != nullptr) {
    merro::SecureWipe(pOut, capacity);
  }
  if (pOutLen != nullptr) {
    *pOutLen = 0;
  }
  return merro::commands::StepResult(scope, step, MR_E_SIGN_DATA_MISMATCH);
}

}  // namespace merro::keyobjects
