#include "tokenapi/commands/device_open.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/transport/device_mutex_hold.h"
#include "tokenapi/transport/device_names.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/token_sequence_lock.h"

using merro::transport::DevMutexHold;
using merro::transport::MutexNameError;

namespace {

constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x80070002);
constexpr HRESULT kBadName = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kReleaseFailed = static_cast<HRESULT>(0x80070202);

// Frees a context with its session key wiped.
void FreeContext(DEV_CTX* pDevCtx) {
  merro::SecureWipe(pDevCtx, sizeof *pDevCtx);
  delete pDevCtx;
}

// A context under construction: whatever is open when it goes out of scope
// without Release() is closed, and the memory freed.
class PendingContext {
 public:
  explicit PendingContext(DEV_CTX* pDevCtx) : m_ctx(pDevCtx) {}
  ~PendingContext() {
    if (m_ctx == nullptr) {
      return;
    }
    MerroCloseDevice(m_ctx->hDevice);
    MerroCloseMutex(m_ctx);
    FreeContext(m_ctx);
  }
  PendingContext(const PendingContext&) = delete;
  PendingContext& operator=(const PendingContext&) = delete;

  DEV_CTX* Get() const { return m_ctx; }
  DEV_CTX* Release() {
    DEV_CTX* ctx = m_ctx;
    m_ctx = nullptr;
    return ctx;
  }

 private:
  DEV_CTX* m_ctx;
};

const wchar_t* MutexNameStep(MutexNameError error) {
  switch (error) {
    case MutexNameError::NoRev:
      return L"Check pDeviceName rev_";
    case MutexNameError::NoHashAfterRev:
      return L"Check pDeviceName # after rev_";
    case MutexNameError::NoHashAfterBegin:
      return L"Check pEnd # after pBegin";
    default:
      return L"Check szMutexName length";
  }
}

}  // namespace

HRESULT mr_OpenDevice(const char* pDeviceName, DEV_CTX** ppDevCtx) {
  MR_TRACE("mr_OpenDevice");
  MR_FAIL_IF(ppDevCtx == nullptr, L"CHECK ppDevCtx", kBadName);
  *ppDevCtx = nullptr;
  MR_FAIL_IF(pDeviceName == nullptr, L"CHECK pDeviceName", kBadName);

  PendingContext ctx(new (std::nothrow) DEV_CTX{});
  MR_FAIL_IF(ctx.Get() == nullptr, L"CHECK pTmpDevCtx", kNoMemory);

  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(MerroOpenDevice(pDeviceName, ctx.Get()));
  merro::trace::LogStep(mrTraceScope_.Name(), L"MerroOpenDevice", hr);
  if (FAILED(hr)) {
    return hr;
  }
  std::string mutexName;
  const MutexNameError nameError = merro::transport::DeviceMutexNameFromPath(pDeviceName, &mutexName);
  if (nameError != MutexNameError::None) {
    MR_LOG_FAIL(MutexNameStep(nameError), L"no instance part in the device name", kBadName);
    return kBadName;
  }
  std::memcpy(ctx.Get()->szMutexName, mutexName.c_str(), mutexName.size() + 1);

  hr = HRESULT_FROM_TOKEN_ERROR(MerroCreateMutex(ctx.Get()));
  merro::trace::LogStep(mrTraceScope_.Name(), L"MerroCreateMutex", hr);
  if (FAILED(hr)) {
    return hr;
  }
  ctx.Get()->bySMState = MR_SM_STATE_NONE;

  // The reset below ends whatever sequence another process runs on the
  // token: it waits for the token's sequence lock, which is never passed
  // unlocked, before the device mutex.
  merro::transport::TokenSequenceLock sequence;
  hr = HRESULT_FROM_TOKEN_ERROR(sequence.TakeByMutexName(ctx.Get()->szMutexName));
  merro::trace::LogStep(mrTraceScope_.Name(), L"Take the token's sequence lock", hr);
  if (FAILED(hr)) {
    return hr;
  }
  // Released before the context is cleaned up on a failure below. After a
  // time-out the open goes on unserialised and releases nothing.
  DevMutexHold hold;
  hr = HRESULT_FROM_TOKEN_ERROR(hold.Wait(ctx.Get()->szMutexName));
  merro::trace::LogStep(mrTraceScope_.Name(), L"MerroWaitDevMutex", hr);
  if (FAILED(hr)) {
    return hr;
  }

  // Reset the token's security state; nothing of the reply is used.
  DEVICE_INFO info{};
  hr = HRESULT_FROM_TOKEN_ERROR(mr_GetDevInfo(ctx.Get(), 1, &info));
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_GetDevInfo", hr);
  if (FAILED(hr)) {
    return hr;
  }
  hr = HRESULT_FROM_TOKEN_ERROR(mr_AutoExternalAuth(ctx.Get(), MR_KEY_EXTERN));
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_AutoExternalAuth", hr);
  if (FAILED(hr)) {
    return hr;
  }

  hr = HRESULT_FROM_TOKEN_ERROR(hold.Release());
  merro::trace::LogStep(mrTraceScope_.Name(), L"MerroReleaseMutex", hr);
  if (FAILED(hr)) {
    return hr;
  }
  *ppDevCtx = ctx.Release();
  return S_OK;
}

HRESULT mr_CloseDevice(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CloseDevice");
  if (pDevCtx == nullptr) {
    MR_LOG_STEP(L"CHECK pDevCtx");
    return S_OK;
  }
  // On a failure the hold releases the mutex: the context stays for a
  // retry, the mutex must not stay held with it.
  DevMutexHold hold;
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(hold.Wait(pDevCtx->szMutexName));
  merro::trace::LogStep(mrTraceScope_.Name(), L"MerroWaitDevMutex", hr);
  if (FAILED(hr)) {
    return hr;
  }
  hr = HRESULT_FROM_TOKEN_ERROR(MerroCloseDevice(pDevCtx->hDevice));
  merro::trace::LogStep(mrTraceScope_.Name(), L"MerroCloseDevice", hr);
  if (FAILED(hr)) {
    return hr;
  }
  // Closed: a retry after a failed release must not close it again.
  pDevCtx->hDevice = nullptr;
  hr = HRESULT_FROM_TOKEN_ERROR(hold.Release());
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"MerroReleaseMutex", L"the device mutex cannot be released", kReleaseFailed);
    return kReleaseFailed;
  }
  MR_LOG_STEP(L"MerroReleaseMutex");
  MerroCloseMutex(pDevCtx);
  FreeContext(pDevCtx);
  return S_OK;
}
