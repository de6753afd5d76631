// The base of the confirmation dialogs. While the token waits for its own OK
// or C button, one worker thread makes the token call and the dialog stands
// on the screen; when the call returns, the worker marks itself done and
// sends the dialog WM_CLOSE, which ends it. The worker is always joined
// before the result is read.
//
// A close request that comes while the worker runs (the system menu,
// Alt+F4) is ignored: the caller's records and buffers that the worker uses
// must stay valid, and its result is not final, until it is done. A dialog
// whose worker cannot start ends at once with the start's failure.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>

#include "device/ui/confirm_runner.h"
#include "device/ui/dialog_base.h"
#include "device/ui/user_interface.h"

namespace merro::ui {

class ConfirmDialog : public DialogBase {
 public:
  // The call the worker makes; without one, the dialog's own.
  void SetTokenCall(TokenCall call) { m_call = std::move(call); }
  // How the worker thread is started (null: CreateThread); tests give one
  // that fails.
  void SetThreadStart(ConfirmRunner::ThreadStart pfnStart) { m_pfnStart = pfnStart; }

 protected:
  // Shows the template modally and returns once the worker has been
  // joined: the call's result (the token's C and time-out mapped), the
  // failure of the thread start, or the folded error that kept the dialog
  // from coming up.
  HRESULT RunConfirmation(WORD templateId, HWND owner, LPARAM initParam);
  // For OnInitDialog: starts the worker, or ends the dialog at once.
  void StartWorker();
  // The call made when none was given.
  virtual TokenCall OwnCall() = 0;

  bool OnClose() override;

 private:
  TokenCall m_call;
  ConfirmRunner::ThreadStart m_pfnStart = nullptr;
  std::optional<ConfirmRunner> m_runner;
  std::atomic<bool> m_bWorkerDone{false};
};

}  // namespace merro::ui
