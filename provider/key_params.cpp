// KeyHandle: the key parameters CryptoAPI reads, the container's certificate
// and public key from the token, and random data from a token.
//
// Every parameter reader answers through CopyParam, the one place of the
// size-query rule: no buffer gives the needed length; a short buffer gives
// ERROR_MORE_DATA (as an HRESULT) with the needed length, the buffer left
// as it was.
#include <climits>
#include <cstring>
#include <memory>

#include "device/device_handle.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"
#include "provider/key_handle.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

// Random data always comes from the host's generator.
constexpr int kRandomFromSoftware = 2;

// The size-query rule for a value of dwNeeded bytes at pvValue (null: the
// value reads as zeros). Failures are logged for `function` under `step`
// with `reason`.
HRESULT CopyParam(const void* pvValue, DWORD dwNeeded, void* pvData, DWORD* pdwLength,
                  const char* function, const wchar_t* step, const wchar_t* reason) {
  MR_TRACE_UNDER(function);
  if (pdwLength == nullptr) {
    MR_LOG_FAIL(L"Check pdwLength", L"pdwLength == NULL", E_INVALIDARG);
    return E_INVALIDARG;
  }
  if (pvData == nullptr) {
    *pdwLength = dwNeeded;
    return S_OK;
  }
  if (*pdwLength < dwNeeded) {
    // Callers retry with the length they are told.
    *pdwLength = dwNeeded;
    MR_LOG_FAIL(step, reason, HRESULT_FROM_WIN32(ERROR_MORE_DATA));
    return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
  }
  if (pvValue != nullptr) {
    std::memcpy(pvData, pvValue, dwNeeded);
  } else {
    std::memset(pvData, 0, dwNeeded);
  }
  *pdwLength = dwNeeded;
  return S_OK;
}

// The checks before the token is asked for the container's certificate or
// public key: a key pair of the container, which is on a token.
HRESULT CheckTokenKey(const KeyHandle& key, const char* function) {
  MR_TRACE_UNDER(function);
  if (key.m_dwKeySpec != AT_KEYEXCHANGE && key.m_dwKeySpec != AT_SIGNATURE) {
    MR_LOG_FAIL(L"check Key usage", L"AT_KEYEXCHANGE != m_dwKeySpec && AT_SIGNATURE != m_dwKeySpec",
                NTE_BAD_TYPE);
    return NTE_BAD_TYPE;
  }
  if (key.m_pContainer == nullptr) {
    MR_LOG_FAIL(L"Check m_pContainer", L"m_pContainer == NULL", E_FAIL);
    return E_FAIL;
  }
  if (key.m_pContainer->IsEphemeral()) {
    MR_LOG_FAIL(L"Check is Ephemeral", L"m_pContainer->IsEphemeral()", NTE_BAD_PROV_TYPE);
    return NTE_BAD_PROV_TYPE;
  }
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  return S_OK;
}

}  // namespace

HRESULT KeyHandle::ExportAlgID(DWORD* pbData, DWORD* pdwLength) {
  MR_TRACE("KeyHandle::ExportAlgID");
  return CopyParam(&m_uAlgID, sizeof m_uAlgID, pbData, pdwLength, MR_TRACE_FUNCTION,
                   L"Check *pdwLength", L"*pdwLength < (DWORD)sizeof(m_uAlgID)");
}

HRESULT KeyHandle::ExportBlockLength(DWORD* pbData, DWORD* pdwLength) {
  MR_TRACE("KeyHandle::ExportBlockLength");
  return CopyParam(&m_dwBlockBits, sizeof m_dwBlockBits, pbData, pdwLength, MR_TRACE_FUNCTION,
                   L"Check *pdwLength", L"*pdwLength < (DWORD)sizeof(m_dwBlockBits)");
}

HRESULT KeyHandle::ExportKeyLength(DWORD* pbData, DWORD* pdwLength) {
  MR_TRACE("KeyHandle::ExportKeyLength");
  return CopyParam(&m_dwModulusBits, sizeof m_dwModulusBits, pbData, pdwLength, MR_TRACE_FUNCTION,
                   L"Check *pdwLength", L"*pdwLength < (DWORD)sizeof(m_dwModulusBits)");
}

HRESULT KeyHandle::ExportPermissions(DWORD* pbData, DWORD* pdwLength) {
  MR_TRACE("KeyHandle::ExportPermissions");
  return CopyParam(&m_dwPermissions, sizeof m_dwPermissions, pbData, pdwLength, MR_TRACE_FUNCTION,
                   L"Check *pdwLength", L"*pdwLength < (DWORD)sizeof(m_dwPermissions)");
}

