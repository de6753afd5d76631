// KeyHandle: signing a finished hash under the transaction-message rules,
// and verifying a signature.
//
// A transaction message (the Foundation recognises its XML) goes as its
// source text to the token, which shows it and signs after the user's
// button, with the user's PIN asked again; other data is signed as a hash
// value, an SM3 hash's by the token that digests the data in the same
// sequence. The token's security state is reset after every signature, so
// no verified PIN outlives it.
#include <cstring>
#include <memory>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/byte_order.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/transaction_message.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"
#include "provider/operation_sequence.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

constexpr DWORD SM2_SIGNATURE_RS_SIZE = 64;
constexpr DWORD SM2_SIGNATURE_HALF = SM2_SIGNATURE_RS_SIZE / 2;

// The customer rule set under which SHA-1 may sign a transaction message
// and the kept PIN serves it.
constexpr DWORD kCustomerTAVR = 2;

// Turns a signature between the token's big-endian order and CryptoAPI's
// (one reversal serves both ways): SM2 r and s each reversed, RSA reversed
// whole.
void SwapSignatureOrder(bool bSM2, BYTE* pbySignature, DWORD dwSignatureSize) {
  if (bSM2) {
    SwapByteOrder(pbySignature, SM2_SIGNATURE_HALF);
    SwapByteOrder(pbySignature + SM2_SIGNATURE_HALF, SM2_SIGNATURE_HALF);
  } else {
    SwapByteOrder(pbySignature, dwSignatureSize);
  }
}

