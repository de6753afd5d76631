// The one shape of the 25 exported entry points: an entry record, the call
// lock, the core function with the export's own arguments, the lock
// released, an exit record, all inside a guard that turns any exception into
// a failure code. Only the last error of the core's result reaches the
// caller; CPSignHash alone reports a token time-out as cancelled by the user.
//
//   BOOL WINAPI CPSignHash(...) {
//     return CallCore<CPCoreSignHash, TimeoutRule::AsCancelled>("CPSignHash", ...);
//   }
#pragma once

#include <windows.h>

namespace merro::csp {

enum class TimeoutRule {
  Keep,         // codes pass unchanged
  AsCancelled,  // SCARD_E_TIMEOUT (the token's button was not pressed in time)
                // becomes SCARD_W_CANCELLED_BY_USER
};

// Runs call(context) as an exported entry point named name.
BOOL RunExport(const char* name, TimeoutRule rule, BOOL (*call)(void*), void* context) noexcept;

template <auto kCore, TimeoutRule kRule = TimeoutRule::Keep, class... Args>
BOOL CallCore(const char* name, Args... args) {
  auto core = [&]() -> BOOL { return kCore(args...); };
  using Core = decltype(core);
  return RunExport(
      name, kRule, [](void* c) -> BOOL { return (*static_cast<Core*>(c))(); }, &core);
}

}  // namespace merro::csp
