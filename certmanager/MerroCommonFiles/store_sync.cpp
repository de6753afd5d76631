#include "certmanager/MerroCommonFiles/store_sync.h"

#include "foundation/misc/text_convert.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MerroManagerFunction"

using merro::provider::CertContext;
using merro::provider::CertContextList;
using merro::provider::ContainerInformation;
using merro::provider::EncodedEquals;
using merro::provider::StoreLocation;
using merro::provider::TokenInformation;
using merro::provider::TokenInformationList;

namespace {

bool SameEncoding(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a != nullptr && b != nullptr &&
         EncodedEquals(a->pbCertEncoded, a->cbCertEncoded, b->pbCertEncoded, b->cbCertEncoded);
}

// Adds one certificate of a container unless an entry has its serial number.
HRESULT AddIdleCert(const char* function, const wchar_t* wszProviderName,
                    const CertContextList& list, const CertContext& cert,
                    const std::wstring& container, DWORD dwKeySpec) {
  MR_TRACE_UNDER(function);
  if (!cert) {
    return S_OK;
  }
  std::vector<BYTE> serial;
  HRESULT hr = GetCertSerialNumber(cert.Get(), &serial);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetCertSerialNumber", L"S_OK != hResult", hr);
    return hr;
  }
  if (CheckContainerCertInBrowser(list, serial.data(), static_cast<DWORD>(serial.size()))) {
    return S_OK;
  }
  hr = ImportCertToBrowser(cert.Get(), container.c_str(), FALSE, dwKeySpec, wszProviderName);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"ImportCertToBrowser", L"S_OK != hResult", hr);
  }
  return hr;
}

}  // namespace

HRESULT SYNContainer2Browser(const TokenInformationList& tokens) {
  MR_TRACE("SYNContainer2Browser");
  CertContextList list;
  HRESULT hr = GetAllSpecifiedCertFromBrowser(merro::provider::kProviderName, &list);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetAllSpecifiedCertFromBrowser", L"S_OK != hResult", hr);
    return hr;
  }
  hr = DeleteAllInvalidCertFromBrowser(list, tokens);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"DeleteAllInvalidCertFromBrowser", L"S_OK != hResult", hr);
    return hr;
  }
  // Read again: the list now lacks the removed entries.
  list.clear();
  hr = GetAllSpecifiedCertFromBrowser(merro::provider::kProviderName, &list);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetAllSpecifiedCertFromBrowser", L"S_OK != hResult", hr);
    return hr;
  }
  hr = AddAllIdleCertToBrowser(merro::provider::kProviderName, tokens, list);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"AddAllIdleCertToBrowser", L"S_OK != hResult", hr);
  }
  return hr;
}

HRESULT GetAllSpecifiedCertFromBrowser(const wchar_t* wszProviderName, CertContextList* pList) {
  MR_TRACE("GetAllSpecifiedCertFromBrowser");
  MR_FAIL_IF(wszProviderName == nullptr || pList == nullptr, L"Check parameters", E_INVALIDARG);
  const HRESULT hr =
      merro::provider::FindProviderEntries(StoreLocation::CurrentUser, wszProviderName, pList);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"FindProviderEntries", L"S_OK != hResult", hr);
  }
  return hr;
}

HRESULT GetMSCertProviderAndContainerName(PCCERT_CONTEXT pCert, std::wstring* pProviderName,
                                          std::wstring* pContainerName) {
  MR_TRACE("GetMSCertProviderAndContainerName");
  MR_FAIL_IF(pCert == nullptr, L"Check parameters", E_INVALIDARG);
  merro::provider::StoreEntryInfo info;
  const HRESULT hr = merro::provider::ReadStoreEntryInfo(pCert, &info);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"CertGetCertificateContextProperty", L"bRetCode == FALSE", hr);
    return hr;
  }
  if (pProviderName != nullptr) {
    *pProviderName = std::move(info.wstrProviderName);
  }
  if (pContainerName != nullptr) {
    *pContainerName = std::move(info.wstrContainerName);
  }
  return S_OK;
}

HRESULT DeleteAllInvalidCertFromBrowser(const CertContextList& list,
                                        const TokenInformationList& tokens) {
  MR_TRACE("DeleteAllInvalidCertFromBrowser");
  for (const CertContext& entry : list) {
    std::wstring container;
    HRESULT hr = GetMSCertProviderAndContainerName(entry.Get(), nullptr, &container);
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"GetMSCertProviderAndContainerName", L"S_OK != hResult", hr);
      return hr;
    }
    if (CheckMSCertInContainerSet(entry.Get(), container.c_str(), tokens)) {
      continue;
    }
    hr = RemoveCertFromBrowser(entry.Get(), FALSE);
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"RemoveCertFromBrowser", L"S_OK != hResult", hr);
      return hr;
    }
  }
  return S_OK;
}

