#include "csp/core_call.h"

namespace merro::csp {

CoreCall::CoreCall(const char* function, bool traced)
    : m_function(function), m_dwCallerError(::GetLastError()) {
  if (traced) {
    m_scope.emplace(function);
  }
}

bool CoreCall::Check(bool passed, const wchar_t* step, HRESULT code) {
  if (passed) {
    TraceCoreStep(m_function, step);
    return true;
  }
  TraceCoreStepFailed(m_function, step, code);
  if (m_code == S_OK) {
    m_code = code;
  }
  return false;
}

BOOL CoreCall::Finish() const {
  ::SetLastError(static_cast<DWORD>(m_code));
  return m_code == S_OK ? TRUE : FALSE;
}

BOOL CoreCall::FinishKeepingCallerError() const {
  ::SetLastError(m_code == S_OK ? m_dwCallerError : static_cast<DWORD>(m_code));
  return m_code == S_OK ? TRUE : FALSE;
}

}  // namespace merro::csp
