// DeviceHandle::MerroCreateContainer: a new named container on the token the
// user selects, after the user PIN was verified there (typed by the user,
// or the factory PIN where the bank's rules allow it).
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "device/device_lists.h"
#include "device/device_trace.h"
#include "device/token_access.h"
#include "device/ui/confirm_runner.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/secret_bytes.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// The user PIN a token leaves the factory with.
constexpr char kFactoryUserPIN[] = "47193628";
constexpr DWORD kConfirmOnToken = 1;  // CheckPIN may wait for the token's button

// *pPin = the bytes; 0x8007000E when memory ran out.
HRESULT CopyPin(SecretBytes* pPin, const void* pBytes, size_t nSize) {
  return pPin->Assign(pBytes, nSize) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT DeviceHandle::MerroCreateContainer(const char* pszContainerName, char** ppszDevName) {
  MR_TRACE("DeviceHandle::MerroCreateContainer");
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  // The name goes into the record's 64-byte field with its terminator.
  const size_t nNameLength = strnlen(pszContainerName, MR_CTNR_NAME_MAX);
  MR_FAIL_IF(nNameLength >= MR_CTNR_NAME_MAX, L"Check pszContainerName length", E_INVALIDARG);
  MR_FAIL_IF(ppszDevName == NULL, L"Check ppszDevName", E_INVALIDARG);
  *ppszDevName = nullptr;

  // Creation never runs on a kept PIN.
  ClearKeptPIN(m_szCurrentDeviceName);
  HRESULT hResult = UpdateContainer();
  MR_FAIL_IF(hResult != S_OK, L"UpdateContainer", HRESULT_FROM_TOKEN_ERROR(hResult));
  hResult = SelectDevice();
  MR_FAIL_IF(hResult != S_OK, L"SelectDevice", HRESULT_FROM_TOKEN_ERROR(hResult));
  MR_FAIL_IF(m_lpCurrentDevice == NULL, L"Check m_lpCurrentDevice", E_FAIL);
  // The selected token by name from here on: a dialog's modal loop may
  // refresh the lists while the user types.
  char szDevName[kDeviceNameChars];
  CopyName(szDevName, m_szCurrentDeviceName, kDeviceNameChars);

  DWORD dwLeftTimes = 0;
  DWORD dwStatus = 0;
  DWORD dwModified = 0;
  hResult = GetPINInfo(szDevName, MR_PIN_USER, &dwLeftTimes, &dwStatus, &dwModified);
  MR_FAIL_IF(hResult != S_OK, L"GetPINInfo", HRESULT_FROM_TOKEN_ERROR(hResult));

  // The PIN loop ends on a verified PIN, a cancel or time-out, or no tries
  // left. The factory PIN stands in for typing once at most: when the token
  // refuses it, the user is asked.
  SecretBytes pin;
  bool bFactoryTried = false;
  for (;;) {
    hResult = CheckDefaultPINStat(dwModified);
    MR_FAIL_IF(hResult != S_OK, L"CheckDefaultPINStat", HRESULT_FROM_TOKEN_ERROR(hResult));
    pin.Clear();
    if (m_dwCustomerType == kCustomerTypeBank && m_bFlagFileExist == 1 && dwModified == 0 &&
        !bFactoryTried && dwLeftTimes > 0) {
      bFactoryTried = true;
      hResult = CopyPin(&pin, kFactoryUserPIN, sizeof kFactoryUserPIN - 1);
      MR_FAIL_IF(hResult != S_OK, L"New buffer", E_OUTOFMEMORY);
    } else {
      char* pszPIN = nullptr;
      hResult = GetUserPIN(static_cast<int>(dwLeftTimes), &pszPIN);
      MR_FAIL_IF(FAILED(hResult), L"GetUserPIN", hResult);
      const SecretText typed =
          SecretText::Adopt(pszPIN, static_cast<DWORD>(std::strlen(pszPIN)));
      hResult = CopyPin(&pin, typed.data(), typed.size());
      MR_FAIL_IF(hResult != S_OK, L"New buffer", E_OUTOFMEMORY);
    }

    hResult = CheckPIN(szDevName, MR_PIN_USER, reinterpret_cast<const char*>(pin.data()),
                       static_cast<DWORD>(pin.size()), static_cast<int>(dwLeftTimes),
                       kConfirmOnToken);
    TraceDeviceValue(18, {static_cast<DWORD>(hResult)});
    if (hResult == S_OK) {
      TraceDeviceValue(19, {});
      break;
    }
    TraceDeviceValue(20, {});
    // C on the token or its time-out, in the token's form or as the
    // confirmation hands them over: the holder's answer, which costs no try.
    const HRESULT hAnswer = ui::MapConfirmResult(hResult);
    MR_FAIL_IF(hAnswer == SCARD_W_CANCELLED_BY_USER || hAnswer == SCARD_E_TIMEOUT, L"CheckPIN",
               hAnswer);
    hResult = GetPINInfo(szDevName, MR_PIN_USER, &dwLeftTimes, &dwStatus, &dwModified);
    MR_FAIL_IF(hResult != S_OK, L"GetPINInfo", HRESULT_FROM_TOKEN_ERROR(hResult));
  }
  KeepUserPIN(szDevName, pin.data(), static_cast<DWORD>(pin.size()));
  pin.Clear();

  // The name must be new on every inserted token, not only the selected one.
  hResult = CheckContainerExist(pszContainerName);
  MR_FAIL_IF(hResult == S_OK, L"CheckContainerExist", NTE_EXISTS);

  DWORD dwDeviceIndex = 0;
  DEV_CTX* pDevCtx = nullptr;
  hResult = ResolveDevice(szDevName, &dwDeviceIndex, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"Check the selected token is listed", NTE_BAD_KEYSET);
  CONTAINER_RECORD stRecord;
  std::memset(&stRecord, 0, sizeof stRecord);
  std::memcpy(stRecord.szContainerName, pszContainerName, nNameLength);
  const HRESULT nRetCode = CreateContainer(pDevCtx, &stRecord);
  MR_FAIL_IF(nRetCode != 0, L"CreateContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));

  const size_t nDevNameLength = strnlen(szDevName, kDeviceNameChars - 1);
  OwnedText pDevName = OwnedText::CopyOf(szDevName, nDevNameLength, nDevNameLength + 1);
  MR_FAIL_IF(!pDevName, L"New buffer", E_OUTOFMEMORY);
  // The record as the token wrote it back, so that the list answers as it
  // would after a refresh.
  hResult = AppendContainers(&m_vtrContainerSet, dwDeviceIndex, szDevName, &stRecord, 1);
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"Append the container item", L"hResult != S_OK", hResult);
    return hResult;
  }
  pDevName.HandOut(ppszDevName);
  MR_LOG_STEP(L"MerroCreateContainer");
  return S_OK;
}

}  // namespace merro::device
