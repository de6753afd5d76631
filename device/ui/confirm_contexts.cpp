#include "device/ui/confirm_contexts.h"

#include "foundation/trace/trace.h"
#include "tokenapi/api/asym_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {
namespace {

constexpr DWORD kTokenLengthMax = 255;

}  // namespace

HRESULT CallOperation(const OperationConfirmContext& c) {
  MR_TRACE("CallOperation");
  if (c.nArgForm == kOperationForm4 && c.pfnOperation4 != nullptr) {
    MR_FAIL_IF(c.dwArg3 > kTokenLengthMax, L"Check argument 3", E_INVALIDARG);
    return c.pfnOperation4(c.pDevCtx, static_cast<BYTE>(c.dwArg1), c.pbyArg2,
                           static_cast<BYTE>(c.dwArg3));
  }
  if (c.nArgForm == kOperationForm6 && c.pfnOperation6 != nullptr) {
    MR_FAIL_IF(c.dwArg3 > kTokenLengthMax, L"Check argument 3", E_INVALIDARG);
    MR_FAIL_IF(c.dwArg5 > kTokenLengthMax, L"Check argument 5", E_INVALIDARG);
    return c.pfnOperation6(c.pDevCtx, static_cast<BYTE>(c.dwArg1), c.pbyArg2,
                           static_cast<BYTE>(c.dwArg3), c.pbyArg4, static_cast<BYTE>(c.dwArg5));
  }
  MR_LOG_FAIL(L"Check the argument form", L"no operation for this form", E_FAIL);
  return E_FAIL;
}

TokenCall OperationCall(const OperationConfirmContext& context) {
  // A copy: the worker never reads the caller's record.
  return [c = context] { return CallOperation(c); };
}

TokenCall TransactionCall(const TransactionContext& context) {
  return [c = context] {
    return SignXML(c.pKeyCtx, c.byHashType, c.pbySourceData, c.nSourceDataSize, c.pSignedData,
                   c.pSignedDataSize);
  };
}

}  // namespace merro::ui
