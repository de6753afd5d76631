// The demo's output: one line per step with its result, a failure with the
// call's last error by number and name, and the count of failed steps.
#pragma once

#include <windows.h>

#include <string>

namespace merro::demo {

// A call's result and the last error it left (0 after a success).
struct Outcome {
  BOOL ok = FALSE;
  DWORD error = 0;
};

// Runs a Win32 call that returns BOOL and records its last error.
template <typename Call>
Outcome Run(Call call) {
  ::SetLastError(0);
  const BOOL ok = call();
  return {ok, ok ? 0 : ::GetLastError()};
}

class StepReport {
 public:
  void Section(const std::string& title);
  // "ok" with the detail, or "FAILED" with the error; true on success.
  bool Step(const std::string& what, const Outcome& outcome, const std::string& detail = {});
  // A check of the demo's own (no Win32 call): its reason when it fails.
  bool Check(const std::string& what, bool ok, const std::string& detail);
  int Failures() const { return m_failures; }

 private:
  int m_failures = 0;
};

// "0x80090029 NTE_NOT_SUPPORTED": an error number and, when known, its name.
std::string ErrorText(DWORD error);

}  // namespace merro::demo
