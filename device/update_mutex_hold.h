// The device-update mutex (named by the provider name, shared by every
// process that lists the tokens) held for one refresh.
#pragma once

#include "foundation/platform.h"

namespace merro::device {

// Owns the device-update mutex after a wait that gave it (also from an
// owner that died), and gives it back when the refresh ends. After a
// time-out or a failed wait the refresh goes on without owning it, and
// nothing is released.
class UpdateMutexHold {
 public:
  UpdateMutexHold(HANDLE hMutex, DWORD dwWaitMs) : m_hMutex(hMutex) {
    const DWORD dwWait = ::WaitForSingleObject(hMutex, dwWaitMs);
    m_bOwned = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
    m_dwWait = dwWait;
  }
  ~UpdateMutexHold() {
    if (m_bOwned) {
      ::ReleaseMutex(m_hMutex);
    }
  }
  UpdateMutexHold(const UpdateMutexHold&) = delete;
  UpdateMutexHold& operator=(const UpdateMutexHold&) = delete;
  bool Owned() const { return m_bOwned; }
  DWORD WaitResult() const { return m_dwWait; }

 private:
  HANDLE m_hMutex;
  bool m_bOwned = false;
  DWORD m_dwWait = WAIT_FAILED;
};

}  // namespace merro::device
