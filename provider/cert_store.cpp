#include "provider/cert_store.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

#include "foundation/misc/text_convert.h"
#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

namespace merro::provider {

namespace {

using merro::win::FailedCallResult;

DWORD SystemStoreFlag(StoreLocation location) {
  return location == StoreLocation::LocalMachine ? CERT_SYSTEM_STORE_LOCAL_MACHINE
                                                 : CERT_SYSTEM_STORE_CURRENT_USER;
}

// The first certificate of an open store with these bytes. The enumeration
// has ended when this returns, so the caller may delete what it found.
CertContext FirstMatch(const CertStore& store, const BYTE* pbEncoded, DWORD cbEncoded) {
  PCCERT_CONTEXT p = nullptr;
  while ((p = ::CertEnumCertificatesInStore(store.Get(), p)) != nullptr) {
    if (EncodedEquals(p->pbCertEncoded, p->cbCertEncoded, pbEncoded, cbEncoded)) {
      CertContext found(::CertDuplicateCertificateContext(p));
      ::CertFreeCertificateContext(p);
      return found;
    }
  }
  return CertContext();
}

// Commits a change: a system store keeps a deletion only once committed.
HRESULT CommitChange(const char* function, const CertStore& store) {
  MR_TRACE_UNDER(function);
  const HRESULT hr = store.Commit();
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"CertControlStore", L"bRetCode == FALSE", hr);
  }
  return hr;
}

// Deletes the found entry (which frees the context) and commits.
HRESULT DeleteFound(const char* function, const CertStore& store, CertContext found) {
  MR_TRACE_UNDER(function);
  if (!::CertDeleteCertificateFromStore(found.Release())) {
    const HRESULT hr = FailedCallResult(ERROR_ACCESS_DENIED);
    MR_LOG_FAIL(L"CertDeleteCertificateFromStore", L"bRetCode == FALSE", hr);
    return hr;
  }
  return CommitChange(MR_TRACE_FUNCTION, store);
}

}  // namespace

CertContext CertContext::FromEncoded(const BYTE* pbEncoded, DWORD cbEncoded) {
  if (pbEncoded == nullptr || cbEncoded == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return CertContext();
  }
  return CertContext(::CertCreateCertificateContext(kCertEncoding, pbEncoded, cbEncoded));
}

HRESULT CertStore::OpenMy(StoreLocation location, CertStore* pStore) {
  MR_TRACE("CertStore::OpenMy");
  MR_FAIL_IF(pStore == nullptr, L"Check parameters", E_INVALIDARG);
  HCERTSTORE h = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, SystemStoreFlag(location), L"MY");
  if (h == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_OPEN_FAILED);
    MR_LOG_FAIL(L"CertOpenStore", L"hStore == NULL", hr);
    return hr;
  }
  pStore->Close();
  pStore->m_h = h;
  return S_OK;
}

