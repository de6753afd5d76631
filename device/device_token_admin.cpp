// DeviceHandle: whole-token commands (the reset of the security state,
// erasing and initialising the file system) and the token's label. Only
// ResetKey has callers in the system; the others stay for tools and tests.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/container_api.h"
#include "tokenapi/api/device_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kLabelBufferBytes = 260;

// Finds the token and sends it one command that takes only its context;
// any failure of the command is reported as 0x80004005.
HRESULT RunWholeTokenCommand(DeviceHandle& handle, const char* function, const char* pszDevName,
                             HRESULT (*pfnCommand)(DEV_CTX*), const wchar_t* step) {
  MR_TRACE_UNDER(function);
  if (pszDevName == nullptr) {
    MR_LOG_FAIL(L"Check pszDevName", L"pszDevName == NULL", E_INVALIDARG);
    return E_INVALIDARG;
  }
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = FindListedToken(handle, pszDevName, function, &pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }
  // A reset in the middle of another thread's or process's sequence would
  // end it: the command waits until no sequence runs on the token.
  merro::transport::TokenSequenceLock sequence;
  hr = sequence.TakeByMutexName(pDevCtx->szMutexName);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"Take the token's sequence lock", L"FAILED(hr)", hr);
    return hr;
  }
  hr = pfnCommand(pDevCtx);
  if (hr != 0) {
    MR_LOG_FAIL(step, L"nRet != 0x00", hr);
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace

HRESULT DeviceHandle::ResetKey(const char* pszDevName) {
  MR_TRACE("DeviceHandle::ResetKey");
  return RunWholeTokenCommand(*this, MR_TRACE_FUNCTION, pszDevName, &::ResetDevice, L"ResetDevice");
}

HRESULT DeviceHandle::EraseKey(const char* pszDevName) {
  MR_TRACE("DeviceHandle::EraseKey");
  return RunWholeTokenCommand(*this, MR_TRACE_FUNCTION, pszDevName, &::EraseMF, L"EraseMF");
}

HRESULT DeviceHandle::InitKey(const char* pszDevName) {
  MR_TRACE("DeviceHandle::InitKey");
  return RunWholeTokenCommand(*this, MR_TRACE_FUNCTION, pszDevName, &::InitTokenFile,
                              L"InitTokenFile");
}

HRESULT DeviceHandle::GetDeviceLabelInfo(const char* pszDevName, char** ppszDeviceLabel) {
  MR_TRACE("DeviceHandle::GetDeviceLabelInfo");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(ppszDeviceLabel == NULL, L"Check ppszDeviceLabel", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }

  BYTE byLabel[kLabelBufferBytes] = {};
  DWORD dwLabelLength = kLabelBufferBytes;
  hr = GetTokenSN(pDevCtx, byLabel, &dwLabelLength);
  MR_FAIL_IF(hr != 0, L"GetTokenSN", HRESULT_FROM_TOKEN_ERROR(hr));
  if (dwLabelLength > kLabelBufferBytes) {
    dwLabelLength = kLabelBufferBytes;
  }
  OwnedText pszLabel = OwnedText::CopyOf(byLabel, dwLabelLength, dwLabelLength + 1);
  MR_FAIL_IF(pszLabel == NULL, L"New label buffer", E_OUTOFMEMORY);
  pszLabel.HandOut(ppszDeviceLabel);  // the caller frees it with delete[]
  return S_OK;
}

HRESULT DeviceHandle::SetDeviceLabelInfo(const char* pszDevName, const char* pszDeviceLabel) {
  MR_TRACE("DeviceHandle::SetDeviceLabelInfo");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszDeviceLabel == NULL, L"Check pszDeviceLabel", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }
  hr = SetTokenSN(pDevCtx, reinterpret_cast<const BYTE*>(pszDeviceLabel),
                  static_cast<DWORD>(std::strlen(pszDeviceLabel)));
  MR_FAIL_IF(hr != 0, L"SetTokenSN", HRESULT_FROM_TOKEN_ERROR(hr));
  return S_OK;
}

}  // namespace merro::device
