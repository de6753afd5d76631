// The worker of a confirmation: the token call that waits for the token's
// OK or C button runs on one worker thread while the caller's thread shows
// the dialog, and the worker is always joined before the result is read.
#pragma once

#include <windows.h>

#include <functional>

#include "device/ui/user_interface.h"

namespace merro::ui {

// What a confirmation reports for the token's answers: C pressed
// (0x8000FF06) becomes cancelled by the user (0x8010006E), the token's
// time-out (0x8000FF07) becomes SCARD_E_TIMEOUT (0x8010000A); anything
// else passes unchanged.
HRESULT MapConfirmResult(HRESULT hr);

class ConfirmRunner {
 public:
  // Starts a thread running pfnRoutine(pParam) and returns its handle, or
  // null with the thread's last error set. CreateThread by default; tests
  // give one that fails.
  using ThreadStart = HANDLE (*)(LPTHREAD_START_ROUTINE pfnRoutine, void* pParam);

  explicit ConfirmRunner(TokenCall call, ThreadStart pfnStart = nullptr);
  // Joins a worker that is still running.
  ~ConfirmRunner();
  ConfirmRunner(const ConfirmRunner&) = delete;
  ConfirmRunner& operator=(const ConfirmRunner&) = delete;

  // Starts the call on the worker; `done` then runs on the worker once the
  // call has returned (a dialog posts itself its close message there). S_OK,
  // or the folded failure of the thread start: the call then never runs.
  HRESULT Start(std::function<void()> done = {});
  // Waits for the worker and returns the call's result, mapped once with
  // MapConfirmResult. A call that never ran is a failure: the start's, or
  // 0x80004005 when Start was not called.
  HRESULT Join();
  // Start, then Join: the call on the worker with nothing shown.
  HRESULT Run();

 private:
  static DWORD WINAPI Routine(void* pParam);

  TokenCall m_call;
  std::function<void()> m_done;
  ThreadStart m_pfnStart;
  HANDLE m_hThread = nullptr;
  HRESULT m_hrResult;  // written by the worker, read after the join
};

}  // namespace merro::ui
