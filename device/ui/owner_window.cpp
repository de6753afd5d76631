#include "device/ui/owner_window.h"

#include <winternl.h>

#include <algorithm>
#include <new>
#include <vector>

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {
namespace {

constexpr DWORD kNoProcess = 0xFFFFFFFF;

using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

struct WindowSearch {
  DWORD dwProcessId;
  HWND hFound;
};

BOOL CALLBACK TakeFirstTopLevel(HWND hWnd, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD dwOwner = 0;
  ::GetWindowThreadProcessId(hWnd, &dwOwner);
  if (dwOwner != search->dwProcessId || ::GetParent(hWnd) != nullptr) {
    return TRUE;
  }
  search->hFound = hWnd;
  return FALSE;
}

// The process's first top-level window without a parent, or null.
HWND FirstTopLevelWindow(DWORD dwProcessId) {
  WindowSearch search{dwProcessId, nullptr};
  ::EnumWindows(&TakeFirstTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.hFound;
}

}  // namespace

DWORD GetParentProcessID(DWORD dwProcessId) {
  MR_TRACE("GetParentProcessID");
  HMODULE hNtdll = ::GetModuleHandleW(L"ntdll");
  const auto pfnQuery = hNtdll == nullptr ? nullptr
                        : reinterpret_cast<NtQueryInformationProcessFn>(reinterpret_cast<void (*)()>(
                              ::GetProcAddress(hNtdll, "NtQueryInformationProcess")));
  MR_FAIL_IF(pfnQuery == NULL, L"GetProcAddress", kNoProcess);
  const merro::win::UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, dwProcessId));
  MR_FAIL_IF(!process.Valid(), L"OpenProcess", kNoProcess);
  PROCESS_BASIC_INFORMATION info = {};
  ULONG nReturned = 0;
  const LONG status = pfnQuery(process.Get(), ProcessBasicInformation, &info, sizeof info, &nReturned);
  MR_FAIL_IF(status < 0, L"NtQueryInformationProcess", kNoProcess);
  return static_cast<DWORD>(info.InheritedFromUniqueProcessId);
}

HWND FindOwnerWindow(DWORD dwProcessId, ParentProcessLookup pfnParentOf) {
  MR_TRACE("FindOwnerWindow");
  try {
    std::vector<DWORD> searched;
    for (DWORD dwProcess = dwProcessId;;) {
      HWND hWnd = FirstTopLevelWindow(dwProcess);
      if (hWnd != nullptr && ::IsWindowVisible(hWnd)) {
        return hWnd;
      }
      searched.push_back(dwProcess);
      const DWORD dwParent = pfnParentOf != nullptr ? pfnParentOf(dwProcess) : kNoProcess;
      // A failed lookup answers 0xFFFFFFFF again, and a cycle comes back to
      // a process already searched: either ends the walk.
      if (std::find(searched.begin(), searched.end(), dwParent) != searched.end()) {
        break;
      }
      dwProcess = dwParent;
    }
  } catch (const std::bad_alloc&) {
    MR_LOG_FAIL(L"Walk the parent processes", L"std::bad_alloc", E_OUTOFMEMORY);
  }
  return ::GetForegroundWindow();
}

}  // namespace merro::ui
