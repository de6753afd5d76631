#include "tokenapi/api/entry_frame.h"

namespace merro::api {

HRESULT EntryFrame::CheckArguments(std::initializer_list<ArgCheck> checks) const {
  for (const ArgCheck& check : checks) {
    if (!check.passed) {
      merro::trace::LogStep(Name(), check.step, kResultBadArgument);
      return kResultBadArgument;
    }
    merro::trace::LogStep(Name(), check.step, 0);
  }
  return 0;
}

HRESULT EntryFrame::WaitDeviceMutex(const DEV_CTX& devCtx) {
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(m_hold.Wait(devCtx.szMutexName));
  merro::trace::LogStep(Name(), L"MerroWaitDevMutex", hr);
  return hr;
}

HRESULT EntryFrame::Conclude(const wchar_t* routineStep, HRESULT routineResult) {
  // Fold first: a result of -1 stands for the thread's last error, which
  // the release below may overwrite.
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(routineResult);
  m_hold.Release();
  merro::trace::LogStep(Name(), routineStep, hr);
  return hr;
}

}  // namespace merro::api
