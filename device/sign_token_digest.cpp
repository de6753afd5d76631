// DeviceHandle: signing what the token hashed itself. DigestOnToken runs
// the whole digest (and signature) over data the host kept, in one
// sequence. For data beyond what a hash keeps, the digest runs across
// calls: InitDigestKeyCtx gives the hash the key context its SM3 digest
// runs on, with a lease on the token's context that keeps it open for the
// life of the hash; ReleaseDigestKeyCtx gives both back; SignData fetches
// the token's signature over what it hashed.
#include <cstring>

#include "device/container_key.h"
#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/asym_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kSignatureBufferSize = 2048;

}  // namespace

HRESULT DeviceHandle::InitDigestKeyCtx(const char* pszDevName, const char* pszContainerName,
                                       DevCtxLease* pLease, void** ppKeyCtx) {
  MR_TRACE("DeviceHandle::InitDigestKeyCtx");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  // Both out-pointers before anything is made: a context made first would
  // be written through a null pointer.
  MR_FAIL_IF(pLease == NULL, L"Check pLease", E_INVALIDARG);
  MR_FAIL_IF(ppKeyCtx == NULL, L"Check ppKeyCtx", E_INVALIDARG);

  // The key context lives in the hash across provider calls, so it runs on
  // a lease: a refresh in between retires the context without freeing it.
  DevCtxLease lease;
  ContainerKey key;
  ScopedKeyContext keyCtx;  // released before the lease goes
  const HRESULT hResult = OpenContainerKey(*this, pszDevName, pszContainerName, kNoKeySpecForDigest,
                                           E_FAIL, MR_TRACE_FUNCTION, &key, &keyCtx, &lease);
  if (FAILED(hResult)) {
    return hResult;
  }
  *pLease = lease;
  *ppKeyCtx = keyCtx.release();
  return S_OK;
}

HRESULT DeviceHandle::ReleaseDigestKeyCtx(DevCtxLease* pLease, void* pKeyCtx) {
  MR_TRACE("DeviceHandle::ReleaseDigestKeyCtx");
  HRESULT hResult = S_OK;
  if (pKeyCtx != nullptr) {
    const HRESULT nRet = AsymKeyFinal(pKeyCtx);
    if (nRet != 0) {
      hResult = HRESULT_FROM_TOKEN_ERROR(nRet);
      MR_LOG_FAIL(L"AsymKeyFinal", L"nRet != 0", hResult);
    }
  }
  // The key object is gone: the token may close now if a refresh retired
  // its context.
  if (pLease != nullptr) {
    pLease->reset();
  }
  return hResult;
}