// The key-set algorithm of a container whose key works on the token: RSA
// or SM2, a container on a token (not ephemeral) that its token still
// holds, with the device object there.
HRESULT TokenKeySetAlgorithm(const Container* pContainer, UINT* puAlgorithm) {
  MR_TRACE("KeyHandle::TokenKeySetAlgorithm");
  const UINT uAlgorithm = pContainer != nullptr ? pContainer->GetKeySetAlgorithm() : 0;
  MR_FAIL_IF(uAlgorithm != Container::KEYSETALGORITHM_RSA &&
                 uAlgorithm != Container::KEYSETALGORITHM_SM2,
             L"GetKeySetAlgorithm", NTE_BAD_ALGID);
  MR_FAIL_IF(pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  const HRESULT hResult = g_pDeviceHandle->CheckContainerExist(pContainer->m_szDeviceName,
                                                               pContainer->m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", hResult);
  *puAlgorithm = uAlgorithm;
  return S_OK;
}

// What the device object signed: its new buffer (array new) and length.
struct DeviceSignature {
  std::unique_ptr<BYTE[]> spValue;
  DWORD dwSize = 0;
};

// Adopts the buffer a device call handed out.
class DeviceSignatureOut {
 public:
  explicit DeviceSignatureOut(DeviceSignature* pOut) : m_pOut(pOut) {}
  ~DeviceSignatureOut() { m_pOut->spValue.reset(m_pbyValue); }
  DeviceSignatureOut(const DeviceSignatureOut&) = delete;
  DeviceSignatureOut& operator=(const DeviceSignatureOut&) = delete;
  BYTE** Value() { return &m_pbyValue; }
  DWORD* Size() { return &m_pOut->dwSize; }

 private:
  DeviceSignature* m_pOut;
  BYTE* m_pbyValue = nullptr;
};

// S_OK while the token context the hash's on-token digest runs in is still
// its token's current one: only then may the token sign that digest.
HRESULT CheckDigestContext(const HashHandle& hash) {
  MR_TRACE("KeyHandle::CheckDigestContext");
  const BOOL bCurrent = hash.m_pDigestKeyCtx && hash.m_pDigestKeyCtx->IsCurrent();
  MR_FAIL_IF(bCurrent == FALSE, L"Check the digest's token context", NTE_BAD_HASH_STATE);
  return S_OK;
}

// The token digests the data an SM3 hash kept and signs it, in one
// sequence; the hash is finished with that digest (or, finished already,
// must hold it).
HRESULT SignHostDigest(const KeyHandle& key, HashHandle& hash, const OperationSequence& sequence,
                       DeviceSignatureOut* pOut) {
  MR_TRACE("KeyHandle::SignHostDigest");
  BYTE byDigest[64] = {};
  DWORD dwDigestSize = sizeof byDigest;
  HRESULT hResult = g_pDeviceHandle->DigestOnToken(
      key.m_pContainer->m_szDeviceName, key.m_pContainer->m_szContainerName,
      hash.m_vHostDigestData.data(), static_cast<DWORD>(hash.m_vHostDigestData.size()), byDigest,
      &dwDigestSize, pOut->Value(), pOut->Size(), sequence.bSessionSet ? TRUE : FALSE);
  if (hResult != S_OK) {
    return hResult;
  }
  return hash.TakeTokenDigest(byDigest, dwDigestSize);
}

// Road A: the hash has its source data. A transaction message goes to the
// token's display (SHA-1 under the bank's rules as a hash value), with the
// PIN asked again; other data, and data the kept text does not all cover,
// is signed as its hash value, an SM3 digest by the token that computed it.
HRESULT SignSourceData(KeyHandle& key, HashHandle& hash, OperationSequence* pSequence,
                       DeviceSignature* pSignature) {
  MR_TRACE("KeyHandle::SignHashData");
  // Nothing hashed: neither kept data nor a digest holding other data (a
  // duplicate's of its source).
  if (!hash.HoldsHashedData()) {
    MR_LOG_FAIL(L"Check m_dwCurrentSourceDataSize and m_bFinal",
                L"hash.m_dwCurrentSourceDataSize == 0", NTE_BAD_HASH_STATE);
    return NTE_BAD_HASH_STATE;
  }
  const char* pszDevName = key.m_pContainer->m_szDeviceName;
  const char* pszContainerName = key.m_pContainer->m_szContainerName;
  const DWORD dwCustomerType = g_pDeviceHandle->m_dwCustomerType;
  BOOL bTransaction = FALSE;
  // Only a kept text that is all the digest holds may be shown and signed
  // as the message; otherwise the token would sign other data than the
  // caller's hash value covers.
  if (hash.SourceDataIsAllHashed() && hash.m_dwCurrentSourceDataSize < HASH_SOURCE_DATA_MAX) {
    bTransaction = CheckIsTransactionMessage(g_pDeviceHandle->m_dwMessageType, hash.m_bySourceData,
                                             hash.m_dwCurrentSourceDataSize) == 0;
  }
  DeviceSignatureOut out(pSignature);
  HRESULT hResult = S_OK;
  if (bTransaction) {
    // The user confirms on the token's display: a rerun would ask again.
    pSequence->bRerunnable = false;
    // The message goes as text; the hash value is the token's digest of it.
    if (!hash.m_bFinal) {
      hResult = hash.Final();
      MR_FAIL_IF(hResult != S_OK, L"HashHandle final", hResult);
    }
    if (dwCustomerType == kCustomerTAVR) {
      MR_FAIL_IF(hash.m_uAlgID != CALG_SHA_256 && hash.m_uAlgID != CALG_SM3 &&
                     hash.m_uAlgID != CALG_SHA1,
                 L"TAVR Transaction message only can be signed with sha1, sha256, SM3",
                 NTE_BAD_HASH);
    } else {
      MR_FAIL_IF(hash.m_uAlgID != CALG_SHA_256 && hash.m_uAlgID != CALG_SM3,
                 L"Transaction message only can be signed with sha256, sm3", NTE_BAD_HASH);
      // The user types the PIN for every transaction.
      g_pDeviceHandle->ClearKeptPIN(pszDevName);
    }
    hResult = key.CheckUserPIN(TRUE, TRUE, pSequence);
    MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);
    if (dwCustomerType == kCustomerTAVR && hash.m_uAlgID == CALG_SHA1) {
      hResult = g_pDeviceHandle->SignHashValue(pszDevName, pszContainerName, key.m_dwKeySpec,
                                               CALG_SHA1, hash.m_pHashData, hash.m_dwHashLen,
                                               out.Value(), out.Size());
    } else {
      hResult = g_pDeviceHandle->SignXMLMsg(pszDevName, pszContainerName, key.m_dwKeySpec,
                                            hash.m_uAlgID, hash.m_bySourceData,
                                            hash.m_dwCurrentSourceDataSize, out.Value(),
                                            out.Size());
    }
  } else {
    MR_FAIL_IF(hash.m_uAlgID == CALG_SHA_256,
               L"Not transaction message can not be signed with sha256", NTE_BAD_HASH);
    const bool bTokenDigest = hash.DigestStreamsToToken();
    // Checked before the PIN is asked, and again after the PIN dialog, whose
    // modal loop may have run a refresh.
    if (bTokenDigest && (hResult = CheckDigestContext(hash)) != S_OK) {
      return hResult;
    }
    hResult = key.CheckUserPIN(FALSE, TRUE, pSequence);
    MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);
    if (hash.DigestKeptOnHost()) {
      hResult = SignHostDigest(key, hash, *pSequence, &out);
    } else if (bTokenDigest) {
      if ((hResult = CheckDigestContext(hash)) != S_OK) {
        return hResult;
      }
      hResult = g_pDeviceHandle->SignData(pszDevName, pszContainerName, key.m_dwKeySpec,
                                          hash.m_pDigestKeyCtx->get(), out.Value(), out.Size());
    } else {
      hResult = g_pDeviceHandle->SignHashValue(pszDevName, pszContainerName, key.m_dwKeySpec,
                                               hash.m_uAlgID, hash.m_pHashData, hash.m_dwHashLen,
                                               out.Value(), out.Size());
    }
  }
  MR_FAIL_IF(hResult != S_OK, L"SignHashByDevice", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

// Road B: the hash value was given whole; no source data stands behind it.
HRESULT SignGivenValue(KeyHandle& key, HashHandle& hash, OperationSequence* pSequence,
                       DeviceSignature* pSignature) {
  MR_TRACE("KeyHandle::SignHashData");
  MR_FAIL_IF(hash.m_uAlgID == CALG_SHA_256, L"Not transaction message can not be sign with sha256",
             NTE_BAD_HASH);
  HRESULT hResult = key.CheckUserPIN(FALSE, TRUE, pSequence);
  MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);
  DeviceSignatureOut out(pSignature);
  hResult = g_pDeviceHandle->SignHashValue(key.m_pContainer->m_szDeviceName,
                                           key.m_pContainer->m_szContainerName, key.m_dwKeySpec,
                                           hash.m_uAlgID, hash.m_pHashData, hash.m_dwHashLen,
                                           out.Value(), out.Size());
  MR_FAIL_IF(hResult != S_OK, L"SignHashByDevice",
             IsLostTokenState(hResult) ? hResult : NTE_BAD_DATA);
  return S_OK;
}

}  // namespace

