#include "foundation/win/platform_info.h"

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "FunctionInterface"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80070032);  // ERROR_NOT_SUPPORTED

using merro::win::FailedCallResult;

void Values(std::uint16_t number, std::initializer_list<merro::trace::Value> values) {
  merro::trace::TraceValues(merro::trace::kFunctionInterfaceMessageGuid, number, values);
}

// Step and reason texts that name the kernel32 entry point being used.
struct RedirectionTexts {
  const char* entryPoint;
  const wchar_t* getProcStep;
  const wchar_t* getProcReason;
  const wchar_t* callStep;
};

// Loads kernel32, finds the entry point and calls it; the library is
// released on every path.
template <class Fn, class Call>
HRESULT CallKernel32(const TraceHelper& mrTraceScope_, const RedirectionTexts& t, Call call) {
  merro::win::ModuleRef library(::LoadLibraryW(L"Kernel32.dll"));
  if (library.Get() == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_MOD_NOT_FOUND);
    MR_LOG_FAIL(L"LoadLibrary", L"hLibrary == NULL", hr);
    return hr;
  }
  const Fn pfn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(library.Get(), t.entryPoint)));
  if (pfn == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_PROC_NOT_FOUND);
    MR_LOG_FAIL(t.getProcStep, t.getProcReason, hr);
    return hr;
  }
  if (!call(pfn)) {
    const HRESULT hr = FailedCallResult(ERROR_INVALID_FUNCTION);
    MR_LOG_FAIL(t.callStep, L"bResult == FALSE", hr);
    return hr;
  }
  if (!::FreeLibrary(library.Release())) {
    const HRESULT hr = FailedCallResult(ERROR_INVALID_HANDLE);
    MR_LOG_FAIL(L"FreeLibrary", L"bResult == FALSE", hr);
    return hr;
  }
  return S_OK;
}

using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

}  // namespace

HRESULT GetWindowsOSPlatform(DWORD* pdwPlatform) {
  MR_TRACE("GetWindowsOSPlatform");
  MR_FAIL_IF(pdwPlatform == NULL, L"Check pdwPlatform", kBadArgument);
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  Values(35, {static_cast<DWORD>(info.wProcessorArchitecture)});
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      Values(36, {});
      *pdwPlatform = MR_PLATFORM_X64;
      return S_OK;
    case PROCESSOR_ARCHITECTURE_INTEL:
      Values(37, {});
      *pdwPlatform = MR_PLATFORM_X86;
      return S_OK;
    default:
      Values(38, {});
      MR_LOG_FAIL(L"Check wProcessorArchitecture", L"TRUE", kNotSupported);
      return kNotSupported;
  }
}

HRESULT DisableWow64FileSystemRedirection(PVOID* ppvOldValue) {
  MR_TRACE("DisableWow64FileSystemRedirection");
  MR_FAIL_IF(ppvOldValue == NULL, L"Check ppvOldValue", kBadArgument);
  const RedirectionTexts texts{
      "Wow64DisableWow64FsRedirection", L"GetProcAddress(Wow64DisableWow64FsRedirection)",
      L"pfnWow64DisableWow64FsRedirection == NULL", L"pfnWow64DisableWow64FsRedirection"};
  PVOID pvState = nullptr;
  const HRESULT hr = CallKernel32<DisableFn>(mrTraceScope_, texts,
                                             [&pvState](DisableFn pfn) { return pfn(&pvState) != FALSE; });
  if (hr == S_OK) {
    *ppvOldValue = pvState;
  }
  return hr;
}

HRESULT RevertWow64FileSystemRedirection(PVOID pvOldValue) {
  MR_TRACE("RevertWow64FileSystemRedirection");
  const RedirectionTexts texts{
      "Wow64RevertWow64FsRedirection", L"GetProcAddress(Wow64RevertWow64FsRedirection)",
      L"pfnWow64RevertWow64FsRedirection == NULL", L"pfnWow64RevertWow64FsRedirection"};
  return CallKernel32<RevertFn>(mrTraceScope_, texts,
                                [pvOldValue](RevertFn pfn) { return pfn(pvOldValue) != FALSE; });
}