HRESULT KeyHandle::ExportIV(BYTE* pbData, DWORD* pdwLength) {
  MR_TRACE("KeyHandle::ExportIV");
  return CopyParam(m_pbyIV, m_dwIVBits / 8, pbData, pdwLength, MR_TRACE_FUNCTION,
                   L"Check *pdwLength", L"*pdwLength < (DWORD)(m_dwIVBits / 8)");
}

HRESULT KeyHandle::ExportCertificate(BYTE* pbCertData, DWORD* pdwCertDataLen) {
  MR_TRACE("KeyHandle::ExportCertificate");
  HRESULT hResult = CheckTokenKey(*this, MR_TRACE_FUNCTION);
  if (hResult != S_OK) {
    return hResult;
  }
  // Read from the token even for a size query: a certificate that cannot
  // be read has no size either.
  BYTE* pbyCert = nullptr;
  DWORD dwDataLen = 0;
  hResult = g_pDeviceHandle->ExportCertificate(m_pContainer->m_szDeviceName,
                                               m_pContainer->m_szContainerName, m_dwKeySpec,
                                               &pbyCert, &dwDataLen);
  const std::unique_ptr<BYTE[]> cert(pbyCert);
  MR_FAIL_IF(hResult != S_OK, L"ExportCertificate", HRESULT_FROM_TOKEN_ERROR(hResult));
  return CopyParam(cert.get(), dwDataLen, pbCertData, pdwCertDataLen, MR_TRACE_FUNCTION,
                   L"Check *pdwCertDataLen", L"*pdwCertDataLen < dwDataLen");
}

HRESULT KeyHandle::ExportPublicKey(BYTE** ppbyPublicKeyXorN, DWORD* pdwPublicKeyXorNSize,
                                   BYTE** ppbyPublicKeyYoE, DWORD* pdwPublicKeyYoESize) {
  MR_TRACE("KeyHandle::ExportPublicKey");
  MR_FAIL_IF(ppbyPublicKeyXorN == NULL, L"Check ppbyPublicKeyXorN", E_INVALIDARG);
  MR_FAIL_IF(ppbyPublicKeyYoE == NULL, L"Check ppbyPublicKeyYoE", E_INVALIDARG);
  MR_FAIL_IF(pdwPublicKeyXorNSize == NULL, L"Check pdwPublicKeyXorNSize", E_INVALIDARG);
  MR_FAIL_IF(pdwPublicKeyYoESize == NULL, L"Check pdwPublicKeyYoESize", E_INVALIDARG);
  HRESULT hResult = CheckTokenKey(*this, MR_TRACE_FUNCTION);
  if (hResult != S_OK) {
    return hResult;
  }

  merro::OwnedBytes xorN;
  merro::OwnedBytes yorE;
  hResult = g_pDeviceHandle->ExportPubKey(m_pContainer->m_szDeviceName,
                                          m_pContainer->m_szContainerName, m_dwKeySpec, xorN.Out(),
                                          xorN.Length(), yorE.Out(), yorE.Length());
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"ExportPubKey", L"hResult != S_OK", HRESULT_FROM_TOKEN_ERROR(hResult));
    return HRESULT_FROM_TOKEN_ERROR(hResult);
  }
  xorN.HandOut(ppbyPublicKeyXorN, pdwPublicKeyXorNSize);
  yorE.HandOut(ppbyPublicKeyYoE, pdwPublicKeyYoESize);
  MR_LOG_STEP(L"ExportPublicKey");
  return S_OK;
}

HRESULT KeyHandle::GenRandomData(const char* pszDevName, BYTE* pbRandomData,
                                 DWORD dwRandomDataLen) {
  MR_TRACE("KeyHandle::GenRandomData");
  MR_FAIL_IF(!pszDevName, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(!pbRandomData, L"Check pbRandomData", E_INVALIDARG);
  MR_FAIL_IF(dwRandomDataLen <= 0, L"Check dwRandomDataLen", E_INVALIDARG);
  // The device object counts in an int.
  MR_FAIL_IF(dwRandomDataLen > static_cast<DWORD>(INT_MAX), L"Check dwRandomDataLen", E_INVALIDARG);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  const HRESULT hResult = g_pDeviceHandle->GenerateRandomData(
      pszDevName, kRandomFromSoftware, static_cast<int>(dwRandomDataLen), pbRandomData);
  MR_FAIL_IF(hResult != S_OK, L"GenerateRandomData", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

}  // namespace merro::provider
