// Container: what the certificate manager learns of the inserted tokens: how
// many there are, and for each its label and containers with their key
// lengths and certificates, plus the default-PIN and certificate-expiry
// conditions.
#include <cstring>
#include <memory>

#include "provider/cert_date.h"
#include "provider/container.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {
namespace {

// Room for the records of one token's containers.
constexpr DWORD kContainerRecordRoom = 16;
constexpr BYTE kUnwrittenByte = 0xFF;

using DeviceBytes = std::unique_ptr<BYTE[]>;
using DeviceBuffer = std::unique_ptr<char[]>;

// The token's stored name, or the default label when it stores none.
std::string TokenLabel(const char* pszDevName) {
  const std::string strLabel = ReadStoredTokenName(pszDevName);
  return strLabel.empty() ? std::string(kDefaultTokenLabel) : strLabel;
}

// The certificate of a key specification as a context; empty when the
// container has none or it does not decode.
CertContext ReadCertificate(const char* pszDevName, const char* pszContainerName,
                            DWORD dwKeySpec) {
  BYTE* pbyCert = nullptr;
  DWORD dwCertSize = 0;
  const HRESULT hResult = g_pDeviceHandle->ExportCertificate(pszDevName, pszContainerName,
                                                             dwKeySpec, &pbyCert, &dwCertSize);
  DeviceBytes spCert(pbyCert);
  if (hResult != S_OK || !spCert || dwCertSize == 0) {
    return CertContext();
  }
  return CertContext::FromEncoded(spCert.get(), dwCertSize);
}

LONG KeyBits(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec) {
  DWORD dwBits = 0;
  if (g_pDeviceHandle->GetKeyLength(pszDevName, pszContainerName, dwKeySpec, &dwBits) != S_OK) {
    return 0;
  }
  return static_cast<LONG>(dwBits);
}

// The containers a token lists, each with its name bounded to the record's
// 64-byte field (a full field carries no terminator).
std::vector<CONTAINER_RECORD> ListTokenContainers(DEV_CTX* pDevCtx) {
  std::vector<CONTAINER_RECORD> vecRecords(kContainerRecordRoom);
  std::memset(vecRecords.data(), 0, vecRecords.size() * sizeof(CONTAINER_RECORD));
  DWORD dwCount = kContainerRecordRoom;
  if (pDevCtx == nullptr || EnumContainer(pDevCtx, vecRecords.data(), &dwCount) != 0) {
    return {};
  }
  vecRecords.resize(dwCount < kContainerRecordRoom ? dwCount : kContainerRecordRoom);
  return vecRecords;
}

std::string RecordName(const CONTAINER_RECORD& stRecord) {
  return std::string(stRecord.szContainerName,
                     strnlen(stRecord.szContainerName, sizeof stRecord.szContainerName));
}

// One token's containers that hold a key or a certificate.
void AddTokenContainers(const merro::device::DeviceItem& stItem, TokenInformation* pToken,
                        SecureInfo* pstSecureInfo) {
  for (const CONTAINER_RECORD& stRecord : ListTokenContainers(stItem.pDevCtx())) {
    ContainerInformation stInfo;
    stInfo.strContainerName = RecordName(stRecord);
    stInfo.strDeviceName = stItem.szDeviceName;
    const char* pszName = stInfo.strContainerName.c_str();
    stInfo.signatureCert = ReadCertificate(stItem.szDeviceName, pszName, AT_SIGNATURE);
    stInfo.exchangeCert = ReadCertificate(stItem.szDeviceName, pszName, AT_KEYEXCHANGE);
    stInfo.lSignatureKeyLength = KeyBits(stItem.szDeviceName, pszName, AT_SIGNATURE);
    stInfo.lExchangeKeyLength = KeyBits(stItem.szDeviceName, pszName, AT_KEYEXCHANGE);
    if (stInfo.lSignatureKeyLength <= 0 && !stInfo.signatureCert &&
        stInfo.lExchangeKeyLength <= 0 && !stInfo.exchangeCert) {
      continue;
    }
    stInfo.dwKeySetAlgorithm =
        stRecord.AlgType == MR_ALG_SM2 ? KEYSETALGORITHM_SM2 : KEYSETALGORITHM_RSA;
    VerifyContainerCertDate(stInfo, pstSecureInfo);
    pToken->vecContainers.push_back(std::move(stInfo));
  }
}

// Whether the token's PIN of that type was never changed. A status that
// cannot be read counts as changed: only a token that says so is reported.
bool HasFactoryPin(const char* pszDevName, DWORD dwPinType) {
  DWORD dwLeftTimes = 0, dwStatus = 0;
  DWORD dwModified = 1;
  g_pDeviceHandle->GetPINInfo(pszDevName, dwPinType, &dwLeftTimes, &dwStatus, &dwModified);
  return dwModified == 0;
}

// The date conditions of one certificate.
struct CertDateCheck {
  bool bExpired = false;
  bool bExpiring = false;
  SYSTEMTIME stNotAfter = {};
};

CertDateCheck CheckCertDate(const CertContext& cert, LONG lAlertDays) {
  CertDateCheck stCheck;
  if (!cert || cert->pCertInfo == nullptr ||
      !::FileTimeToSystemTime(&cert->pCertInfo->NotAfter, &stCheck.stNotAfter)) {
    return stCheck;
  }
  SYSTEMTIME stToday = {};
  ::GetLocalTime(&stToday);
  const LONG lDaysLeft = CertDaysLeft(stCheck.stNotAfter, stToday);
  stCheck.bExpired = lDaysLeft <= 0;
  stCheck.bExpiring = lDaysLeft <= lAlertDays;
  return stCheck;
}

}  // namespace