BOOL CheckMSCertInContainerSet(PCCERT_CONTEXT pCert, const wchar_t* wszContainerName,
                               const TokenInformationList& tokens) {
  MR_TRACE("CheckMSCertInContainerSet");
  if (pCert == nullptr || wszContainerName == nullptr) {
    return FALSE;
  }
  std::string name;
  const HRESULT hr = UTF16ToUTF8Text(wszContainerName, &name);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"UTF16ToUTF8", L"S_OK != hResult", hr);
    return FALSE;
  }
  for (const TokenInformation& token : tokens) {
    for (const ContainerInformation& container : token.vecContainers) {
      if (container.strContainerName == name &&
          (SameEncoding(container.signatureCert.Get(), pCert) ||
           SameEncoding(container.exchangeCert.Get(), pCert))) {
        return TRUE;
      }
    }
  }
  return FALSE;
}

HRESULT AddAllIdleCertToBrowser(const wchar_t* wszProviderName, const TokenInformationList& tokens,
                                const CertContextList& list) {
  MR_TRACE("AddAllIdleCertToBrowser");
  MR_FAIL_IF(wszProviderName == nullptr, L"Check parameters", E_INVALIDARG);
  const bool sm2Allowed = merro::provider::Sm2BrowserMarkerExists();
  for (const TokenInformation& token : tokens) {
    for (const ContainerInformation& container : token.vecContainers) {
      if (container.dwKeySetAlgorithm == KEYSETALGORITHM_SM2 && !sm2Allowed) {
        continue;
      }
      std::wstring name;
      HRESULT hr = UTF8ToUTF16Text(container.strContainerName.c_str(), &name);
      if (FAILED(hr)) {
        MR_LOG_FAIL(L"UTF8ToUTF16", L"S_OK != hResult", hr);
        return hr;
      }
      hr = AddIdleCert(MR_TRACE_FUNCTION, wszProviderName, list, container.signatureCert, name,
                       AT_SIGNATURE);
      if (SUCCEEDED(hr)) {
        hr = AddIdleCert(MR_TRACE_FUNCTION, wszProviderName, list, container.exchangeCert, name,
                         AT_KEYEXCHANGE);
      }
      if (FAILED(hr)) {
        return hr;
      }
    }
  }
  return S_OK;
}

BOOL CheckContainerCertInBrowser(const CertContextList& list, const BYTE* pbSerial,
                                 DWORD cbSerial) {
  for (const CertContext& entry : list) {
    const CRYPT_INTEGER_BLOB& serial = entry->pCertInfo->SerialNumber;
    if (EncodedEquals(serial.pbData, serial.cbData, pbSerial, cbSerial)) {
      return TRUE;
    }
  }
  return FALSE;
}

HRESULT GetCertSerialNumber(PCCERT_CONTEXT pCert, std::vector<BYTE>* pSerial) {
  MR_TRACE("GetCertSerialNumber");
  MR_FAIL_IF(pCert == nullptr || pSerial == nullptr, L"Check parameters", E_INVALIDARG);
  const CRYPT_INTEGER_BLOB& serial = pCert->pCertInfo->SerialNumber;
  pSerial->assign(serial.pbData, serial.pbData + serial.cbData);
  return S_OK;
}

HRESULT ImportCertToBrowser(PCCERT_CONTEXT pCert, const wchar_t* wszContainerName, BOOL bMachine,
                            DWORD dwKeySpec, const wchar_t* wszProviderName) {
  MR_TRACE("ImportCertToBrowser");
  MR_FAIL_IF(pCert == nullptr, L"Check parameters", E_INVALIDARG);
  MR_FAIL_IF(wszContainerName == nullptr || wszProviderName == nullptr, L"Check parameters",
             E_INVALIDARG);
  const HRESULT hr = merro::provider::WriteEntry(
      merro::provider::StoreLocationFor(bMachine), pCert->pbCertEncoded, pCert->cbCertEncoded,
      wszContainerName, dwKeySpec, wszProviderName);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"WriteEntry", L"S_OK != hResult", hr);
  }
  return hr;
}

HRESULT RemoveCertFromBrowser(PCCERT_CONTEXT pCert, BOOL bMachine) {
  MR_TRACE("RemoveCertFromBrowser");
  MR_FAIL_IF(pCert == nullptr, L"Check parameters", E_INVALIDARG);
  const HRESULT hr = merro::provider::DeleteEntry(merro::provider::StoreLocationFor(bMachine),
                                                  pCert->pbCertEncoded, pCert->cbCertEncoded);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"DeleteEntry", L"S_OK != hResult", hr);
  }
  return hr;
}

HRESULT RemoveAllSpecifiedCertfromBrowser(const wchar_t* wszProviderName) {
  MR_TRACE("RemoveAllSpecifiedCertfromBrowser");
  CertContextList list;
  HRESULT hr = GetAllSpecifiedCertFromBrowser(wszProviderName, &list);
  if (FAILED(hr)) {
    return hr;
  }
  for (const CertContext& entry : list) {
    hr = RemoveCertFromBrowser(entry.Get(), FALSE);
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}
