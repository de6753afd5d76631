// DeviceHandle: the certificates of a container's two key slots, read from
// and written to the token's certificate files.
#include <cstring>
#include <memory>
#include <new>

#include "device/device_handle.h"
#include "device/key_slots.h"
#include "foundation/alg_ids.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// Room for the certificate read from the token.
constexpr DWORD kCertReadBytes = 4096;

// Both key pairs (a length code for each) and both certificates, yet not
// marked available: the token layer marks a generated exchange key nowhere
// in the flag, so a container whose pairs were both generated on the token
// never reaches 0x0F by the file bits alone.
bool IsCompleteButUnmarked(const CONTAINER_RECORD& stRecord) {
  const BYTE byCertBits = MR_CTNR_EXCH_CERT | MR_CTNR_SIGN_CERT;
  return stRecord.ExchKeyLen != MR_CTNR_NONE && stRecord.SignKeyLen != MR_CTNR_NONE &&
         (stRecord.byFlag & byCertBits) == byCertBits && stRecord.byFlag != MR_CTNR_AVL;
}

}  // namespace

HRESULT DeviceHandle::ExportCertificate(const char* pszDevName, const char* pszContainerName,
                                        DWORD dwKeySpec, BYTE** ppbyCertData,
                                        DWORD* pdwCertDataSize) {
  MR_TRACE("DeviceHandle::ExportCertificate");
  HRESULT hResult = CheckSlotArguments(MR_TRACE_FUNCTION, pszDevName, pszContainerName, dwKeySpec);
  if (FAILED(hResult)) {
    return hResult;
  }
  MR_FAIL_IF(ppbyCertData == NULL, L"Check ppbyCertData", E_INVALIDARG);
  // The length is stored through it.
  MR_FAIL_IF(pdwCertDataSize == NULL, L"Check pdwCertDataSize", E_INVALIDARG);

  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  hResult = ResolveContainer(pszDevName, pszContainerName, &pItem, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);

  std::unique_ptr<BYTE[]> pbyRead(new (std::nothrow) BYTE[kCertReadBytes]);
  MR_FAIL_IF(pbyRead == nullptr, L"New buffer", E_OUTOFMEMORY);
  DWORD dwCertLen = kCertReadBytes;
  const HRESULT nRetCode = ExportCert(pDevCtx, CertFileId(*pItem->pstContainer(), dwKeySpec),
                                      pbyRead.get(), &dwCertLen);
  MR_FAIL_IF(nRetCode != 0, L"ExportCert", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_FAIL_IF(dwCertLen > kCertReadBytes, L"Check certificate length", E_FAIL);

  OwnedBytes pbyCert = OwnedBytes::CopyOf(pbyRead.get(), dwCertLen);
  MR_FAIL_IF(pbyCert == nullptr, L"New buffer", E_OUTOFMEMORY);
  pbyCert.HandOut(ppbyCertData, pdwCertDataSize);
  return S_OK;
}

HRESULT DeviceHandle::ImportCertificate(const char* pszDevName, const char* pszContainerName,
                                        DWORD dwKeySpec, const BYTE* pbyDERCert,
                                        DWORD dwDERCertSize) {
  MR_TRACE("DeviceHandle::ImportCertificate");
  HRESULT hResult = CheckSlotArguments(MR_TRACE_FUNCTION, pszDevName, pszContainerName, dwKeySpec);
  if (FAILED(hResult)) {
    return hResult;
  }
  MR_FAIL_IF(pbyDERCert == NULL, L"Check pbyDERCert", E_INVALIDARG);
  MR_FAIL_IF(dwDERCertSize == 0, L"Check dwDERCertSize", E_INVALIDARG);

  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  hResult = ResolveContainer(pszDevName, pszContainerName, &pItem, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);

  HRESULT nRetCode = ImportCert(pDevCtx, CertFileId(*pItem->pstContainer(), dwKeySpec), pbyDERCert,
                                dwDERCertSize);
  MR_FAIL_IF(nRetCode != 0, L"ImportCert", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  // The list shows the new certificate bit.
  nRetCode = RereadRecord(pDevCtx, pItem);
  MR_FAIL_IF(nRetCode != 0, L"ReadContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));

  const CONTAINER_RECORD& stRecord = *pItem->pstContainer();
  const bool bExchangeOnly =
      stRecord.ExchKeyLen != MR_CTNR_NONE && stRecord.SignKeyLen == MR_CTNR_NONE;
  if (bExchangeOnly || IsCompleteButUnmarked(stRecord)) {
    // The token records the container as available (0x03 or 0x0F), so that
    // it can sign and no later creation reclaims it as unfinished.
    nRetCode = EnableContainer(pDevCtx, pszContainerName,
                               static_cast<DWORD>(strnlen(pszContainerName, MR_CTNR_NAME_MAX)));
    MR_FAIL_IF(nRetCode != 0, L"EnableContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  }
  nRetCode = RereadRecord(pDevCtx, pItem);
  MR_FAIL_IF(nRetCode != 0, L"ReadContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_LOG_STEP(L"ImportCertificate");
  return S_OK;
}

}  // namespace merro::device
