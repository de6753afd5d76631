// Entry point of merrocsp.dll: tracing, COM and the token layer start and
// stop with the process.
#include "csp/dllmain.h"

#include <objbase.h>

#include <cstdlib>

#include "csp/core_trace.h"
#include "csp/flag_file.h"
#include "csp/token_layer.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "dllmain"

HMODULE g_hModule = nullptr;

namespace {

using merro::csp::kDllMainMessageGuid;
using merro::csp::TRACE_FLAG_INFO;

// The COM initialisation this library made at attach: undone at detach only
// when it succeeded, and only on the thread that made it. CoInitialize on a
// thread already in the multithreaded apartment answers RPC_E_CHANGED_MODE
// and adds nothing; undoing it anyway, or on another thread (the last
// release may run on any thread), would take the host's own COM away.
HRESULT g_hrComInit = E_FAIL;
DWORD g_dwComInitThread = 0;

void ProcessDetach() {
  merro::trace::WppTraceEvent(kDllMainMessageGuid, 13, TRACE_FLAG_INFO);
  if (SUCCEEDED(g_hrComInit) && ::GetCurrentThreadId() == g_dwComInitThread) {
    ::CoUninitialize();
  }
  g_hrComInit = E_FAIL;
  g_dwComInitThread = 0;
  merro::csp::StopTokenLayer();
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

BOOL ProcessAttach(HINSTANCE hInstance) {
  WppLoadTraceMessage();
  WppInitUm();
  merro::trace::WppTraceEvent(kDllMainMessageGuid, 10, TRACE_FLAG_INFO);
  g_hModule = hInstance;
  KeepCommonControlsLoaded();
  g_hrComInit = ::CoInitialize(nullptr);
  g_dwComInitThread = ::GetCurrentThreadId();

  const HRESULT hResult = merro::csp::StartTokenLayer(merro::csp::FlagFileExists());
  if (hResult == S_OK) {
    merro::trace::LogStep("DllMain", L"TokenInitialize");
    return TRUE;
  }
  merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, "DllMain", L"TokenInitialize",
                           L"hResult != S_OK", merro::FoldWin32Error(hResult));
  return FALSE;  // the loader runs the detach steps and refuses the library
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved) {
  // The library is unloaded after every last release and after a failed
  // acquire: what the detach work does must not change the error code that
  // the caller is about to read.
  const DWORD callersError = ::GetLastError();
  BOOL result = TRUE;
  switch (dwReason) {
    case DLL_PROCESS_ATTACH:
      result = ProcessAttach(hInstance);
      break;
    case DLL_PROCESS_DETACH:
      ProcessDetach();
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
