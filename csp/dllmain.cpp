// Entry point of merrocsp.dll: tracing starts and stops with the process.
// DllMain runs under the loader lock, so it does no more than Windows allows
// there: no COM, no token, no wait on another process. The token layer starts
// at the provider's first call (csp/token_layer.h) and stops here only if it
// started.
#include <windows.h>

#include <cstdlib>

#include "csp/core_trace.h"
#include "csp/token_layer.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "dllmain"

namespace {

using merro::csp::kDllMainMessageGuid;
using merro::csp::TRACE_FLAG_INFO;

// bProcessEnds: the process is ending (ExitProcess), with its other threads
// already gone: nothing is stopped or released then, since whatever those
// threads held may be in any state and the system reclaims it all.
void ProcessDetach(bool bProcessEnds) {
  merro::trace::WppTraceEvent(kDllMainMessageGuid, 13, TRACE_FLAG_INFO);
  // Normally the token layer stopped after the last release already; an
  // unload with provider handles still open stops it here.
  if (!bProcessEnds) {
    merro::csp::StopTokenLayerIfStarted();
  }
  WppCleanupUm();
#ifdef MERRO_WITH_SIMULATOR
  // Test builds: detach work that leaves an error behind, as a failing close
  // on the way may, to show that the caller does not see it.
  if (const char* error = std::getenv("MERRO_CSP_DETACH_ERROR")) {
    ::SetLastError(static_cast<DWORD>(std::strtoul(error, nullptr, 0)));
  }
#endif
}

// The common controls stay loaded once this library has loaded them. Their
// own detach work runs after this library's when CryptoAPI unloads the
// provider (after every failed acquire and every last release), and it can
// leave ERROR_CLASS_DOES_NOT_EXIST as the thread's last error, which the
// caller would then read instead of the provider's code.
void KeepCommonControlsLoaded() {
  HMODULE hComCtl = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"comctl32.dll", &hComCtl);
}

BOOL ProcessAttach() {
  WppLoadTraceMessage();
  WppInitUm();
  merro::trace::WppTraceEvent(kDllMainMessageGuid, 10, TRACE_FLAG_INFO);
  KeepCommonControlsLoaded();
  return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*hInstance*/, DWORD dwReason, LPVOID lpReserved) {
  // The library is unloaded after every last release and after a failed
  // acquire: what the detach work does must not change the error code that
  // the caller is about to read.
  const DWORD callersError = ::GetLastError();
  BOOL result = TRUE;
  switch (dwReason) {
    case DLL_PROCESS_ATTACH:
      result = ProcessAttach();
      break;
    case DLL_PROCESS_DETACH:
      ProcessDetach(lpReserved != nullptr);
      break;
    case DLL_THREAD_ATTACH:
      merro::trace::WppTraceEvent(kDllMainMessageGuid, 11, TRACE_FLAG_INFO);
      break;
    case DLL_THREAD_DETACH:
      merro::trace::WppTraceEvent(kDllMainMessageGuid, 12, TRACE_FLAG_INFO);
      break;
    default:
      break;
  }
  if (result) {
    ::SetLastError(callersError);
  }
  return result;
}
