// DeviceHandle: the token's name and its card operating system version, read
// from (and the name written to) the token found by its device name.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {
constexpr DWORD kTokenNameRoom = 260;
constexpr BYTE kAllDeviceInfoParts = 0xFF;
}  // namespace

HRESULT DeviceHandle::GetDeviceTokenInfo(const char* pszDevName, char** ppszDeviceToken) {
  MR_TRACE("DeviceHandle::GetDeviceTokenInfo");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(ppszDeviceToken == NULL, L"Check ppszDeviceToken", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hResult)) {
    return hResult;
  }

  BYTE abyName[kTokenNameRoom] = {};
  DWORD dwNameSize = kTokenNameRoom;
  const HRESULT nRet = GetTokenName(pDevCtx, abyName, &dwNameSize);
  MR_FAIL_IF(nRet != 0, L"GetTokenName", HRESULT_FROM_TOKEN_ERROR(nRet));
  // Never more than the buffer the name was read into.
  if (dwNameSize > kTokenNameRoom) {
    dwNameSize = kTokenNameRoom;
  }
  OwnedText pszDeviceToken = OwnedText::CopyOf(abyName, dwNameSize, dwNameSize + 1);
  MR_FAIL_IF(!pszDeviceToken, L"New buffer", E_OUTOFMEMORY);
  pszDeviceToken.HandOut(ppszDeviceToken);
  MR_LOG_STEP(L"GetDeviceTokenInfo");
  return S_OK;
}

HRESULT DeviceHandle::SetDeviceTokenInfo(const char* pszDevName, const char* pszDeviceToken) {
  MR_TRACE("DeviceHandle::SetDeviceTokenInfo");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszDeviceToken == NULL, L"Check pszDeviceToken", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hResult)) {
    return hResult;
  }

  // The token API refuses a name longer than its field, leaving the stored
  // one as it was.
  const HRESULT nRet = SetTokenName(pDevCtx, reinterpret_cast<const BYTE*>(pszDeviceToken),
                                    static_cast<DWORD>(std::strlen(pszDeviceToken)));
  MR_FAIL_IF(nRet != 0, L"SetTokenName", HRESULT_FROM_TOKEN_ERROR(nRet));
  MR_LOG_STEP(L"SetDeviceTokenInfo");
  return S_OK;
}

HRESULT DeviceHandle::GetDeviceCosVer(const char* pszDevName, char** ppszDeviceCosVer) {
  MR_TRACE("DeviceHandle::GetDeviceCosVer");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(ppszDeviceCosVer == NULL, L"Check pstDeviceInfo", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hResult)) {
    return hResult;
  }

  DEVICE_INFO stDeviceInfo;
  std::memset(&stDeviceInfo, 0, sizeof stDeviceInfo);
  stDeviceInfo.Mask = kAllDeviceInfoParts;
  const HRESULT nRet = GetDeviceInfo(pDevCtx, &stDeviceInfo);
  MR_FAIL_IF(nRet != 0, L"GetDeviceInfo", HRESULT_FROM_TOKEN_ERROR(nRet));
  OwnedText pszDeviceCosVer = OwnedText::CopyOf(stDeviceInfo.szCosVersion, kCosVersionSize);
  MR_FAIL_IF(!pszDeviceCosVer, L"New buffer", E_OUTOFMEMORY);
  pszDeviceCosVer.HandOut(ppszDeviceCosVer);
  MR_LOG_STEP(L"GetDeviceCosVer");
  return S_OK;
}

}  // namespace merro::device
