#include "tokenapi/keyobjects/sm2_dev_obj.h"

#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/sm2_private_commands.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/crypto/sm2/sm2_curve.h"
#include "tokenapi/crypto/sm2/sm2_z.h"
#include "tokenapi/keyobjects/key_op_step.h"


using merro::keyobjects::RefuseForeignResult;
using merro::keyobjects::StepResult;
using merro::keyobjects::kResultBadAlgorithm;
using merro::keyobjects::kResultBadLength;
using merro::keyobjects::kResultBufferTooSmall;
using merro::keyobjects::kResultHostEncryptFailed;
using merro::keyobjects::kResultSm2VerifyFailed;

namespace {
// The exported public key: x then y.
constexpr DWORD kSm2PublicKeyLen = merro::crypto::kSm2PublicKeyBytes;
// The longest plaintext whose ciphertext length fits 32 bits.
constexpr DWORD kMaxPlainLen = 0xFFFFFFFFu - MR_SM2_CIPHER_OVERHEAD;
}  // namespace

bool CSM2DevObj::SetKeyType(BYTE byKeyType) {
  m_byKeyType = byKeyType;
  return true;
}

DWORD CSM2DevObj::GetOutLen(BYTE byOperation, DWORD nInlen) {
  switch (byOperation) {
    case ASYMKEY_OP_ENCRYPT:
      // A length that would wrap asks for more than any buffer holds.
      return nInlen > kMaxPlainLen ? 0xFFFFFFFFu : nInlen + MR_SM2_CIPHER_OVERHEAD;
    case ASYMKEY_OP_DECRYPT:
      return nInlen - MR_SM2_CIPHER_OVERHEAD;
    case ASYMKEY_OP_SIGN:
    case ASYMKEY_OP_VERIFY:
      return MR_SM2_SIGNATURE_LEN;
    default:
      return 0;
  }
}

HRESULT CSM2DevObj::Decrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("CSM2DevObj::Decrypt");
  // pOutLen carries the caller's capacity to the command, which bounds the
  // token's reply by it.
  return StepResult(mrTraceScope_, L"mr_SM2Decrypt",
                    mr_SM2Decrypt(m_pDevCtx, m_wKeyFID, pInbuf, nInlen, pOutbuf, pOutLen));
}

HRESULT CSM2DevObj::SignDataInit(BYTE) {
  MR_TRACE("CSM2DevObj::SignDataInit");
  m_shadow.End();
  HRESULT hr = StepResult(mrTraceScope_, L"mr_SM2SignDataInit", mr_SM2SignDataInit(m_pDevCtx, m_wKeyFID));
  if (FAILED(hr)) {
    return hr;
  }
  // The shadow: SM3 over Z of the key file's public key (the default
  // identity, as the token's start), then the data.
  hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                  mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, m_signerPublic));
  if (FAILED(hr)) {
    return hr;
  }
  BYTE z[merro::crypto::kSm2ZBytes];
  const BYTE* y = m_signerPublic + merro::crypto::kSm2FieldBytes;
  if (merro::crypto::SM2_CalculateDefaultZValue(m_signerPublic, y, z) != 1) {
    return StepResult(mrTraceScope_, L"SM2_CalculateDefaultZValue", kResultHostEncryptFailed);
  }
  return StepResult(mrTraceScope_, L"SignShadow::Start", m_shadow.Start(MR_ALG_SM3, z, sizeof z));
}

HRESULT CSM2DevObj::SignDataUpdate(const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("CSM2DevObj::SignDataUpdate");
  return m_shadow.Fed(StepResult(mrTraceScope_, L"mr_SM2SignDataUpdate",
                                 mr_SM2SignDataUpdate(m_pDevCtx, pInbuf, nInlen)),
                      pInbuf, nInlen);
}

HRESULT CSM2DevObj::SignDataFinal(BYTE* pDigestbuf, DWORD* pDigestlen) {
  MR_TRACE("CSM2DevObj::SignDataFinal");
  if (pDigestlen == nullptr || *pDigestlen < MR_SM2_DIGEST_LEN) {
    return StepResult(mrTraceScope_, L"CHECK *pDigestlen SIZE", kResultBufferTooSmall);
  }
  const DWORD capacity = *pDigestlen;
  const HRESULT hr = StepResult(mrTraceScope_, L"mr_SM2SignDataFinal",
                                mr_SM2SignDataFinal(m_pDevCtx, pDigestbuf, pDigestlen));
  return FAILED(hr) ? hr : m_shadow.CheckDigest(mrTraceScope_, pDigestbuf, capacity, pDigestlen);
}

