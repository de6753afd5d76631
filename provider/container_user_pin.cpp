// Container: the container's own kept PIN (one an application handed over),
// held only as the data-protection API protected it for the current user.
#include "provider/container.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/protect_data.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {

HRESULT Container::SetUserPIN(const BYTE* pbyUserPIN, DWORD dwPinLength) {
  MR_TRACE("Container::SetUserPIN");
  MR_FAIL_IF(pbyUserPIN == NULL, L"Check pbyUserPIN", E_INVALIDARG);
  MR_FAIL_IF(dwPinLength <= 0, L"Check dwPinLength", E_INVALIDARG);
  BYTE* pbyBlob = nullptr;
  DWORD dwBlobLength = 0;
  HRESULT hResult =
      CreateProtectData(pbyUserPIN, dwPinLength, nullptr, nullptr, 0, &pbyBlob, &dwBlobLength);
  if (hResult != S_OK) {
    // Whatever was handed out goes; the old PIN stays.
    ProtectedPIN stDiscard;
    stDiscard.Replace(pbyBlob, dwBlobLength);
    hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
    MR_LOG_FAIL(L"CreateProtectData for pin", L"hResult != S_OK", hResult);
    return hResult;
  }
  m_stUserPIN.Replace(pbyBlob, dwBlobLength);
  return S_OK;
}

HRESULT Container::GetUserPIN(BYTE** ppbyUserPIN, DWORD* pdwPINLength) {
  MR_TRACE("Container::GetUserPIN");
  MR_FAIL_IF(ppbyUserPIN == NULL, L"Check ppbyUserPIN", E_INVALIDARG);
  MR_FAIL_IF(pdwPINLength == NULL, L"Check pdwPINLength", E_INVALIDARG);
  MR_FAIL_IF(HaveUserPIN() != TRUE, L"Check have user PIN", E_FAIL);
  HRESULT hResult = AcquireProtectData(m_stUserPIN.pbyData.get(), m_stUserPIN.dwLength, nullptr,
                                       0, ppbyUserPIN, pdwPINLength);
  MR_FAIL_IF(hResult != S_OK, L"AcquireProtectData for user pin",
             HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

BOOL Container::HaveUserPIN() const {
  return m_stUserPIN.pbyData != nullptr && m_stUserPIN.dwLength != 0 ? TRUE : FALSE;
}

void Container::ClearUserPIN() { m_stUserPIN.Reset(); }

}  // namespace merro::provider
