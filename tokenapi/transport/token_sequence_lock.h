// One token's sequence lock: held across every run of commands that depends
// on the token's volatile state (the secure-messaging session and what runs
// under it, a PIN verification and the operation it opens, an open and a
// reset), so that no other thread or process can reset the token, replace
// its session or verify a PIN in the middle.
//
//   merro::transport::TokenSequenceLock lock;
//   HRESULT hr = lock.Take(pszDevName);   // the token's device name
//   if (FAILED(hr)) return hr;            // not held: send nothing
//   ... session, PIN, operation, reset ...
//   // released when the lock goes out of scope
//
// It is a named mutex of its own, derived from the token's device mutex
// name, and it sits above that mutex: a sequence takes it first, its
// commands then take the device mutex one at a time, so that the worker
// thread of a confirmation dialog can send the sequence's command while the
// owner thread holds the sequence. An open takes it around its reset. It is
// re-entrant for the owner thread. A holder that ended without releasing it
// (a process killed inside a signature) leaves it abandoned, and the next
// waiter takes it over. Unlike a single command, a sequence never goes on
// unlocked: a wait that runs out fails with SCARD_E_SHARING_VIOLATION.
#pragma once

#include <memory>
#include <string>

#include "foundation/platform.h"

namespace merro::transport {

// Another process keeps the token busy past the wait.
constexpr HRESULT kTokenBusy = static_cast<HRESULT>(0x8010000B);  // SCARD_E_SHARING_VIOLATION
// How long a sequence waits: longer than a confirmation on the token's
// display may stand in another process.
constexpr DWORD kTokenSequenceWaitMs = 120000;

// The lock's mutex name for a token's device mutex name.
std::string TokenSequenceLockName(const char* pszMutexName);

class TokenSequenceLock {
 public:
  TokenSequenceLock() = default;
  ~TokenSequenceLock() { Release(); }
  TokenSequenceLock(const TokenSequenceLock&) = delete;
  TokenSequenceLock& operator=(const TokenSequenceLock&) = delete;

  // Takes the lock of the token with this device name, waiting up to
  // dwTimeoutMs. S_OK when held (at once when this lock holds it already);
  // kTokenBusy after the wait; 0x80070057 for a name without the device
  // path's instance part; the folded last error of a failed wait.
  HRESULT Take(const char* pszDevName, DWORD dwTimeoutMs = kTokenSequenceWaitMs);
  // The same, by the device mutex name a token context carries.
  HRESULT TakeByMutexName(const char* pszMutexName, DWORD dwTimeoutMs = kTokenSequenceWaitMs);
  // Gives the lock back when held; the thread's last error is kept.
  void Release();

  bool Held() const { return m_mutex != nullptr; }
  // Taken over from a holder that ended without releasing it.
  bool WasAbandoned() const { return m_abandoned; }

 private:
  std::unique_ptr<platform::NamedMutex> m_mutex;  // set only while held
  bool m_abandoned = false;
};

}  // namespace merro::transport
