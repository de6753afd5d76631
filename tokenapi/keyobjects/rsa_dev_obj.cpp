#include "tokenapi/keyobjects/rsa_dev_obj.h"

#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/rsa_private_commands.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"
#include "tokenapi/crypto/rsa/rsa_public.h"
#include "tokenapi/keyobjects/key_op_step.h"


using merro::keyobjects::RefuseForeignResult;
using merro::keyobjects::StepResult;
using merro::keyobjects::kResultBadAlgorithm;
using merro::keyobjects::kResultBadLength;
using merro::keyobjects::kResultBufferTooSmall;
using merro::keyobjects::kResultHostEncryptFailed;
using merro::crypto::kPkcs1Overhead;

bool CRSADevObj::SetKeyType(BYTE byKeyType) {
  if (byKeyType == MR_ALG_RSA2048) {
    m_nModulusLen = 256;
  } else if (byKeyType == MR_ALG_RSA1024) {
    m_nModulusLen = 128;
  }
  m_byKeyType = byKeyType;
  return true;
}

DWORD CRSADevObj::GetOutLen(BYTE, DWORD) { return m_nModulusLen; }

HRESULT CRSADevObj::Decrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("CRSADevObj::Decrypt");
  if (nInlen != m_nModulusLen) {
    return StepResult(mrTraceScope_, L"CHECK nInlen", kResultBadLength);
  }
  return StepResult(mrTraceScope_, L"mr_RSAPriKeyRaw",
                    mr_RSAPriKeyRaw(m_pDevCtx, m_wKeyFID, m_byKeyType, pInbuf, nInlen, pOutbuf,
                                    pOutLen));
}

HRESULT CRSADevObj::SignDataInit(BYTE nHashType) {
  MR_TRACE("CRSADevObj::SignDataInit");
  m_shadow.End();
  // 0 stays when the hash type is refused.
  BYTE digestLen = 0;
  const HRESULT hr = StepResult(mrTraceScope_, L"mr_RSASignDataInit",
                                mr_RSASignDataInit(m_pDevCtx, nHashType, &digestLen));
  m_byDigestLen = digestLen;
  if (FAILED(hr)) {
    return hr;
  }
  return StepResult(mrTraceScope_, L"SignShadow::Start", m_shadow.Start(nHashType, nullptr, 0));
}

HRESULT CRSADevObj::SignDataUpdate(const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("CRSADevObj::SignDataUpdate");
  return m_shadow.Fed(StepResult(mrTraceScope_, L"mr_RSASignDataUpdate",
                                 mr_RSASignDataUpdate(m_pDevCtx, pInbuf, nInlen)),
                      pInbuf, nInlen);
}

HRESULT CRSADevObj::SignDataFinal(BYTE* pDigestbuf, DWORD* pDigestlen) {
  MR_TRACE("CRSADevObj::SignDataFinal");
  if (pDigestlen == nullptr) {
    return StepResult(mrTraceScope_, L"CHECK *pDigestlen SIZE", kResultBufferTooSmall);
  }
  if (*pDigestlen < m_byDigestLen) {
    *pDigestlen = 0;
    return StepResult(mrTraceScope_, L"CHECK *pDigestlen SIZE", kResultBufferTooSmall);
  }
  const DWORD capacity = *pDigestlen;
  DWORD digestLen = capacity;
  const HRESULT hr = StepResult(mrTraceScope_, L"mr_RSASignDataFinal",
                                mr_RSASignDataFinal(m_pDevCtx, m_byDigestLen, pDigestbuf, &digestLen));
  *pDigestlen = digestLen;
  return FAILED(hr) ? hr : m_shadow.CheckDigest(mrTraceScope_, pDigestbuf, capacity, pDigestlen);
}

HRESULT CRSADevObj::SignDataResult(BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CRSADevObj::SignDataResult");
  const DWORD capacity = pSignlen != nullptr ? *pSignlen : 0;
  HRESULT hr = StepResult(mrTraceScope_, L"mr_RSASignDataResult",
                          mr_RSASignDataResult(m_pDevCtx, m_wKeyFID, m_byKeyType, pSignbuf, pSignlen));
  if (FAILED(hr)) {
    return hr;
  }
  // The token signs the digest it holds: it must be over this context's
  // data, so the signature must verify over the shadow's digest with the
  // key file's public key.
  RSA_KEY pub{};
  hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                  mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, &pub));
  const BYTE* own = nullptr;
  DWORD ownLen = 0;
  const bool ours = SUCCEEDED(hr) && m_shadow.Digest(&own, &ownLen) &&
                    merro::crypto::RSA_Verify(&pub, m_shadow.HashType(), own, pSignbuf, *pSignlen) == 0;
  m_shadow.End();
  if (!ours) {
    return RefuseForeignResult(mrTraceScope_, L"CHECK signature", pSignbuf, capacity, pSignlen);
  }
  return S_OK;
}

