// KeyHandle: a certificate into the key's token container, once its public
// key is shown to be the container's own; then the tidying of the token
// (other containers of the same family go once this one is complete) and
// the store: a running manager is asked to refresh, or the provider writes
// the "MY" entry itself.
#include <cstring>
#include <memory>
#include <new>

#include "device/device_handle.h"
#include "device/device_lists.h"
#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "provider/cert_store.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "provider/operation_sequence.h"
#include "provider/manager_events.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

// A certificate is a SEQUENCE with a two-byte length; its size is read from
// that header.
constexpr BYTE kCertHeader[] = {0x30, 0x82};
constexpr DWORD kCertHeaderLen = 4;

// Certificates whose key is the token's SM2 key carry the point-format byte
// in front of X || Y.
constexpr DWORD kSm2PointFormatLen = 1;

// Whether the container, as its record stands now, is complete: both pairs
// with their certificates and of one length, or a finished exchange-only
// container.
bool IsCompleteRecord(const CONTAINER_RECORD& stRecord) {
  return (stRecord.byFlag == MR_CTNR_AVL && stRecord.ExchKeyLen == stRecord.SignKeyLen &&
          stRecord.SignKeyLen != MR_CTNR_NONE) ||
         stRecord.byFlag == MR_CTNR_AVL_SINGLE;
}

// Tells a running manager (its instance event exists) that the token
// changed, and waits a bounded time for its answer. False when no manager
// runs.
bool NotifyRunningManager() {
  const HANDLE hInstanceEvent = ::OpenEventW(READ_CONTROL, FALSE, g_wszInstanceEventName);
  if (hInstanceEvent == nullptr) {
    return false;
  }
  ::CloseHandle(hInstanceEvent);
  // The manager's timer sees EVENT-A, rebuilds its tree and the store
  // entries and sets EVENT-B; a manager that does not answer in time does
  // not make the import fail.
  ::SignalObjectAndWait(g_pDeviceHandle->m_hEventA, g_pDeviceHandle->m_hEventB,
                        kManagerAnswerWaitMs, FALSE);
  return true;
}

}  // namespace

HRESULT KeyHandle::GetPublicKeyFromCert(const BYTE* pbyCertData, DWORD dwCertDataSize,
                                        BYTE** ppbyPublicKeyData, DWORD* pdwPublicKeySize) {
  MR_TRACE("KeyHandle::GetPublicKeyFromCert");
  MR_FAIL_IF(pbyCertData == NULL, L"Check pbyCertData", E_INVALIDARG);
  MR_FAIL_IF(dwCertDataSize <= 0, L"Check dwCertDataSize", E_INVALIDARG);
  MR_FAIL_IF(ppbyPublicKeyData == NULL, L"Check ppbyPublicKeyData", E_INVALIDARG);
  MR_FAIL_IF(pdwPublicKeySize == NULL, L"Check pdwPublicKeySize", E_INVALIDARG);

  const CertContext pstCertCtx = CertContext::FromEncoded(pbyCertData, dwCertDataSize);
  MR_FAIL_IF(!pstCertCtx, L"CertCreateCertificateContext", NTE_BAD_DATA);
  const CRYPT_BIT_BLOB& stPublicKey = pstCertCtx->pCertInfo->SubjectPublicKeyInfo.PublicKey;
  const DWORD dwSize = stPublicKey.cbData;
  merro::OwnedBytes pbyPublicKey = merro::OwnedBytes::CopyOf(stPublicKey.pbData, dwSize);
  MR_FAIL_IF(!pbyPublicKey, L"New buffer", E_OUTOFMEMORY);
  pbyPublicKey.HandOut(ppbyPublicKeyData, pdwPublicKeySize);
  return S_OK;
}