HRESULT CSM2DevObj::SignDataResult(BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CSM2DevObj::SignDataResult");
  // The commands sent since the digest (authentication, PIN, container
  // reads) may have selected another file: the key file signs.
  HRESULT hr = merro::commands::SelectStep(mrTraceScope_, L"mr_SelectFile", m_pDevCtx, m_wKeyFID);
  if (FAILED(hr)) {
    return hr;
  }
  const DWORD capacity = pSignlen != nullptr ? *pSignlen : 0;
  hr = StepResult(mrTraceScope_, L"mr_SM2SignDataResult",
                  mr_SM2SignDataResult(m_pDevCtx, pSignbuf, pSignlen));
  if (FAILED(hr)) {
    return hr;
  }
  // The token signs the digest it holds: it must be over this context's
  // data, so the signature must verify over the shadow's digest.
  const BYTE* own = nullptr;
  DWORD ownLen = 0;
  const bool ours = m_shadow.Digest(&own, &ownLen) &&
                    merro::crypto::SM2_Verify(m_signerPublic, own, pSignbuf, *pSignlen) == 0;
  m_shadow.End();
  if (!ours) {
    return RefuseForeignResult(mrTraceScope_, L"CHECK signature", pSignbuf, capacity, pSignlen);
  }
  return S_OK;
}

HRESULT CSM2DevObj::SignXML(BYTE nHashType, const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf,
                            DWORD* pSignlen) {
  MR_TRACE("CSM2DevObj::SignXML");
  if (nHashType != MR_ALG_SM3) {
    return StepResult(mrTraceScope_, L"CHECK nHashType", kResultBadAlgorithm);
  }
  return StepResult(mrTraceScope_, L"mr_SM2SignXML",
                    mr_SM2SignXML(m_pDevCtx, m_wKeyFID, pInbuf, nInlen, pSignbuf, pSignlen));
}

HRESULT CSM2DevObj::SignDigest(const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CSM2DevObj::SignDigest");
  if (nInlen != MR_SM2_DIGEST_LEN) {
    return StepResult(mrTraceScope_, L"CHECK nInlen", kResultBadLength);
  }
  return StepResult(mrTraceScope_, L"mr_SM2SignDigest",
                    mr_SM2SignDigest(m_pDevCtx, m_wKeyFID, pInbuf, MR_SM2_DIGEST_LEN, pSignbuf,
                                     pSignlen));
}

HRESULT CSM2DevObj::Encrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("CSM2DevObj::Encrypt");
  // SM2 has no ciphertext of an empty message; the output must take the
  // whole ciphertext.
  if (nInlen == 0 || nInlen > kMaxPlainLen) {
    return StepResult(mrTraceScope_, L"CHECK nInlen", kResultBadLength);
  }
  if (pOutLen == nullptr || *pOutLen < nInlen + MR_SM2_CIPHER_OVERHEAD) {
    return StepResult(mrTraceScope_, L"CHECK *pOutLen SIZE", kResultBufferTooSmall);
  }
  BYTE pub[kSm2PublicKeyLen];
  HRESULT hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                          mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, pub));
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::crypto::SM2_Encrypt(pub, pInbuf, nInlen, pOutbuf, pOutLen);
  if (hr != 0) {
    return StepResult(mrTraceScope_, L"SM2_Encrypt", kResultHostEncryptFailed);
  }
  MR_LOG_STEP(L"SM2_Encrypt");
  return S_OK;
}

HRESULT CSM2DevObj::Verify(BYTE, const BYTE* pDigestbuf, DWORD nHashlen, const BYTE* pSignbuf,
                           DWORD nSignlen) {
  MR_TRACE("CSM2DevObj::Verify");
  if (nHashlen != MR_SM2_DIGEST_LEN) {
    return StepResult(mrTraceScope_, L"CHECK nHashlen", kResultBadLength);
  }
  BYTE pub[kSm2PublicKeyLen];
  HRESULT hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                          mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, pub));
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::crypto::SM2_Verify(pub, pDigestbuf, pSignbuf, nSignlen);
  if (hr != 0) {
    return StepResult(mrTraceScope_, L"SM2_Verify", kResultSm2VerifyFailed);
  }
  MR_LOG_STEP(L"SM2_Verify");
  return S_OK;
}
