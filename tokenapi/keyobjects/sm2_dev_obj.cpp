#include "tokenapi/keyobjects/sm2_dev_obj.h"

#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/sm2_private_commands.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/crypto/sm2/sm2_curve.h"
#include "tokenapi/keyobjects/key_op_step.h"

using merro::keyobjects::CheckFailed;
using merro::keyobjects::FoldedStep;
using merro::keyobjects::kBadLength;

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
  return FoldedStep(mrTraceScope_, L"mr_SM2Decrypt",
                    mr_SM2Decrypt(m_pDevCtx, m_wKeyFID, pInbuf, nInlen, pOutbuf, pOutLen));
}

HRESULT CSM2DevObj::SignDataInit(BYTE) {
  MR_TRACE("CSM2DevObj::SignDataInit");
  return FoldedStep(mrTraceScope_, L"mr_SM2SignDataInit", mr_SM2SignDataInit(m_pDevCtx, m_wKeyFID));
}

HRESULT CSM2DevObj::SignDataUpdate(const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("CSM2DevObj::SignDataUpdate");
  return FoldedStep(mrTraceScope_, L"mr_SM2SignDataUpdate",
                    mr_SM2SignDataUpdate(m_pDevCtx, pInbuf, nInlen));
}

HRESULT CSM2DevObj::SignDataFinal(BYTE* pDigestbuf, DWORD* pDigestlen) {
  MR_TRACE("CSM2DevObj::SignDataFinal");
  if (pDigestlen == nullptr || *pDigestlen < MR_SM2_DIGEST_LEN) {
    return CheckFailed(mrTraceScope_, L"CHECK *pDigestlen SIZE", merro::keyobjects::kBufferTooSmall);
  }
  return FoldedStep(mrTraceScope_, L"mr_SM2SignDataFinal",
                    mr_SM2SignDataFinal(m_pDevCtx, pDigestbuf, pDigestlen));
}

HRESULT CSM2DevObj::SignDataResult(BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CSM2DevObj::SignDataResult");
  // The commands sent since the digest (authentication, PIN, container
  // reads) may have selected another file: the key file signs.
  BYTE info[MR_FILE_INFO_LEN];
  DWORD infoLen = sizeof info;
  const HRESULT hr = FoldedStep(mrTraceScope_, L"mr_SelectFile",
                                mr_SelectFile(m_pDevCtx, MR_SELECT_BY_ID, m_wKeyFID, info, &infoLen));
  if (FAILED(hr)) {
    return hr;
  }
  return FoldedStep(mrTraceScope_, L"mr_SM2SignDataResult",
                    mr_SM2SignDataResult(m_pDevCtx, pSignbuf, pSignlen));
}

HRESULT CSM2DevObj::SignXML(BYTE nHashType, const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf,
                            DWORD* pSignlen) {
  MR_TRACE("CSM2DevObj::SignXML");
  if (nHashType != MR_ALG_SM3) {
    return CheckFailed(mrTraceScope_, L"CHECK nHashType", merro::keyobjects::kBadAlgorithm);
  }
  return FoldedStep(mrTraceScope_, L"mr_SM2SignXML",
                    mr_SM2SignXML(m_pDevCtx, m_wKeyFID, pInbuf, nInlen, pSignbuf, pSignlen));
}

HRESULT CSM2DevObj::SignDigest(const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CSM2DevObj::SignDigest");
  if (nInlen != MR_SM2_DIGEST_LEN) {
    return CheckFailed(mrTraceScope_, L"CHECK nInlen", kBadLength);
  }
  return FoldedStep(mrTraceScope_, L"mr_SM2SignDigest",
                    mr_SM2SignDigest(m_pDevCtx, m_wKeyFID, pInbuf, MR_SM2_DIGEST_LEN, pSignbuf,
                                     pSignlen));
}

HRESULT CSM2DevObj::Encrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("CSM2DevObj::Encrypt");
  // SM2 has no ciphertext of an empty message; the output must take the
  // whole ciphertext.
  if (nInlen == 0 || nInlen > kMaxPlainLen) {
    return CheckFailed(mrTraceScope_, L"CHECK nInlen", kBadLength);
  }
  if (pOutLen == nullptr || *pOutLen < nInlen + MR_SM2_CIPHER_OVERHEAD) {
    return CheckFailed(mrTraceScope_, L"CHECK *pOutLen SIZE", merro::keyobjects::kBufferTooSmall);
  }
  BYTE pub[kSm2PublicKeyLen];
  HRESULT hr = FoldedStep(mrTraceScope_, L"mr_ExportPublicKey",
                          mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, pub));
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::crypto::SM2_Encrypt(pub, pInbuf, nInlen, pOutbuf, pOutLen);
  if (hr != 0) {
    return CheckFailed(mrTraceScope_, L"SM2_Encrypt", merro::keyobjects::kHostEncryptFailed);
  }
  MR_LOG_STEP(L"SM2_Encrypt");
  return S_OK;
}

HRESULT CSM2DevObj::Verify(BYTE, const BYTE* pDigestbuf, DWORD nHashlen, const BYTE* pSignbuf,
                           DWORD nSignlen) {
  MR_TRACE("CSM2DevObj::Verify");
  if (nHashlen != MR_SM2_DIGEST_LEN) {
    return CheckFailed(mrTraceScope_, L"CHECK nHashlen", kBadLength);
  }
  BYTE pub[kSm2PublicKeyLen];
  HRESULT hr = FoldedStep(mrTraceScope_, L"mr_ExportPublicKey",
                          mr_ExportPublicKey(m_pDevCtx, m_byKeyType, m_wKeyFID, pub));
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::crypto::SM2_Verify(pub, pDigestbuf, pSignbuf, nSignlen);
  if (hr != 0) {
    return CheckFailed(mrTraceScope_, L"SM2_Verify", merro::keyobjects::kSm2VerifyFailed);
  }
  MR_LOG_STEP(L"SM2_Verify");
  return S_OK;
}