HRESULT KeyHandle::SignHashData(HashHandle* pHashHandle, BYTE* pbySignature, DWORD* pdwSigLen) {
  MR_TRACE("KeyHandle::SignHashData");
  MR_FAIL_IF(pHashHandle == NULL, L"Check pHashHandle", NTE_BAD_HASH);
  MR_FAIL_IF(pbySignature == NULL || pdwSigLen == NULL, L"Check parameter", E_INVALIDARG);
  // From here on, every exit resets the token's security state, still
  // under the sequence lock the PIN verification took.
  OperationSequence sequence;
  const ResetTokenOnExit resetToken(m_pContainer);
  UINT uAlgorithm = 0;
  HRESULT hResult = TokenKeySetAlgorithm(m_pContainer, &uAlgorithm);
  if (hResult != S_OK) {
    return hResult;
  }
  // An SM3 hash whose data is on the host is digested by the token in the
  // same sequence as its signature, not once more before it; the
  // transaction road, which signs the text, finishes it itself.
  const bool bDigestWhenSigned =
      pHashHandle->DigestKeptOnHost() && pHashHandle->m_bHashValueSet != TRUE;
  if (pHashHandle->m_bFinal != TRUE && !bDigestWhenSigned) {
    hResult = pHashHandle->Final();
    MR_FAIL_IF(hResult != S_OK, L"HashHandle final", hResult);
  }
  MR_FAIL_IF(uAlgorithm == Container::KEYSETALGORITHM_RSA &&
                 (CALG_RSA_SIGN != m_uAlgID && CALG_RSA_KEYX != m_uAlgID),
             L"Check AlgID", NTE_BAD_ALGID);
  MR_FAIL_IF(uAlgorithm == Container::KEYSETALGORITHM_RSA && (*pdwSigLen < m_dwModulusBits / 8),
             L"Check AlgID", NTE_BAD_ALGID);
  MR_FAIL_IF(uAlgorithm == Container::KEYSETALGORITHM_SM2 &&
                 (CALG_SM2_SIGN != m_uAlgID && CALG_SM2_KEYX != m_uAlgID),
             L"Check AlgID", NTE_BAD_ALGID);
  MR_FAIL_IF(uAlgorithm == Container::KEYSETALGORITHM_SM2 && (*pdwSigLen < SM2_SIGNATURE_RS_SIZE),
             L"Check AlgID", NTE_BAD_ALGID);

  DeviceSignature signature;
  hResult = RunWithOneRerun(*m_pContainer, &sequence, [&] {
    signature = DeviceSignature{};
    return pHashHandle->m_bHashValueSet == TRUE
               ? SignGivenValue(*this, *pHashHandle, &sequence, &signature)
               : SignSourceData(*this, *pHashHandle, &sequence, &signature);
  });
  if (hResult != S_OK) {
    return hResult;
  }
  // The caller's buffer is written only with a signature of the key's
  // size that fits it.
  const bool bSM2 = uAlgorithm == Container::KEYSETALGORITHM_SM2;
  const BOOL bFits = signature.spValue != nullptr && signature.dwSize <= *pdwSigLen &&
                     (!bSM2 || signature.dwSize == SM2_SIGNATURE_RS_SIZE);
  MR_FAIL_IF(bFits == FALSE, L"Check the signature length", NTE_BAD_DATA);
  SwapSignatureOrder(bSM2, signature.spValue.get(), signature.dwSize);
  std::memcpy(pbySignature, signature.spValue.get(), signature.dwSize);
  *pdwSigLen = signature.dwSize;
  return S_OK;
}

