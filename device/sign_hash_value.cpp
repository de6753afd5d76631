// DeviceHandle: signing a finished hash value. For RSA the token signs the
// PKCS#1 v1.5 block of type 1 that holds the hash with its DigestInfo.
#include "device/container_key.h"
#include "device/device_handle.h"
#include "device/key_pair_arguments.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/api/asym_api.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kSignatureBufferSize = 1024;

}  // namespace

HRESULT DeviceHandle::SignHashValue(const char* pszDevName, const char* pszContainerName,
                                    DWORD dwKeySpec, ALG_ID dwHashType, const BYTE* pbyHashData,
                                    DWORD dwHashDataSize, BYTE** ppbySignatureValue,
                                    DWORD* pdwSignatureValueSize) {
  MR_TRACE("DeviceHandle::SignHashValue");
  HRESULT hResult = CheckKeyPairArguments(
      MR_TRACE_FUNCTION, pszDevName, pszContainerName, pbyHashData, dwHashDataSize,
      ppbySignatureValue, pdwSignatureValueSize,
      {L"pbyHashData", L"dwHashDataSize", L"ppbySignatureValue", L"pdwSignatureValueSize"});
  if (FAILED(hResult)) {
    return hResult;
  }
  MR_FAIL_IF((dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE), L"Check dwKeySpec",
             E_INVALIDARG);
  ContainerKey key;
  hResult = FindContainerKey(*this, pszDevName, pszContainerName, dwKeySpec, E_FAIL,
                             MR_TRACE_FUNCTION, &key);
  if (FAILED(hResult)) {
    return hResult;
  }

  // MD5, SHA-1, SHA-256 and the SSL3 SHA-1 + MD5 hash, each of its own size;
  // SM3 reaches the token only through its own digest or a transaction.
  BYTE byHashType = 0;
  MR_FAIL_IF(GetKeyHashType(dwHashType, &byHashType) != S_OK, L"Check dwHashType", E_INVALIDARG);
  const merro::crypto::Pkcs1DigestInfo* pInfo = merro::crypto::FindPkcs1DigestInfo(byHashType);
  MR_FAIL_IF(pInfo == nullptr, L"Check dwHashType", E_INVALIDARG);
  MR_FAIL_IF(dwHashDataSize != pInfo->dwDigestLen, L"Check dwHashDataSize", E_INVALIDARG);

  // The block fills the modulus: an SM2 key (32 bytes) or a key too short
  // for the hash with its padding has no room for it.
  const DWORD k = key.dwKeyBits / 8;
  MR_FAIL_IF(key.byKeyType == MR_ALG_SM2 || k < merro::crypto::Pkcs1SignatureBlockMin(*pInfo) ||
                 k > MR_RSA_MAX_BYTES,
             L"Check the key holds the PKCS#1 block", NTE_BAD_ALGID);
  merro::WipedBytes<MR_RSA_MAX_BYTES> block;
  hResult = merro::crypto::BuildPkcs1SignatureBlock(*pInfo, pbyHashData, block.bytes, k);
  MR_FAIL_IF(hResult != S_OK, L"Build the PKCS#1 block", NTE_BAD_ALGID);

  ScopedKeyContext keyCtx;
  hResult = keyCtx.Open(key, MR_TRACE_FUNCTION);
  if (FAILED(hResult)) {
    return hResult;
  }
  BYTE bySignature[kSignatureBufferSize] = {};
  DWORD dwSignatureSize = kSignatureBufferSize;
  const HRESULT nRet = SignDigest(keyCtx.get(), block.bytes, k, bySignature, &dwSignatureSize);
  MR_FAIL_IF(nRet != 0, L"PrikeySign", HRESULT_FROM_TOKEN_ERROR(nRet));
  MR_FAIL_IF(dwSignatureSize > kSignatureBufferSize, L"PrikeySign", NTE_BAD_SIGNATURE);
  return HandOutCopy(bySignature, dwSignatureSize, ppbySignatureValue, pdwSignatureValueSize,
                     MR_TRACE_FUNCTION);
}

}  // namespace merro::device
