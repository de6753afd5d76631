#include "csp/call_lock.h"

#include "foundation/result.h"

namespace merro::csp {

CallLock::CallLock() : m_mutex(platform::NamedMutex::Create(kCSPSerializeLockName)) {
  if (!m_mutex) {
    m_failure = LastErrorResult();
    return;
  }
  switch (m_mutex->Wait(INFINITE)) {
    case platform::WaitResult::Acquired:
      m_held = true;
      break;
    case platform::WaitResult::Abandoned:
      m_held = true;
      m_abandoned = true;
      break;
    default:
      m_failure = LastErrorResult();
      break;
  }
  // A failure whose last error was lost still fails.
  if (!m_held && m_failure == S_OK) {
    m_failure = E_FAIL;
  }
}

CallLock::~CallLock() {
  const DWORD saved = ::GetLastError();
  if (m_held) {
    m_mutex->Release();
  }
  m_mutex.reset();
  ::SetLastError(saved);
}

}  // namespace merro::csp
