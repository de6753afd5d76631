// SilentScope and the guard that UserInterface::Current() puts in front of
// the interface in use while one lives on the thread.
#include "device/ui/silent_user_interface.h"

#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "UserInterface"

namespace merro::ui {
namespace {

// Per thread: a dialog is modal on the thread that asks, so only that
// thread's caller decides whether it may be shown.
thread_local int t_nSilentScopes = 0;

}  // namespace

SilentScope::SilentScope(BOOL bAllowUI) : m_bSilent(bAllowUI == FALSE) {
  if (m_bSilent) {
    ++t_nSilentScopes;
  }
}

SilentScope::~SilentScope() {
  if (m_bSilent) {
    --t_nSilentScopes;
  }
}

bool SilentScope::Active() { return t_nSilentScopes > 0; }

HRESULT SilentUserInterface::AskPin(const PinRequest& /*request*/, SecretBytes* /*pPin*/) {
  MR_TRACE("SilentUserInterface::AskPin");
  MR_LOG_FAIL(L"Check user interface allowed", L"CRYPT_SILENT", NTE_SILENT_CONTEXT);
  return NTE_SILENT_CONTEXT;
}

HRESULT SilentUserInterface::SelectToken(HWND /*owner*/,
                                         const std::vector<device::DeviceItem>& /*devices*/,
                                         int* pRow) {
  MR_TRACE("SilentUserInterface::SelectToken");
  if (pRow != nullptr) {
    *pRow = -1;
  }
  MR_LOG_FAIL(L"Check user interface allowed", L"CRYPT_SILENT", NTE_SILENT_CONTEXT);
  return NTE_SILENT_CONTEXT;
}

int SilentUserInterface::ShowMessage(HWND /*owner*/, UINT /*textId*/, UINT /*captionId*/,
                                     UINT /*type*/) {
  MR_TRACE("SilentUserInterface::ShowMessage");
  // A box waits for its OK as a dialog does; the caller's own result
  // already says what the box would have said.
  MR_LOG_FAIL(L"Check user interface allowed", L"CRYPT_SILENT", NTE_SILENT_CONTEXT);
  return 0;
}

HRESULT SilentUserInterface::RunConfirmed(const ConfirmRequest& request, const TokenCall& call) {
  return m_pfnInUse().RunConfirmed(request, call);
}

}  // namespace merro::ui