HRESULT KeyHandle::UpdateCertDeleteOtherContainer(const char* pszDeviceName,
                                                  const char* pszContainerName) {
  MR_TRACE("KeyHandle::UpdateCertDeleteOtherContainer");
  MR_FAIL_IF(pszDeviceName == NULL, L"Check pszDeviceName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);

  DWORD dwIndex = 0;
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(pszDeviceName, pszContainerName, &dwIndex);
  hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", hResult);
  const CONTAINER_RECORD& stCompleted = *g_pDeviceHandle->m_vtrContainerSet[dwIndex].pstContainer();
  const BYTE nFlag = stCompleted.byFlag;
  MR_FAIL_IF(nFlag != MR_CTNR_AVL_SINGLE && nFlag != MR_CTNR_AVL, L"Check container is avaliable",
             E_FAIL);
  const bool bSm2 = stCompleted.AlgType == MR_ALG_SM2;

  // Only the key's own token is tidied: the deletion works on that token,
  // and a record is dropped from the list only when its container is gone.
  auto& vtrContainers = g_pDeviceHandle->m_vtrContainerSet;
  size_t i = 0;
  while (i < vtrContainers.size()) {
    const device::ContainerItem& item = vtrContainers[i];
    const CONTAINER_RECORD* pstRecord = item.pstContainer();
    if (pstRecord == nullptr || std::strcmp(item.szDeviceName, pszDeviceName) != 0 ||
        device::ContainerNameIs(*pstRecord, pszContainerName) ||
        (pstRecord->AlgType == MR_ALG_SM2) != bSm2) {
      ++i;
      continue;
    }
    // A name that fills the record's 64 bytes has no terminator. The name is
    // copied before the PIN check, whose dialog may let the list be rebuilt.
    char szName[MR_CTNR_NAME_MAX + 1] = {};
    std::memcpy(szName, pstRecord->szContainerName, MR_CTNR_NAME_MAX);

    // The verified PIN serves the commands below only under the token's
    // sequence lock, held until this scope ends.
    OperationSequence sequence;
    hResult = CheckUserPIN(FALSE, FALSE, &sequence);
    hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
    MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);

    hResult = g_pDeviceHandle->MerroDeleteContainer(pszDeviceName, szName);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"DeleteContainer", L"FAILED(hResult)", hResult);
      ++i;
      continue;
    }
    MR_LOG_STEP(L"DeleteContainer");
    const int nDeleted = device::FindContainer(vtrContainers, pszDeviceName, szName);
    if (nDeleted >= 0) {
      vtrContainers.erase(vtrContainers.begin() + nDeleted);
    }
  }
  return S_OK;
}

