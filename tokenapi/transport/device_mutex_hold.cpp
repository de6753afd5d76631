#include "tokenapi/transport/device_mutex_hold.h"

namespace merro::transport {

HRESULT DevMutexHold::Wait(const char* pszMutexName, DWORD dwTimeoutMs) {
  // A second wait on one hold first gives back what the first one took.
  Release();
  bool acquired = false;
  const HRESULT hr = WaitDevMutexHeld(pszMutexName, dwTimeoutMs, &acquired);
  if (hr == 0 && acquired) {
    m_name = pszMutexName;
    m_held = true;
  }
  return hr;
}

HRESULT DevMutexHold::Release() {
  if (!m_held) {
    return S_OK;
  }
  m_held = false;
  return MerroReleaseMutex(m_name.c_str());
}

}  // namespace merro::transport
