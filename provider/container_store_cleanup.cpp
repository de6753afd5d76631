// Container: removal of a container's certificates from the personal store
// "MY" (of the current user, or of the machine for a machine key set),
// through the store module.
#include <memory>

#include "provider/cert_store.h"
#include "provider/container.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {
namespace {

// A certificate the token holds, as the device object handed it out.
struct TokenCertificate {
  std::unique_ptr<BYTE[]> spData;
  DWORD dwSize = 0;
  bool HasData() const { return spData != nullptr && dwSize != 0; }
};

TokenCertificate ExportTokenCertificate(const Container& container, DWORD dwKeySpec) {
  TokenCertificate stCert;
  BYTE* pbyCert = nullptr;
  DWORD dwSize = 0;
  const HRESULT hResult = g_pDeviceHandle->ExportCertificate(
      container.m_szDeviceName, container.m_szContainerName, dwKeySpec, &pbyCert, &dwSize);
  stCert.spData.reset(pbyCert);
  if (hResult == S_OK) {
    stCert.dwSize = dwSize;
  }
  return stCert;
}

}  // namespace

HRESULT Container::RemoveCertFromBrowser(const char* szContainer, BOOL bAllowUI,
                                         BOOL bMachineKeySet) {
  MR_TRACE("Container::RemoveCertFromBrowser");
  if (szContainer == nullptr) {
    MR_LOG_FAIL(L"Check parameters", L"szContainer == NULL", E_INVALIDARG);
    return S_OK;
  }
  if (g_pDeviceHandle == nullptr) {
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", E_FAIL);
    return S_OK;
  }
  // Only a container that a token holds has certificates to look for.
  const std::unique_ptr<Container> spContainer =
      CreateRegisteredContainer(szContainer, bAllowUI, bMachineKeySet);
  if (!spContainer) {
    MR_LOG_FAIL(L"CreateRegisteredContainer", L"KeyContainer == NULL", NTE_NO_MEMORY);
    return S_OK;
  }
  const TokenCertificate aCerts[] = {ExportTokenCertificate(*spContainer, AT_SIGNATURE),
                                     ExportTokenCertificate(*spContainer, AT_KEYEXCHANGE)};
  const StoreLocation location = StoreLocationFor(bMachineKeySet);
  for (const TokenCertificate& stCert : aCerts) {
    if (!stCert.HasData()) {
      continue;
    }
    const HRESULT hResult = DeleteEntry(location, stCert.spData.get(), stCert.dwSize);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"CertDeleteCertificateFromStore", L"bRetCode == FALSE", hResult);
      break;
    }
  }
  return S_OK;
}

}  // namespace merro::provider
