// Measures one step of the signature-path benchmark: the time the step
// took and the commands the simulated token received while it ran (the
// simulator's command log, cleared before the step and read after it;
// both outside the timed part).
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "benchmarks/signature_path/sample_stats.h"

namespace merro::bench {

class StepMeter {
 public:
  explicit StepMeter(size_t token) : m_token(token) {}

  // Runs step() once (true when it worked) and adds its time and command
  // count to *pSamples. False, with *pError naming `what`, when the step or
  // the command log failed.
  template <typename Step>
  bool Measure(const char* what, StepSamples* pSamples, std::string* pError, Step step) {
    if (!ClearLog(what, pError)) {
      return false;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool worked = step();
    const auto stop = std::chrono::steady_clock::now();
    // The failing call's last error, before the log read can change it.
    const DWORD error = worked ? 0 : ::GetLastError();
    size_t commands = 0;
    if (!ReadLog(what, &commands, pError)) {
      return false;
    }
    if (!worked) {
      *pError = Failure(what, error);
      return false;
    }
    pSamples->Add(std::chrono::duration<double, std::milli>(stop - start).count(), commands);
    return true;
  }

 private:
  bool ClearLog(const char* what, std::string* pError) const;
  bool ReadLog(const char* what, size_t* pCommands, std::string* pError) const;
  static std::string Failure(const char* what, DWORD error);

  size_t m_token;
};

}  // namespace merro::bench
