// DeviceHandle: verifying, changing and unblocking PINs. With few tries
// left, a verification or change may wait for the token's own OK or C
// button while the operation-confirmation dialog stands on the screen.
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "device/ui/confirm_contexts.h"
#include "device/ui/user_interface.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"
#include "tokenapi/api/pin_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// The token API carries PIN lengths in a byte: a longer length would reach
// the token as its low byte, and a prefix of the PIN would be checked.
constexpr DWORD kPinLengthMax = 255;
// The confirmation is offered from this many tries left downwards.
constexpr int kConfirmTriesMax = 3;

const BYTE* Bytes(const char* psz) { return reinterpret_cast<const BYTE*>(psz); }

// "Remaining times 3, please take caution." and the confirmation request on
// the next lines, in the thread's language and with its punctuation. The
// first string is read into 16 characters, so its English text gives
// "Remaining times".
std::wstring PinConfirmTips(int nLeftTimes) {
  const HMODULE module = merro::win::ThisModule();
  wchar_t wszRemaining[16] = {};
  wchar_t wszCaution[128] = {};
  wchar_t wszConfirm[128] = {};
  ::LoadStringW(module, IDS_REMAINING_TIMES, wszRemaining, static_cast<int>(std::size(wszRemaining)));
  ::LoadStringW(module, IDS_TAKE_CAUTION, wszCaution, static_cast<int>(std::size(wszCaution)));
  ::LoadStringW(module, IDS_OPERATION_CONFIRM, wszConfirm, static_cast<int>(std::size(wszConfirm)));
  wchar_t wszTips[512] = {};
  const std::wstring format =
      merro::win::LoadThisModuleString(IDS_OPERATION_TIPS_FORMAT, L"%ls %d, %ls.\n%ls");
  std::swprintf(wszTips, std::size(wszTips), format.c_str(), wszRemaining, nLeftTimes,
                wszCaution, wszConfirm);
  return wszTips;
}

// Runs the context's operation while the operation dialog stands (no owner
// window). The worker gets a lease on the token's context: the dialog's
// modal loop may run a refresh that closes the list's contexts, and the
// worker's stays open until it has been joined. The context's result is the
// worker's, or the failure that kept it from running.
HRESULT RunPinConfirmation(DeviceHandle& handle, const char* pszDevName, int nLeftTimes,
                           ui::OperationConfirmContext* pContext) {
  DevCtxLease lease;
  HRESULT hr = handle.LendDevCtx(pszDevName, &lease);
  if (FAILED(hr)) {
    return hr;
  }
  try {
    const std::wstring tips = PinConfirmTips(nLeftTimes);
    pContext->pDevCtx = lease.get();
    pContext->pwszTips = tips.c_str();
    pContext->hResult = E_FAIL;
    pContext->hResult = ui::UserInterface::Current().RunConfirmed(
        {ui::ConfirmKind::Operation, nullptr, tips}, ui::OperationCall(*pContext));
    pContext->pwszTips = nullptr;
  } catch (const std::bad_alloc&) {
    pContext->pwszTips = nullptr;
    pContext->hResult = E_OUTOFMEMORY;
  }
  return pContext->hResult;  // the lease goes back after the join
}

