#include "tokenapi/transport/token_sequence_lock.h"

#include <string>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_names.h"

namespace merro::transport {
namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);

HRESULT FailedCallResult() {
  const HRESULT hr = merro::LastErrorResult();
  return hr == 0 ? merro::FoldWin32Error(ERROR_INVALID_HANDLE) : hr;
}

}  // namespace

std::string TokenSequenceLockName(const char* pszMutexName) {
  return std::string("MerroTokenSequence#") + pszMutexName;
}

HRESULT TokenSequenceLock::Take(const char* pszDevName, DWORD dwTimeoutMs) {
  MR_TRACE("TokenSequenceLock::Take");
  MR_FAIL_IF(pszDevName == nullptr, L"CHECK pszDevName", kBadArgument);
  std::string name;
  MR_FAIL_IF(DeviceMutexNameFromPath(pszDevName, &name) != MutexNameError::None,
             L"DeviceMutexNameFromPath", kBadArgument);
  return TakeByMutexName(name.c_str(), dwTimeoutMs);
}

HRESULT TokenSequenceLock::TakeByMutexName(const char* pszMutexName, DWORD dwTimeoutMs) {
  MR_TRACE("TokenSequenceLock::TakeByMutexName");
  MR_FAIL_IF(pszMutexName == nullptr, L"CHECK pszMutexName", kBadArgument);
  if (Held()) {
    return S_OK;
  }
  // Opened or created: nothing keeps it between sequences.
  std::unique_ptr<platform::NamedMutex> mutex = platform::NamedMutex::Create(TokenSequenceLockName(pszMutexName));
  if (!mutex) {
    const HRESULT hr = FailedCallResult();
    MR_LOG_FAIL(L"CreateMutex", L"the token's sequence lock cannot be created", hr);
    return hr;
  }
  switch (mutex->Wait(dwTimeoutMs)) {
    case platform::WaitResult::Abandoned:
      m_abandoned = true;
      MR_LOG_STEP(L"Sequence lock abandoned by a holder that ended, taken");
      [[fallthrough]];
    case platform::WaitResult::Acquired:
      m_mutex = std::move(mutex);
      return S_OK;
    case platform::WaitResult::Timeout:
      MR_LOG_FAIL(L"WaitForSingleObject", L"WAIT_TIMEOUT", kTokenBusy);
      return kTokenBusy;
    default: {
      const HRESULT hr = FailedCallResult();
      MR_LOG_FAIL(L"WaitForSingleObject", L"WAIT_FAILED", hr);
      return hr;
    }
  }
}

void TokenSequenceLock::Release() {
  if (!m_mutex) {
    return;
  }
  const DWORD saved = ::GetLastError();
  m_mutex->Release();
  m_mutex.reset();
  ::SetLastError(saved);
}

}  // namespace merro::transport