HRESULT KeyHandle::ImportCertificate(const BYTE* pbCertData) {
  MR_TRACE("KeyHandle::ImportCertificate");
  const bool bMarkerExists = Sm2BrowserMarkerExists();
  MR_FAIL_IF(NULL == pbCertData, L"check parameter", E_INVALIDARG);
  MR_FAIL_IF(AT_SIGNATURE != m_dwKeySpec && AT_KEYEXCHANGE != m_dwKeySpec, L"ImportPublicKeyCert",
             NTE_BAD_TYPE);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  const char* pszDevName = m_pContainer->m_szDeviceName;
  const char* pszContainerName = m_pContainer->m_szContainerName;

  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(pszDevName, pszContainerName);
  hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", hResult);
  const UINT uAlgorithm = m_pContainer->GetKeySetAlgorithm();
  MR_FAIL_IF(uAlgorithm != Container::KEYSETALGORITHM_RSA &&
                 uAlgorithm != Container::KEYSETALGORITHM_SM2,
             L"GetKeySetAlgorithm", NTE_BAD_ALGID);
  const bool bSm2 = uAlgorithm == Container::KEYSETALGORITHM_SM2;

  MR_FAIL_IF(0 != std::memcmp(pbCertData, kCertHeader, sizeof kCertHeader),
             L"check certificate header", NTE_BAD_DATA);
  const DWORD dwCertDataSize = pbCertData[2] * 256u + pbCertData[3] + kCertHeaderLen;

  BYTE* pbyKey = nullptr;
  DWORD dwPublickeyLen = 0;
  hResult = GetPublicKeyFromCert(pbCertData, dwCertDataSize, &pbyKey, &dwPublickeyLen);
  const std::unique_ptr<BYTE[]> pbPublickey(pbyKey);
  MR_FAIL_IF(FAILED(hResult), L"GetPublicKeyFromCert", hResult);

  pbyKey = nullptr;
  DWORD dwOldPublickeyLen = 0;
  DWORD dwKeySetAlg = 0;
  hResult = g_pDeviceHandle->ExportPubKey(pszDevName, pszContainerName, m_dwKeySpec, &dwKeySetAlg,
                                          &pbyKey, &dwOldPublickeyLen);
  const std::unique_ptr<BYTE[]> pbOldPublickey(pbyKey);
  hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
  MR_FAIL_IF(hResult != S_OK, L"ExportPubKey", hResult);

  // The token keeps SM2 keys as X || Y; the certificate has the point
  // format byte in front.
  const DWORD dwSkip = bSm2 ? kSm2PointFormatLen : 0;
  const bool bMatch = dwOldPublickeyLen != 0 && dwPublickeyLen >= dwSkip &&
                      dwOldPublickeyLen == dwPublickeyLen - dwSkip &&
                      0 == std::memcmp(pbOldPublickey.get(), pbPublickey.get() + dwSkip,
                                       dwOldPublickeyLen);
  MR_FAIL_IF(!bMatch, L"key information is error", NTE_BAD_DATA);

  hResult = g_pDeviceHandle->ImportCertificate(pszDevName, pszContainerName, m_dwKeySpec,
                                               pbCertData, dwCertDataSize);
  hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
  MR_FAIL_IF(hResult != S_OK, L"ImportCertificate", hResult);
  MR_LOG_STEP(L"ImportCertificate");

  // The record as the certificate write left it in the list.
  DWORD dwIndex = 0;
  hResult = g_pDeviceHandle->CheckContainerExist(pszDevName, pszContainerName, &dwIndex);
  if (hResult == S_OK &&
      IsCompleteRecord(*g_pDeviceHandle->m_vtrContainerSet[dwIndex].pstContainer())) {
    hResult = UpdateCertDeleteOtherContainer(pszDevName, pszContainerName);
    MR_FAIL_IF(FAILED(hResult), L"UpdateCertificate", E_FAIL);
  }

  if ((bMarkerExists || !bSm2) && g_pDeviceHandle->m_dwCustomerType == kCustomerTypeBank) {
    if (NotifyRunningManager()) {
      MR_LOG_STEP(L"Notify the certificate manager");
    } else {
      ImportCertToBrowser(m_dwKeySpec, pbCertData, dwCertDataSize);
    }
  }
  return S_OK;
}

HRESULT KeyHandle::ImportCertToBrowser(DWORD dwKeySpec, const BYTE* pbyCertData,
                                       DWORD dwCertDataSize) {
  MR_TRACE("KeyHandle::ImportCertToBrowser");
  // Store failures are failure lines only: the certificate is on the token.
  if (pbyCertData == NULL) {
    MR_LOG_FAIL(L"Check pbyCertData", L"pbyCertData == NULL", E_INVALIDARG);
    return S_OK;
  }
  if (dwCertDataSize <= 0) {
    MR_LOG_FAIL(L"Check dwCertDataSize", L"dwCertDataSize <= 0", E_INVALIDARG);
    return S_OK;
  }
  if (g_pDeviceHandle == NULL || m_pContainer == NULL) {
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", E_FAIL);
    return S_OK;
  }
  const HRESULT hResult =
      WriteEntry(StoreLocationFor(m_pContainer->IsMachineKeySet()), pbyCertData, dwCertDataSize,
                 m_pContainer->m_szContainerName, dwKeySpec, g_pDeviceHandle->m_wszProviderName);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"WriteEntry", L"FAILED(hResult)", hResult);
    return S_OK;
  }
  MR_LOG_STEP(L"CertAddCertificateContextToStore");
  return S_OK;
}

}  // namespace merro::provider
