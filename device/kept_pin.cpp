// DeviceHandle: the kept-PIN cache. A user PIN the token accepted is kept,
// protected with the user's data-protection key, so that the next
// operations on the same token within its windows do not ask again.
#include <new>

#include "device/device_handle.h"
#include "device/device_trace.h"
#include "foundation/result.h"
#include "foundation/secret_bytes.h"
#include "foundation/trace/trace.h"
#include "foundation/win/protect_data.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// A kept PIN stays usable this long after it was kept, even when the
// settings keep no PIN: the creation of a container hands its verified PIN
// to the key generation that follows.
constexpr ULONGLONG kKeptWindowMs = 30000;

// The low half of a stamp, for the value records (32-bit values).
DWORD TraceTick(ULONGLONG ullTick) { return static_cast<DWORD>(ullTick & 0xFFFFFFFFu); }

// Set and younger than the window at `now`. Stamps are 64-bit, so the age
// never wraps; a stamp in the future is no age at all.
bool WithinWindow(ULONGLONG ullStamp, ULONGLONG ullNow, ULONGLONG ullWindow) {
  return ullStamp != 0 && ullNow >= ullStamp && ullNow - ullStamp < ullWindow;
}

}  // namespace

HRESULT DeviceHandle::KeepUserPIN(const char* pszDeviceName, const BYTE* pbyUserPIN,
                                  DWORD dwPinLength) {
  MR_TRACE("DeviceHandle::KeepUserPIN");
  const ULONGLONG ullNow = Ticks();
  MR_FAIL_IF(pszDeviceName == NULL, L"Check pszDeviceName", E_INVALIDARG);
  MR_FAIL_IF(pbyUserPIN == NULL, L"Check pbyUserPIN", E_INVALIDARG);
  MR_FAIL_IF(dwPinLength <= 0, L"Check dwPinLength", E_INVALIDARG);

  BYTE* pbyBlob = nullptr;
  DWORD dwBlobSize = 0;
  const HRESULT hResult =
      CreateProtectData(pbyUserPIN, dwPinLength, nullptr, nullptr, 0, &pbyBlob, &dwBlobSize);
  // A partial blob is freed on the failure path too.
  std::unique_ptr<BYTE[]> blob(pbyBlob);
  MR_FAIL_IF(hResult != S_OK, L"CreateProtectData for pin", HRESULT_FROM_TOKEN_ERROR(hResult));

  UserPINContext* pContext = nullptr;
  try {
    pContext = &m_mapUserPINContext[pszDeviceName];
  } catch (const std::bad_alloc&) {
    MR_LOG_FAIL(L"Insert user PIN context", L"std::bad_alloc", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  pContext->ReplaceBlob(blob.release(), dwBlobSize);
  pContext->dwLastUsedTick = ullNow;
  pContext->dwKeptTick = ullNow;
  TraceDeviceValue(35, {TraceTick(ullNow)});
  MR_LOG_STEP(L"KeepUserPIN");
  return S_OK;
}

BOOL DeviceHandle::HaveKeptPIN(const char* pszDeviceName) {
  MR_TRACE("DeviceHandle::HaveKeptPIN");
  if (pszDeviceName == nullptr) {
    return FALSE;
  }
  const auto itrUserPinContext = m_mapUserPINContext.find(pszDeviceName);
  if (itrUserPinContext == m_mapUserPINContext.end()) {
    return FALSE;
  }
  const UserPINContext& stContext = itrUserPinContext->second;
  if (stContext.pbyProtectedPIN == nullptr || stContext.dwProtectedPINSize == 0) {
    return FALSE;
  }
  const ULONGLONG ullNow = Ticks();
  // Long window after the last use; short window after keeping. An expired
  // entry stays until its first failed use drops it.
  if (WithinWindow(stContext.dwLastUsedTick, ullNow, m_dwKeepPINTimeout) ||
      WithinWindow(stContext.dwKeptTick, ullNow, kKeptWindowMs)) {
    return TRUE;
  }
  return FALSE;
}

HRESULT DeviceHandle::GetKeptUserPIN(const char* pszDeviceName, BYTE** ppbyUserPIN,
                                     DWORD* pdwPINLength) {
  MR_TRACE("DeviceHandle::GetKeptUserPIN");
  MR_FAIL_IF(pszDeviceName == NULL, L"Check pszDeviceName", E_INVALIDARG);
  // Any failure from here on drops the entry: an expired or broken kept PIN
  // goes on its first failed use.
  struct DropOnFailure {
    DeviceHandle* pHandle;
    const char* pszName;
    bool bKeep = false;
    ~DropOnFailure() {
      if (!bKeep) {
        pHandle->ClearKeptPIN(pszName);
      }
    }
  } drop{this, pszDeviceName};

  MR_FAIL_IF(ppbyUserPIN == NULL, L"Check ppbyUserPIN", E_INVALIDARG);
  MR_FAIL_IF(pdwPINLength == NULL, L"Check pdwPINLength", E_INVALIDARG);
  *ppbyUserPIN = nullptr;
  *pdwPINLength = 0;
  const auto itrUserPinContext = m_mapUserPINContext.find(pszDeviceName);
  MR_FAIL_IF(itrUserPinContext == m_mapUserPINContext.end(), L"Check user PIN context exists",
             HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  MR_FAIL_IF(HaveKeptPIN(pszDeviceName) != TRUE, L"Check have user PIN", E_FAIL);

  UserPINContext& stContext = itrUserPinContext->second;
  // A partial buffer on failure may hold PIN bytes: wiped as it goes.
  SecretBytes pin;
  const HRESULT hResult = AcquireProtectData(stContext.pbyProtectedPIN.get(),
                                             stContext.dwProtectedPINSize, nullptr, 0, pin.Out(),
                                             pin.Length());
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"AcquireProtectData for user pin", L"hResult != S_OK",
                HRESULT_FROM_TOKEN_ERROR(hResult));
    return HRESULT_FROM_TOKEN_ERROR(hResult);
  }
  drop.bKeep = true;
  pin.HandOut(ppbyUserPIN, pdwPINLength);
  // Each use moves the long window on.
  stContext.dwLastUsedTick = Ticks();
  TraceDeviceValue(36, {TraceTick(stContext.dwLastUsedTick)});
  MR_LOG_STEP(L"GetKeptUserPIN");
  return S_OK;
}

BOOL DeviceHandle::IsKeepPIN() { return m_dwKeepPINTimeout != 0 ? TRUE : FALSE; }

void DeviceHandle::ClearKeptPIN(const char* pszDeviceName) {
  MR_TRACE("DeviceHandle::ClearKeptPIN");
  if (pszDeviceName == nullptr) {
    return;
  }
  // The entry's destructor wipes its blob.
  m_mapUserPINContext.erase(pszDeviceName);
}

}  // namespace merro::device
