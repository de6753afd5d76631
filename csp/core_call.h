// The shape every provider core function shares: a scope tracer with the
// function's name, one result code that the first failing check sets, a
// check line for every check, and at the end the code as the thread's last
// error (0 after success) with TRUE exactly when the code is 0.
//
//   BOOL CPCoreDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
//     CoreCall call("CPCoreDestroyHash");
//     if (call.Check(hProv != 0, L"Check parameter hProv", ERROR_INVALID_PARAMETER) && ...) {
//       ...work...
//     }
//     return call.Finish();
//   }
#pragma once

#include <optional>

#include "csp/core_trace.h"
#include "csp/deferred_release.h"

namespace merro::csp {

class CoreCall {
 public:
  // traced: whether the call opens a scope tracer (entry and exit records).
  explicit CoreCall(const char* function, bool traced = true);
  CoreCall(const CoreCall&) = delete;
  CoreCall& operator=(const CoreCall&) = delete;

  const char* Function() const { return m_function; }

  // Logs the check's line; a failed check sets the call's code. Returns
  // whether it passed.
  bool Check(bool passed, const wchar_t* step, HRESULT code);
  // A callee's result: 0 passes; any other code fails the call with that
  // code.
  bool CheckResult(HRESULT result, const wchar_t* step) {
    return Check(result == S_OK, step, result);
  }
  // A success line for a step that cannot fail.
  void Passed(const wchar_t* step) { TraceCoreStep(m_function, step); }

  HRESULT Code() const { return m_code; }
  bool Failed() const { return m_code != S_OK; }

  // Sets the thread's last error to the code; TRUE when it is 0.
  BOOL Finish() const;
  // For the functions programs call to clean up (release and destroy): a
  // failure sets its code as Finish does, but success leaves the last error
  // as the caller had it, so that the code of the failure that led to the
  // clean-up is still there to be reported.
  BOOL FinishKeepingCallerError() const;

 private:
  // First in, last out: objects released during the call stay alive until
  // the outermost call has finished with them.
  RunningCoreCall m_running;
  const char* m_function;
  // The caller's last error when the call began.
  DWORD m_dwCallerError;
  std::optional<TraceHelper> m_scope;
  HRESULT m_code = S_OK;
};

}  // namespace merro::csp
