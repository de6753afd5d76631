// DeviceHandle: signing a transaction message. The token shows the message
// on its display and signs it once its holder pressed OK, while the
// transaction-confirmation dialog stands on the screen; the token call runs
// on the dialog's worker.
#include <atomic>
#include <cwchar>
#include <new>
#include <string>

#include "device/container_key.h"
#include "device/device_handle.h"
#include "device/key_pair_arguments.h"
#include "device/token_access.h"
#include "device/ui/confirm_contexts.h"
#include "device/ui/user_interface.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kSignatureBufferSize = 2048;
constexpr int kTipsChars = 260;

}  // namespace

HRESULT DeviceHandle::SignXMLMsg(const char* pszDevName, const char* pszContainerName,
                                 DWORD dwKeySpec, ALG_ID uHashAlg, const BYTE* pbySourceData,
                                 DWORD dwSourceDataSize, BYTE** ppbySignatureValue,
                                 DWORD* pdwSignatureValueSize) {
  MR_TRACE("DeviceHandle::SignXMLMsg");
  HRESULT hResult = CheckKeyPairArguments(
      MR_TRACE_FUNCTION, pszDevName, pszContainerName, pbySourceData, dwSourceDataSize,
      ppbySignatureValue, pdwSignatureValueSize,
      {L"pbySourceData", L"dwSourceDataSize", L"ppbySignatureValue", L"pdwSignatureValueSize"});
  if (FAILED(hResult)) {
    return hResult;
  }
  hResult = CheckContainerExist(pszDevName, pszContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);
  BYTE byHashType = 0;
  hResult = GetKeyHashType(uHashAlg, &byHashType);
  MR_FAIL_IF(hResult != S_OK, L"GetKeyHashType", HRESULT_FROM_TOKEN_ERROR(hResult));

  // The worker signs on a lease of the token's context: the dialog's modal
  // loop may run a refresh, and the context stays open until the worker has
  // been joined and the key context released.
  DevCtxLease lease;
  ContainerKey key;
  ScopedKeyContext keyCtx;  // released before the lease goes
  hResult = OpenContainerKey(*this, pszDevName, pszContainerName, dwKeySpec, E_FAIL,
                             MR_TRACE_FUNCTION, &key, &keyCtx, &lease);
  if (FAILED(hResult)) {
    return hResult;
  }
  merro::transport::TokenSequenceLock sequence;
  hResult = LockedTokenSession(key.pDevCtx, &sequence, MR_TRACE_FUNCTION);
  if (hResult != 0) {
    return HRESULT_FROM_TOKEN_ERROR(hResult);
  }

  // From the module that holds this code: inside the provider the host
  // program has no such string.
  wchar_t wszTips[kTipsChars] = {};
  ::LoadStringW(merro::win::ThisModule(), IDS_TRANSACTION_TIPS, wszTips, kTipsChars);
  if (wcsnlen(wszTips, kTipsChars) <= 0) {
    MR_LOG_FAIL(L"SetOperationTips", L"wcslen(pwszOperationTips) <= 0", E_INVALIDARG);
    return E_INVALIDARG;
  }

  BYTE bySignature[kSignatureBufferSize] = {};
  DWORD dwSignatureSize = kSignatureBufferSize;
  ui::TransactionContext stContext;
  stContext.pKeyCtx = keyCtx.get();
  stContext.byHashType = byHashType;
  stContext.pbySourceData = pbySourceData;
  stContext.nSourceDataSize = dwSourceDataSize;
  stContext.pSignedData = bySignature;
  stContext.pSignedDataSize = &dwSignatureSize;
  // A failure until the token call itself succeeded: a confirmation that
  // never ran its call never hands out the work buffer as a signature.
  HRESULT hSignResult = E_FAIL;
  std::atomic<bool> bSigned{false};
  try {
    const ui::TokenCall sign = ui::TransactionCall(stContext);
    ui::ConfirmRequest request;
    request.kind = ui::ConfirmKind::Transaction;
    request.owner = ::GetActiveWindow();
    request.tips = wszTips;
    // RunConfirmed returns only once the worker has been joined, so the
    // buffer, its length and bSigned are final when it does.
    hSignResult = ui::UserInterface::Current().RunConfirmed(request, [&bSigned, sign] {
      const HRESULT hr = sign();
      bSigned = hr == S_OK;
      return hr;
    });
  } catch (const std::bad_alloc&) {
    hSignResult = E_OUTOFMEMORY;
  }
  if (hSignResult == S_OK && !bSigned) {
    hSignResult = E_FAIL;
  }
  MR_FAIL_IF(hSignResult != S_OK, L"PrikeySign", HRESULT_FROM_TOKEN_ERROR(hSignResult));
  MR_FAIL_IF(dwSignatureSize == 0 || dwSignatureSize > kSignatureBufferSize, L"PrikeySign",
             NTE_BAD_SIGNATURE);
  return HandOutCopy(bySignature, dwSignatureSize, ppbySignatureValue, pdwSignatureValueSize,
                     MR_TRACE_FUNCTION);
}

}  // namespace merro::device