// The PIN operation the context describes, on the token's current context:
// in the confirmation dialog when the caller allows it and few tries remain,
// else on this thread. A negative result is returned as it is (the token's
// wrong-PIN codes among them); anything else is 0.
HRESULT RunPinOperation(DeviceHandle& handle, const char* pszDevName, DEV_CTX* pDevCtx,
                        int nLeftTimes, DWORD dwConfirm, ui::OperationConfirmContext* pContext,
                        const char* function, const wchar_t* step, const wchar_t* dialogStep) {
  MR_TRACE_UNDER(function);
  HRESULT hr = E_FAIL;
  if (dwConfirm == 1 && nLeftTimes <= kConfirmTriesMax) {
    hr = RunPinConfirmation(handle, pszDevName, nLeftTimes, pContext);
    step = dialogStep;
  } else {
    pContext->pDevCtx = pDevCtx;
    hr = ui::CallOperation(*pContext);
  }
  if (FAILED(hr)) {
    MR_LOG_FAIL(step, L"FAILED(nRet)", hr);
    return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT DeviceHandle::CheckPIN(const char* szDevName, DWORD dwPinType, const char* szUserPin,
                               DWORD dwUserPinSize, int nLeftTimes, DWORD dwConfirm) {
  MR_TRACE("DeviceHandle::CheckPIN");
  MR_FAIL_IF(szDevName == NULL, L"Check szDevName", E_INVALIDARG);
  MR_FAIL_IF(szUserPin == NULL, L"Check PIN", E_INVALIDARG);
  MR_FAIL_IF(dwUserPinSize == 0, L"Check PIN Size", E_INVALIDARG);
  MR_FAIL_IF(dwUserPinSize > kPinLengthMax, L"Check PIN Size", E_INVALIDARG);
  // The session, the command and the confirmation that may wait for the
  // token's button run under the token's sequence lock.
  merro::transport::TokenSequenceLock sequence;
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = OpenTokenSession(*this, szDevName, MR_TRACE_FUNCTION, &sequence, &pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }

  ui::OperationConfirmContext context;
  context.nArgForm = ui::kOperationForm4;
  context.pfnOperation4 = &::VerifyPIN;
  context.dwArg1 = dwPinType;
  context.pbyArg2 = Bytes(szUserPin);
  context.dwArg3 = dwUserPinSize;
  return RunPinOperation(*this, szDevName, pDevCtx, nLeftTimes, dwConfirm, &context,
                         MR_TRACE_FUNCTION, L"VerifyPIN", L"VerifyPIN (Dialog)");
}

HRESULT DeviceHandle::ModifyPIN(const char* szDevName, DWORD dwPinType, const char* szOldPin,
                                DWORD dwOldPinSize, const char* szNewPin, DWORD dwNewPinSize,
                                int nLeftTimes, DWORD dwConfirm) {
  MR_TRACE("DeviceHandle::ModifyPIN");
  MR_FAIL_IF(szDevName == NULL, L"Check szDevName", E_INVALIDARG);
  MR_FAIL_IF(szOldPin == NULL, L"Check szOldPin", E_INVALIDARG);
  MR_FAIL_IF(dwOldPinSize <= 0, L"Check dwOldPinSize", E_INVALIDARG);
  MR_FAIL_IF(dwOldPinSize > kPinLengthMax, L"Check dwOldPinSize", E_INVALIDARG);
  MR_FAIL_IF(szNewPin == NULL, L"Check szNewPin", E_INVALIDARG);
  MR_FAIL_IF(dwNewPinSize <= 0, L"Check dwNewPinSize", E_INVALIDARG);
  MR_FAIL_IF(dwNewPinSize > kPinLengthMax, L"Check dwNewPinSize", E_INVALIDARG);
  // The session, the command and the confirmation that may wait for the
  // token's button run under the token's sequence lock.
  merro::transport::TokenSequenceLock sequence;
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = OpenTokenSession(*this, szDevName, MR_TRACE_FUNCTION, &sequence, &pDevCtx);
  if (hr != 0) {
    return HRESULT_FROM_TOKEN_ERROR(hr);
  }

  ui::OperationConfirmContext context;
  context.nArgForm = ui::kOperationForm6;
  context.pfnOperation6 = &::ChangePIN;
  context.dwArg1 = dwPinType;
  context.pbyArg2 = Bytes(szOldPin);
  context.dwArg3 = dwOldPinSize;
  context.pbyArg4 = Bytes(szNewPin);
  context.dwArg5 = dwNewPinSize;
  return RunPinOperation(*this, szDevName, pDevCtx, nLeftTimes, dwConfirm, &context,
                         MR_TRACE_FUNCTION, L"ChangePIN", L"ChangePIN (Dialog)");
}

HRESULT DeviceHandle::UnlockUserPIN(const char* pszDevName, const char* pszAdminPIN,
                                    const char* pszDefaultPIN) {
  MR_TRACE("DeviceHandle::UnlockUserPIN");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszAdminPIN == NULL, L"Check pszAdminPIN", E_INVALIDARG);
  MR_FAIL_IF(pszDefaultPIN == NULL, L"Check pszDefaultPIN", E_INVALIDARG);
  const size_t nAdminPinLength = std::strlen(pszAdminPIN);
  const size_t nDefaultPinLength = std::strlen(pszDefaultPIN);
  MR_FAIL_IF(nAdminPinLength > kPinLengthMax, L"Check pszAdminPIN", E_INVALIDARG);
  MR_FAIL_IF(nDefaultPinLength > kPinLengthMax, L"Check pszDefaultPIN", E_INVALIDARG);
  merro::transport::TokenSequenceLock sequence;
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = OpenTokenSession(*this, pszDevName, MR_TRACE_FUNCTION, &sequence, &pDevCtx);
  if (hr != 0) {
    return HRESULT_FROM_TOKEN_ERROR(hr);
  }
  hr = UnlockPIN(pDevCtx, MR_PIN_USER, Bytes(pszAdminPIN), static_cast<BYTE>(nAdminPinLength),
                 Bytes(pszDefaultPIN), static_cast<BYTE>(nDefaultPinLength));
  if (hr != 0) {
    MR_LOG_FAIL(L"UnlockPIN", L"nRet != 0x00", hr);
    return HRESULT_FROM_TOKEN_ERROR(hr);
  }
  return S_OK;
}

}  // namespace merro::device