HRESULT CertStore::Commit() const {
  if (!::CertControlStore(m_h, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    return FailedCallResult(ERROR_WRITE_FAULT);
  }
  return S_OK;
}

bool EncodedEquals(const BYTE* pbA, DWORD cbA, const BYTE* pbB, DWORD cbB) {
  if (cbA != cbB) {
    return false;
  }
  return cbA == 0 || (pbA != nullptr && pbB != nullptr && std::memcmp(pbA, pbB, cbA) == 0);
}

HRESULT ReadStoreEntryInfo(PCCERT_CONTEXT pCert, StoreEntryInfo* pInfo) {
  MR_TRACE("ReadStoreEntryInfo");
  MR_FAIL_IF(pCert == nullptr || pInfo == nullptr, L"Check parameters", E_INVALIDARG);
  DWORD cb = 0;
  if (!::CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb)) {
    // No property is the common case (other certificates): not logged.
    return FailedCallResult(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  }
  // Eight-byte units keep the record's pointers aligned.
  std::vector<std::uint64_t> buffer((cb + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1);
  if (!::CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &cb) ||
      cb < sizeof(CRYPT_KEY_PROV_INFO)) {
    const HRESULT hr = FailedCallResult(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    MR_LOG_FAIL(L"CertGetCertificateContextProperty", L"bRetCode == FALSE", hr);
    return hr;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  pInfo->wstrContainerName = info->pwszContainerName ? info->pwszContainerName : L"";
  pInfo->wstrProviderName = info->pwszProvName ? info->pwszProvName : L"";
  pInfo->dwProvType = info->dwProvType;
  pInfo->dwFlags = info->dwFlags;
  pInfo->dwProvParamCount = info->cProvParam;
  pInfo->dwKeySpec = info->dwKeySpec;
  return S_OK;
}

HRESULT FindProviderEntries(StoreLocation location, const wchar_t* wszProviderPrefix,
                            CertContextList* pEntries) {
  MR_TRACE("FindProviderEntries");
  MR_FAIL_IF(wszProviderPrefix == nullptr || pEntries == nullptr, L"Check parameters",
             E_INVALIDARG);
  CertStore store;
  const HRESULT hr = CertStore::OpenMy(location, &store);
  if (FAILED(hr)) {
    return hr;
  }
  const std::wstring prefix(wszProviderPrefix);
  CertContextList found;
  PCCERT_CONTEXT p = nullptr;
  while ((p = ::CertEnumCertificatesInStore(store.Get(), p)) != nullptr) {
    StoreEntryInfo info;
    if (SUCCEEDED(ReadStoreEntryInfo(p, &info)) && info.wstrProviderName.rfind(prefix, 0) == 0) {
      found.emplace_back(::CertDuplicateCertificateContext(p));
    }
  }
  for (CertContext& c : found) {
    pEntries->push_back(std::move(c));
  }
  return S_OK;
}

HRESULT DeleteEntry(StoreLocation location, const BYTE* pbEncoded, DWORD cbEncoded,
                    bool* pbDeleted) {
  MR_TRACE("DeleteEntry");
  MR_FAIL_IF(pbEncoded == nullptr || cbEncoded == 0, L"Check parameters", E_INVALIDARG);
  if (pbDeleted != nullptr) {
    *pbDeleted = false;
  }
  CertStore store;
  HRESULT hr = CertStore::OpenMy(location, &store);
  if (FAILED(hr)) {
    return hr;
  }
  CertContext found = FirstMatch(store, pbEncoded, cbEncoded);
  if (!found) {
    return S_OK;
  }
  hr = DeleteFound(MR_TRACE_FUNCTION, store, std::move(found));
  if (SUCCEEDED(hr) && pbDeleted != nullptr) {
    *pbDeleted = true;
  }
  return hr;
}

HRESULT WriteEntry(StoreLocation location, const BYTE* pbEncoded, DWORD cbEncoded,
                   const wchar_t* wszContainerName, DWORD dwKeySpec,
                   const wchar_t* wszProviderName) {
  MR_TRACE("WriteEntry");
  MR_FAIL_IF(pbEncoded == nullptr || cbEncoded == 0, L"Check certificate", E_INVALIDARG);
  MR_FAIL_IF(wszContainerName == nullptr || wszProviderName == nullptr, L"Check names",
             E_INVALIDARG);

  // A context of our own, outside any store, carries the property.
  CertContext cert = CertContext::FromEncoded(pbEncoded, cbEncoded);
  if (!cert) {
    const HRESULT hr = FailedCallResult(ERROR_INVALID_DATA);
    MR_LOG_FAIL(L"CertCreateCertificateContext", L"pstCertificate == NULL", hr);
    return hr;
  }
  std::wstring container(wszContainerName);
  std::wstring provider(wszProviderName);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = &container[0];
  info.pwszProvName = &provider[0];
  info.dwProvType = kProviderType;
  info.dwFlags = location == StoreLocation::LocalMachine ? CRYPT_MACHINE_KEYSET : 0;
  info.cProvParam = 0;
  info.rgProvParam = nullptr;
  info.dwKeySpec = dwKeySpec;
  if (!::CertSetCertificateContextProperty(cert.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
    const HRESULT hr = FailedCallResult(ERROR_INVALID_DATA);
    MR_LOG_FAIL(L"CertSetCertificateContextProperty", L"bRetCode == FALSE", hr);
    return hr;
  }

  CertStore store;
  HRESULT hr = CertStore::OpenMy(location, &store);
  if (FAILED(hr)) {
    return hr;
  }
  CertContext existing = FirstMatch(store, pbEncoded, cbEncoded);
  if (existing) {
    hr = DeleteFound(MR_TRACE_FUNCTION, store, std::move(existing));
    if (FAILED(hr)) {
      return hr;
    }
  }
  if (!::CertAddCertificateContextToStore(store.Get(), cert.Get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr)) {
    hr = FailedCallResult(ERROR_WRITE_FAULT);
    MR_LOG_FAIL(L"CertAddCertificateContextToStore", L"bRetCode == FALSE", hr);
    return hr;
  }
  return CommitChange(MR_TRACE_FUNCTION, store);
}

HRESULT WriteEntry(StoreLocation location, const BYTE* pbEncoded, DWORD cbEncoded,
                   const char* szContainerNameUtf8, DWORD dwKeySpec,
                   const wchar_t* wszProviderName) {
  MR_TRACE("WriteEntry");
  MR_FAIL_IF(szContainerNameUtf8 == nullptr, L"Check container name", E_INVALIDARG);
  std::wstring container;
  const HRESULT hr = UTF8ToUTF16Text(szContainerNameUtf8, &container);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"UTF8ToUTF16", L"hResult != S_OK", hr);
    return hr;
  }
  return WriteEntry(location, pbEncoded, cbEncoded, container.c_str(), dwKeySpec, wszProviderName);
}

HRESULT Sm2BrowserMarkerPath(std::wstring* pPath) {
  MR_TRACE("Sm2BrowserMarkerPath");
  MR_FAIL_IF(pPath == nullptr, L"Check parameters", E_INVALIDARG);
  wchar_t folder[MAX_PATH] = {};
  const HRESULT hr = ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"SHGetFolderPathW", L"FAILED(hResult)", hr);
    return hr;
  }
  *pPath = std::wstring(folder) + L"\\Tolvane\\Merro\\sm2browser.spt";
  return S_OK;
}

bool Sm2BrowserMarkerExists() {
  std::wstring path;
  return SUCCEEDED(Sm2BrowserMarkerPath(&path)) && ::PathFileExistsW(path.c_str());
}

}  // namespace merro::provider
