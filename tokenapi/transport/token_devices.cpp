// The token's view of enumeration: its name list and the token test.
#include <cstring>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/usb_ids.h"

namespace {

constexpr DWORD kNameListCapacity = 4160;
constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kNotAToken = static_cast<HRESULT>(0x80070200);

}  // namespace

HRESULT mr_EnumDevice(BYTE* pDevName, DWORD* pCounter) {
  MR_TRACE("mr_EnumDevice");
  MR_FAIL_IF(pCounter == nullptr, L"CHECK pCounter", kBadArgument);
  BYTE list[kNameListCapacity] = {};
  DWORD listLen = sizeof list;
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(MerroEnumDevice(
      merro::transport::kTokenUsbVendorId, merro::transport::kTokenUsbProductId, list, &listLen));
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"MerroEnumDevice(MERRO30)", L"enumeration failed", hr);
    return hr;
  }
  if (pDevName == nullptr) {
    MR_LOG_STEP(L"CHECK pDevName");
    *pCounter = listLen;
    return S_OK;
  }
  if (*pCounter < listLen) {
    *pCounter = listLen;
    MR_LOG_FAIL(L"CHECK *pCounter SIZE", L"*pCounter < list length", kBufferTooSmall);
    return kBufferTooSmall;
  }
  std::memcpy(pDevName, list, listLen);
  *pCounter = listLen;
  return S_OK;
}

HRESULT mr_IsMERRO(const char* pszDevName, DWORD* pdwOut1, DWORD* pdwOut2) {
  MR_TRACE("mr_IsMERRO");
  MR_FAIL_IF(pszDevName == nullptr || pdwOut1 == nullptr || pdwOut2 == nullptr,
             L"CHECK pszDevName", kBadArgument);
  // Zero until found: a name that is not listed is not a token.
  DWORD vid = 0, pid = 0;
  const HRESULT hr = MerroGetDeviceID(pszDevName, &vid, &pid);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"MerroGetDeviceID", L"identification failed", hr);
    return hr;
  }
  MR_FAIL_IF(vid != merro::transport::kTokenUsbVendorId, L"CHECK VID", kNotAToken);
  MR_FAIL_IF((pid & merro::transport::kTokenUsbProductId) != merro::transport::kTokenUsbProductId,
             L"CHECK PID", kNotAToken);
  *pdwOut1 = merro::transport::kTokenIdentityHigh;
  *pdwOut2 = merro::transport::kTokenIdentityLow;
  return S_OK;
}