HRESULT CRSADevObj::SignXML(BYTE nHashType, const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf,
                            DWORD* pSignlen) {
  MR_TRACE("CRSADevObj::SignXML");
  if (nHashType != MR_ALG_SHA256) {
    return StepResult(mrTraceScope_, L"CHECK nHashType", kResultBadAlgorithm);
  }
  return StepResult(mrTraceScope_, L"mr_RSASignXML",
                    mr_RSASignXML(m_pDevCtx, m_wKeyFID, m_byKeyType, MR_ALG_SHA256, pInbuf, nInlen,
                                  pSignbuf, pSignlen));
}

HRESULT CRSADevObj::SignDigest(const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CRSADevObj::SignDigest");
  if (nInlen != m_nModulusLen) {
    return StepResult(mrTraceScope_, L"CHECK nInlen", kResultBadLength);
  }
  return StepResult(mrTraceScope_, L"mr_RSAPriKeyRaw",
                    mr_RSAPriKeyRaw(m_pDevCtx, m_wKeyFID, m_byKeyType, pInbuf, nInlen, pSignbuf,
                                    pSignlen));
}

HRESULT CRSADevObj::Encrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("CRSADevObj::Encrypt");
  RSA_KEY pub{};
  HRESULT hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                          mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, &pub));
  if (FAILED(hr)) {
    return hr;
  }
  const DWORD nLen = pub.nLen;
  // An input that is already a PKCS#1 v1.5 encryption block goes raw.
  const bool isBlock = pInbuf != nullptr && nInlen >= 2 && pInbuf[0] == 0x00 && pInbuf[1] == 0x02;
  const bool lengthOk = isBlock ? nInlen == nLen : nLen >= kPkcs1Overhead && nInlen <= nLen - kPkcs1Overhead;
  if (!lengthOk) {
    return StepResult(mrTraceScope_, L"CHECK nInlen", kResultBadLength);
  }
  // The ciphertext has the length of the key on the token, which need not
  // be the one this object was made for.
  if (pOutLen == nullptr || *pOutLen < nLen) {
    return StepResult(mrTraceScope_, L"CHECK *pOutLen SIZE", kResultBufferTooSmall);
  }
  hr = merro::crypto::RSA_Encrypt(&pub, pInbuf, nInlen, pOutbuf, pOutLen,
                                  isBlock ? merro::crypto::MR_RSA_NO_PADDING
                                          : merro::crypto::MR_RSA_PKCS1_PADDING);
  if (hr != 0) {
    return StepResult(mrTraceScope_, L"RSA_Encrypt", kResultHostEncryptFailed);
  }
  MR_LOG_STEP(L"RSA_Encrypt");
  return S_OK;
}

HRESULT CRSADevObj::Verify(BYTE nHashType, const BYTE* pDigestbuf, DWORD nHashlen,
                           const BYTE* pSignbuf, DWORD nSignlen) {
  MR_TRACE("CRSADevObj::Verify");
  // The digest length of this hash type, kept local: m_byDigestLen belongs
  // to a hashing sequence that may be under way on this object.
  const merro::crypto::Pkcs1DigestInfo* info = merro::crypto::FindPkcs1DigestInfo(nHashType);
  if (info == nullptr || nHashlen != info->dwDigestLen) {
    return StepResult(mrTraceScope_, L"CHECK nHashlen", kResultBadLength);
  }
  RSA_KEY pub{};
  HRESULT hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                          mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, &pub));
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::crypto::RSA_Verify(&pub, nHashType, pDigestbuf, pSignbuf, nSignlen);
  if (hr != 0) {
    return StepResult(mrTraceScope_, L"RSA_Verify", kResultHostEncryptFailed);
  }
  MR_LOG_STEP(L"RSA_Verify");
  return S_OK;
}