HRESULT DeviceHandle::SignData(const char* pszDevName, const char* pszContainerName,
                               DWORD dwKeySpec, void* pKeyCtx, BYTE** ppbySignatureValue,
                               DWORD* pdwSignatureValueSize) {
  MR_TRACE("DeviceHandle::SignData");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(ppbySignatureValue == NULL, L"Check ppbySignatureValue", E_INVALIDARG);
  MR_FAIL_IF(pdwSignatureValueSize == NULL, L"Check pdwSignatureValueSize", E_INVALIDARG);
  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hResult = ResolveContainer(pszDevName, pszContainerName, &pItem, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", NTE_NO_KEY);
  // Nothing to fetch a signature from: what the token API would answer,
  // without a command.
  MR_FAIL_IF(pKeyCtx == NULL, L"Check pKeyCtx", NTE_BAD_DATA);
  // The token hashed on the key context's token context; a refresh since
  // then has closed that session, and its digest is gone. The session is
  // set up, and the signature fetched, on the one context the key uses.
  const DEV_CTX* pKeyDevCtx = AsymKeyDevCtx(pKeyCtx);
  MR_FAIL_IF(pKeyDevCtx != pDevCtx, L"Check the key context is on the current token context",
             NTE_BAD_HASH_STATE);

  hResult = SetUpTokenSession(pDevCtx, MR_TRACE_FUNCTION);
  if (hResult != 0) {
    return HRESULT_FROM_TOKEN_ERROR(hResult);
  }
  BYTE bySignature[kSignatureBufferSize] = {};
  DWORD dwSignatureSize = kSignatureBufferSize;
  const HRESULT nRet = SignDataResult(pKeyCtx, bySignature, &dwSignatureSize);
  MR_FAIL_IF(nRet != 0, L"PrikeySign", NTE_BAD_DATA);
  MR_FAIL_IF(dwSignatureSize > kSignatureBufferSize, L"PrikeySign", NTE_BAD_DATA);
  return HandOutCopy(bySignature, dwSignatureSize, ppbySignatureValue, pdwSignatureValueSize,
                     MR_TRACE_FUNCTION);
}

HRESULT DeviceHandle::DigestOnToken(const char* pszDevName, const char* pszContainerName,
                                    const BYTE* pbyData, DWORD dwDataSize, BYTE* pbyDigest,
                                    DWORD* pdwDigestSize, BYTE** ppbySignatureValue,
                                    DWORD* pdwSignatureValueSize, BOOL bSessionSet) {
  MR_TRACE("DeviceHandle::DigestOnToken");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(pbyData == NULL && dwDataSize != 0, L"Check pbyData", E_INVALIDARG);
  MR_FAIL_IF(pbyDigest == NULL || pdwDigestSize == NULL, L"Check pbyDigest", E_INVALIDARG);
  const bool bSign = ppbySignatureValue != nullptr;
  MR_FAIL_IF(bSign && pdwSignatureValueSize == NULL, L"Check pdwSignatureValueSize",
             E_INVALIDARG);

  // A vanished container is no key to sign with (as in SignData), and no
  // container to hash for (as in InitDigestKeyCtx).
  // The session, the digest and the signature run as one sequence on the
  // token (released after the key context).
  merro::transport::TokenSequenceLock sequence;
  ContainerKey key;
  ScopedKeyContext keyCtx;
  HRESULT hResult = OpenContainerKey(*this, pszDevName, pszContainerName, kNoKeySpecForDigest,
                                     bSign ? NTE_NO_KEY : E_FAIL, MR_TRACE_FUNCTION, &key,
                                     &keyCtx);
  if (FAILED(hResult)) {
    return hResult;
  }
  // A caller whose PIN verification set up the session under the lock it
  // still holds has it in force: a second one would only cost commands.
  hResult = bSessionSet ? sequence.TakeByMutexName(key.pDevCtx->szMutexName)
                        : LockedTokenSession(key.pDevCtx, &sequence, MR_TRACE_FUNCTION);
  if (hResult != 0) {
    return HRESULT_FROM_TOKEN_ERROR(hResult);
  }
  HRESULT nRet = DigestInit(keyCtx.get(), MR_ALG_SM3);
  MR_FAIL_IF(nRet != 0, L"DigestInit", NTE_BAD_HASH);
  if (dwDataSize != 0) {
    nRet = DigestUpdate(keyCtx.get(), pbyData, dwDataSize);
    MR_FAIL_IF(nRet != 0, L"DigestUpdate", HRESULT_FROM_TOKEN_ERROR(nRet));
  }
  BYTE byDigest[128] = {};
  DWORD dwDigestSize = sizeof byDigest;
  nRet = DigestFinal(keyCtx.get(), byDigest, &dwDigestSize);
  MR_FAIL_IF(nRet != 0, L"DigestFinal", HRESULT_FROM_TOKEN_ERROR(nRet));
  MR_FAIL_IF(dwDigestSize > sizeof byDigest || dwDigestSize > *pdwDigestSize,
             L"Check the digest size", NTE_BAD_HASH);
  if (bSign) {
    BYTE bySignature[kSignatureBufferSize] = {};
    DWORD dwSignatureSize = kSignatureBufferSize;
    nRet = SignDataResult(keyCtx.get(), bySignature, &dwSignatureSize);
    MR_FAIL_IF(nRet != 0, L"PrikeySign", NTE_BAD_DATA);
    MR_FAIL_IF(dwSignatureSize > kSignatureBufferSize, L"PrikeySign", NTE_BAD_DATA);
    hResult = HandOutCopy(bySignature, dwSignatureSize, ppbySignatureValue, pdwSignatureValueSize,
                          MR_TRACE_FUNCTION);
    if (FAILED(hResult)) {
      return hResult;
    }
  }
  std::memcpy(pbyDigest, byDigest, dwDigestSize);
  *pdwDigestSize = dwDigestSize;
  return S_OK;
}

}  // namespace merro::device
