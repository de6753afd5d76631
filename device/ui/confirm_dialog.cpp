#include "device/ui/confirm_dialog.h"

#include <new>

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {

HRESULT ConfirmDialog::RunConfirmation(WORD templateId, HWND owner, LPARAM initParam) {
  MR_TRACE("ConfirmDialog::RunConfirmation");
  try {
    m_runner.emplace(m_call ? m_call : OwnCall(), m_pfnStart);
  } catch (const std::bad_alloc&) {
    MR_LOG_FAIL(L"Make the worker", L"std::bad_alloc", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  m_bWorkerDone = false;
  RunModal(templateId, owner, initParam);
  HRESULT hr = E_FAIL;
  if (State() == DialogState::NeverInitialised) {
    // No dialog came up (a missing template, no desktop), so no worker ran:
    // a failure, never the result the caller preset.
    hr = merro::win::FailedCallResult(ERROR_RESOURCE_NAME_NOT_FOUND);
    MR_LOG_FAIL(L"DoModal", L"the dialog could not be created", hr);
  } else {
    hr = m_runner->Join();
  }
  m_runner.reset();
  return hr;
}

void ConfirmDialog::StartWorker() {
  MR_TRACE("ConfirmDialog::StartWorker");
  HWND hDialog = Window();
  HRESULT hr = E_FAIL;
  try {
    hr = m_runner->Start([this, hDialog] {
      // Done before the close request, which is ignored until then. Sent, so
      // the dialog's thread handles it; the caller joins only after the
      // modal loop has ended.
      m_bWorkerDone = true;
      ::SendMessageW(hDialog, WM_CLOSE, 0, 0);
    });
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    // Nothing else would ever close the dialog.
    MR_LOG_FAIL(L"Start the worker", L"FAILED(hr)", hr);
    m_bWorkerDone = true;
    EndDialog(0);
  }
}

bool ConfirmDialog::OnClose() {
  MR_TRACE("ConfirmDialog::OnClose");
  if (!m_bWorkerDone) {
    MR_LOG_STEP(L"the worker is still waiting for the token: close ignored");
    return true;
  }
  EndDialog(0);
  return true;
}

}  // namespace merro::ui