HRESULT KeyHandle::VerifyData(ALG_ID uHashAlgID, const BYTE* pbyHashData, DWORD dwHashDataSize,
                              const BYTE* pbySignature, DWORD dwSignatureSize) {
  MR_TRACE("KeyHandle::VerifyData");
  UINT uAlgorithm = 0;
  HRESULT hResult = TokenKeySetAlgorithm(m_pContainer, &uAlgorithm);
  if (hResult != S_OK) {
    return hResult;
  }
  MR_FAIL_IF(pbySignature == NULL, L"Check pbySignature", E_INVALIDARG);
  const bool bSM2 = uAlgorithm == Container::KEYSETALGORITHM_SM2;
  MR_FAIL_IF(bSM2 && dwSignatureSize != SM2_SIGNATURE_RS_SIZE, L"Check SM2 signature size",
             NTE_BAD_SIGNATURE);

  // The caller's buffer (which CryptoAPI hands over as the application gave
  // it, possibly read-only) stays as it is: a copy is put in token order.
  std::vector<BYTE> vSignature(pbySignature, pbySignature + dwSignatureSize);
  SwapSignatureOrder(bSM2, vSignature.data(), dwSignatureSize);
  hResult = g_pDeviceHandle->PubKeyVerifyHash(m_pContainer->m_szDeviceName,
                                              m_pContainer->m_szContainerName, m_dwKeySpec,
                                              uHashAlgID, pbyHashData, dwHashDataSize,
                                              vSignature.data(), dwSignatureSize);
  MR_FAIL_IF(hResult != S_OK, L"PubKeyVerifyHash", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

}  // namespace merro::provider
