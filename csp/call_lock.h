// The provider's call lock: one provider call at a time in all processes of
// the session. A named kernel mutex, waited for without a time-out:
// - the thread that holds it may enter again (a window procedure that runs
//   inside a PIN dialog's modal loop may call the provider);
// - a holder that died (a browser killed while its PIN dialog was up)
//   leaves it abandoned, and the next waiter takes it;
// - a lock that cannot be created or waited for is not held, and the call
//   must fail instead of running unlocked.
// No handle is kept between calls.
#pragma once

#include <memory>

#include "foundation/platform.h"

namespace merro::csp {

// Only this library uses the name.
constexpr char kCSPSerializeLockName[] = "F638BF4A-3D71-4993-92B9-DB2355412664";

class CallLock {
 public:
  // Takes the lock, waiting as long as it takes.
  CallLock();
  // Releases it when held; the thread's last error is kept.
  ~CallLock();
  CallLock(const CallLock&) = delete;
  CallLock& operator=(const CallLock&) = delete;

  bool Held() const { return m_held; }
  // Taken from a holder that ended without releasing it.
  bool WasAbandoned() const { return m_abandoned; }
  // Why it is not held: the folded last error of the failed call.
  HRESULT Failure() const { return m_failure; }

 private:
  std::unique_ptr<platform::NamedMutex> m_mutex;
  bool m_held = false;
  bool m_abandoned = false;
  HRESULT m_failure = S_OK;
};

}  // namespace merro::csp
