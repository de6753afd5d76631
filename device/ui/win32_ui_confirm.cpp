#include <memory>
#include <new>

#include "device/ui/confirm_dialogs.h"
#include "device/ui/win32_user_interface.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {

HRESULT Win32UserInterface::RunConfirmed(const ConfirmRequest& request, const TokenCall& call) {
  MR_TRACE("Win32UserInterface::RunConfirmed");
  try {
    if (request.kind == ConfirmKind::Transaction) {
      auto dialog = std::make_unique<CTransactionConfirmDlg>();
      const HRESULT hr = dialog->SetOperationTips(request.tips.c_str());
      MR_FAIL_IF(FAILED(hr), L"SetOperationTips", hr);
      dialog->SetTokenCall(call);
      dialog->SetThreadStart(m_pfnThreadStart);
      return dialog->DoModal(request.owner);
    }
    OperationConfirmContext context;
    context.pwszTips = request.tips.empty() ? nullptr : request.tips.c_str();
    COperationConfirmDlg dialog;
    dialog.SetTokenCall(call);
    dialog.SetThreadStart(m_pfnThreadStart);
    return dialog.DoModal(request.owner, &context);
  } catch (const std::bad_alloc&) {
    MR_LOG_FAIL(L"RunConfirmed", L"std::bad_alloc", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
}

}  // namespace merro::ui
