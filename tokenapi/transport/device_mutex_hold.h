// One hold of a token's device mutex for the length of a scope.
//
//   merro::transport::DevMutexHold hold;
//   HRESULT hr = hold.Wait(pDevCtx->szMutexName);   // MerroWaitDevMutex's rules
//   if (FAILED(hr)) return hr;                       // nothing to release
//   ... commands ...
//   // the destructor releases, but only when the wait took the mutex
//
// The wait follows MerroWaitDevMutex: after a time-out the caller goes on
// unserialised and a failed wait is an error. In neither case does the
// calling thread own the mutex, so the hold releases nothing: a release then
// would drop an outer hold of the same thread or fail as "not the owner".
#pragma once

#include <string>

#include "foundation/platform.h"
#include "tokenapi/transport/merro_transport.h"

namespace merro::transport {

class DevMutexHold {
 public:
  DevMutexHold() = default;
  ~DevMutexHold() { Release(); }
  DevMutexHold(const DevMutexHold&) = delete;
  DevMutexHold& operator=(const DevMutexHold&) = delete;

  // Waits up to dwTimeoutMs for the named mutex. 0 also after a time-out
  // (Held() then false); the folded error of a failed wait otherwise.
  HRESULT Wait(const char* pszMutexName, DWORD dwTimeoutMs = kDevMutexWaitMs);
  bool Held() const { return m_held; }
  // Releases the mutex when this hold owns it; 0 when there was nothing to
  // release.
  HRESULT Release();

 private:
  std::string m_name;
  bool m_held = false;
};

}  // namespace merro::transport
