#include "device/ui/confirm_runner.h"

#include <new>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/asym_api.h"

namespace merro::ui {
namespace {

HANDLE StartWithCreateThread(LPTHREAD_START_ROUTINE pfnRoutine, void* pParam) {
  return ::CreateThread(nullptr, 0, pfnRoutine, pParam, 0, nullptr);
}

}  // namespace

HRESULT MapConfirmResult(HRESULT hr) {
  if (hr == MR_E_KEY_CANCELLED) {
    return SCARD_W_CANCELLED_BY_USER;
  }
  if (hr == MR_E_KEY_TIMEOUT) {
    return SCARD_E_TIMEOUT;
  }
  return hr;
}

ConfirmRunner::ConfirmRunner(TokenCall call, ThreadStart pfnStart)
    : m_call(std::move(call)),
      m_pfnStart(pfnStart != nullptr ? pfnStart : &StartWithCreateThread),
      m_hrResult(E_FAIL) {}

ConfirmRunner::~ConfirmRunner() { Join(); }

HRESULT ConfirmRunner::Start(std::function<void()> done) {
  MR_TRACE("ConfirmRunner::Start");
  MR_FAIL_IF(m_hThread != NULL, L"Check the worker is not running", E_FAIL);
  m_done = std::move(done);
  m_hThread = m_pfnStart(&ConfirmRunner::Routine, this);
  if (m_hThread == nullptr) {
    m_hrResult = LastErrorResult();
    if (SUCCEEDED(m_hrResult)) {
      m_hrResult = E_FAIL;  // a start that failed without saying why
    }
    MR_LOG_FAIL(L"Start worker", L"hThread == NULL", m_hrResult);
    return m_hrResult;
  }
  return S_OK;
}

HRESULT ConfirmRunner::Join() {
  if (m_hThread != nullptr) {
    ::WaitForSingleObject(m_hThread, INFINITE);
    ::CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  return MapConfirmResult(m_hrResult);
}

HRESULT ConfirmRunner::Run() {
  const HRESULT hr = Start();
  return FAILED(hr) ? hr : Join();
}

DWORD WINAPI ConfirmRunner::Routine(void* pParam) {
  auto* self = static_cast<ConfirmRunner*>(pParam);
  // No exception leaves a thread procedure.
  try {
    self->m_hrResult = self->m_call ? self->m_call() : E_FAIL;
  } catch (const std::bad_alloc&) {
    self->m_hrResult = E_OUTOFMEMORY;
  } catch (...) {
    self->m_hrResult = E_FAIL;
  }
  try {
    if (self->m_done) {
      self->m_done();
    }
  } catch (...) {
  }
  return 0;
}

}  // namespace merro::ui
