// The frame every public entry point of the token API runs in.
//
//   HRESULT GetChipSN(DEV_CTX* pDevCtx, BYTE* pChipSN, DWORD* pSNLen) {
//     return merro::api::RunEntryPoint(
//         "GetChipSN",
//         {{L"CHECK pSNLen", pSNLen != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
//         merro::api::DeviceMutex::Wait, pDevCtx, L"mr_GetChipSN",
//         [&] { return mr_GetChipSN(pDevCtx, pChipSN, pSNLen); });
//   }
//
// In order: a scope tracer with the entry point's name; the argument checks
// in the listed order, each logged as "<name> - <step>" (a failing one
// returns 0x80070001 at once: no mutex, no routine); the wait for the
// token's device mutex where the entry point takes it (re-entrant for the
// owning thread; a failed wait is returned folded under the step
// "MerroWaitDevMutex"); the one routine; the release of exactly what the
// wait took; the routine's result folded with HRESULT_FROM_TOKEN_ERROR and
// logged under the routine's step text. No exception leaves the frame.
#pragma once

#include <initializer_list>
#include <new>

#include "foundation/platform.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/transport/device_ctx.h"
#include "tokenapi/transport/device_mutex_hold.h"

namespace merro::api {

// The result of a failed argument check: the command layer's code.
using merro::commands::kResultBadArgument;
// The results of an exception caught at the frame.
constexpr HRESULT kResultNoMemory = static_cast<HRESULT>(0x80070008);
constexpr HRESULT kResultUnexpected = static_cast<HRESULT>(0x8000FFFF);

// One argument check: its step text ("CHECK " and the argument's name) and
// whether the argument passed.
struct ArgCheck {
  const wchar_t* step;
  bool passed;
};

// Whether the entry point itself waits for the device mutex of its DEV_CTX.
enum class DeviceMutex { None, Wait };

class EntryFrame {
 public:
  explicit EntryFrame(const char* name) : m_trace(name) {}
  EntryFrame(const EntryFrame&) = delete;
  EntryFrame& operator=(const EntryFrame&) = delete;

  const char* Name() const { return m_trace.Name(); }

  // Logs the checks in order up to the first one that fails; 0, or
  // 0x80070001 for a failed check.
  HRESULT CheckArguments(std::initializer_list<ArgCheck> checks) const;

  // Waits for the device mutex named in pDevCtx; 0, or the folded result of
  // a failed wait (logged under "MerroWaitDevMutex").
  HRESULT WaitDeviceMutex(const DEV_CTX& devCtx);

  // Folds the routine's result (reading the thread's last error for -1
  // before anything else can change it), releases what the wait took, logs
  // the line of the routine's step text and returns the folded result.
  HRESULT Conclude(const wchar_t* routineStep, HRESULT routineResult);

 private:
  TraceHelper m_trace;
  merro::transport::DevMutexHold m_hold;
};

// Calls the routine; an exception becomes a result code.
template <class Routine>
HRESULT CallRoutine(Routine&& routine) noexcept {
  try {
    return static_cast<HRESULT>(routine());
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  } catch (...) {
    return kResultUnexpected;
  }
}

template <class Routine>
HRESULT RunEntryPoint(const char* name, std::initializer_list<ArgCheck> checks, DeviceMutex mutex,
                      const DEV_CTX* pDevCtx, const wchar_t* routineStep,
                      Routine&& routine) noexcept {
  try {
    EntryFrame frame(name);
    HRESULT hr = frame.CheckArguments(checks);
    if (hr != 0) {
      return hr;
    }
    if (mutex == DeviceMutex::Wait) {
      // Every entry point that waits checks pDevCtx first; a frame given no
      // context refuses rather than dereference it.
      if (pDevCtx == nullptr) {
        return frame.CheckArguments({{L"CHECK pDevCtx", false}});
      }
      hr = frame.WaitDeviceMutex(*pDevCtx);
      if (hr != 0) {
        return hr;
      }
    }
    return frame.Conclude(routineStep, CallRoutine(routine));
  } catch (const std::bad_alloc&) {
    // Only the tracer's own lines can get here; the hold has been released.
    return kResultNoMemory;
  } catch (...) {
    return kResultUnexpected;
  }
}

// The same for the entry points that take no device mutex.
template <class Routine>
HRESULT RunEntryPoint(const char* name, std::initializer_list<ArgCheck> checks,
                      const wchar_t* routineStep, Routine&& routine) noexcept {
  return RunEntryPoint(name, checks, DeviceMutex::None, nullptr, routineStep, routine);
}

// The entry points whose one argument check is the context's and that take
// the device mutex.
template <class Routine>
HRESULT RunOnDevice(const char* name, DEV_CTX* pDevCtx, const wchar_t* routineStep,
                    Routine&& routine) noexcept {
  return RunEntryPoint(name, {{L"CHECK pDevCtx", pDevCtx != nullptr}}, DeviceMutex::Wait, pDevCtx,
                       routineStep, routine);
}

}  // namespace merro::api