// A name file that was never written reads 0xFF bytes: they are no name.
std::string ReadStoredTokenName(const char* pszDevName) {
  char* pszName = nullptr;
  const HRESULT hResult = g_pDeviceHandle->GetDeviceTokenInfo(pszDevName, &pszName);
  DeviceBuffer spName(pszName);
  std::string strName;
  if (hResult == S_OK && spName) {
    strName = spName.get();
    while (!strName.empty() && static_cast<BYTE>(strName.back()) == kUnwrittenByte) {
      strName.pop_back();
    }
  }
  return strName;
}

HRESULT Container::GetInsertedKeyCount(DWORD* pdwCount) {
  MR_TRACE("Container::GetInsertedKeyCount");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF(pdwCount == NULL, L"Check pdwCount", E_INVALIDARG);
  const HRESULT hResult = g_pDeviceHandle->UpdateDevice();
  MR_FAIL_IF(hResult != S_OK, L"UpdateDevice", NTE_BAD_KEY);
  *pdwCount = static_cast<DWORD>(g_pDeviceHandle->m_vtrDeviceSet.size());
  return S_OK;
}

HRESULT Container::GetAllContainerInformation(DWORD dwPinType, TokenInformationList* pList,
                                              SecureInfo* pstSecureInfo) {
  MR_TRACE("Container::GetAllContainerInformation");
  MR_FAIL_IF(pList == NULL, L"Check pList", E_INVALIDARG);
  MR_FAIL_IF(pstSecureInfo == NULL, L"Check pstSecureInfo", E_INVALIDARG);
  if (g_pDeviceHandle == nullptr) {
    pList->clear();
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", E_FAIL);
    return E_FAIL;
  }
  HRESULT hResult = g_pDeviceHandle->UpdateContainer();
  if (hResult != S_OK) {
    // The list's certificate contexts go with it.
    pList->clear();
    hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
    MR_LOG_FAIL(L"g_pDeviceHandle->UpdateContainer", L"hResult != S_OK", hResult);
    return hResult;
  }

  // A copy: each item keeps its token's context open while it is read.
  const std::vector<merro::device::DeviceItem> vecDevices = g_pDeviceHandle->m_vtrDeviceSet;
  const DWORD dwDefaultPINCheck = g_pDeviceHandle->m_dwDefaultPINCheck;
  bool bFactoryPin = false;
  for (const merro::device::DeviceItem& stItem : vecDevices) {
    TokenInformation stToken;
    stToken.strDeviceName = stItem.szDeviceName;
    stToken.strTokenLabel = TokenLabel(stItem.szDeviceName);
    AddTokenContainers(stItem, &stToken, pstSecureInfo);
    pList->push_back(std::move(stToken));
    if (dwDefaultPINCheck != 0 && HasFactoryPin(stItem.szDeviceName, dwPinType)) {
      bFactoryPin = true;
    }
  }
  if (bFactoryPin && dwDefaultPINCheck >= 1) {
    pstSecureInfo->bDefaultPIN = TRUE;
  }
  MR_LOG_STEP(L"GetAllContainerInformation");
  return S_OK;
}

HRESULT VerifyContainerCertDate(const ContainerInformation& stContainerInfo,
                                SecureInfo* pstSecureInfo) {
  MR_TRACE("VerifyContainerCertDate");
  MR_FAIL_IF(pstSecureInfo == NULL, L"Check pstSecureInfo", E_INVALIDARG);
  const LONG lAlertDays = pstSecureInfo->dwCertAlertDays;
  if (lAlertDays == CERT_VALID_DATE_NOALERT) {
    MR_LOG_FAIL(L"Check Date limit", L"stSecureInfo.dwCertAlertDays == CERT_VALID_DATE_NOALERT",
                LastErrorResult());
    return LastErrorResult();
  }
  const CertDateCheck stExch = CheckCertDate(stContainerInfo.exchangeCert, lAlertDays);
  const CertDateCheck stSign = CheckCertDate(stContainerInfo.signatureCert, lAlertDays);
  // The first that holds decides: expired before about to expire, the
  // signature certificate before the exchange certificate.
  const std::pair<const CertDateCheck*, DWORD> aOrder[] = {
      {stSign.bExpired ? &stSign : nullptr, kCertDateStateExpired},
      {stExch.bExpired ? &stExch : nullptr, kCertDateStateExpired},
      {stSign.bExpiring ? &stSign : nullptr, kCertDateStateExpiring},
      {stExch.bExpiring ? &stExch : nullptr, kCertDateStateExpiring},
  };
  for (const auto& [pCheck, dwState] : aOrder) {
    if (pCheck != nullptr) {
      pstSecureInfo->dwCertDateState = dwState;
      pstSecureInfo->stCertDate = pCheck->stNotAfter;
      break;
    }
  }
  return S_OK;
}

}  // namespace merro::provider
