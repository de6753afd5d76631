// The manager's two worker threads: the tray dialog's, and the one that
// waits for the quit and show events of other processes.
#include "certmanager/run_cert_manager.h"
#include "certmanager/tray_dlg.h"
#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MerroCertManager"

DWORD WINAPI TrayThread(LPVOID lpParam) {
  MR_TRACE("TrayThread");
  CTrayDlg dialog;
  const INT_PTR result = dialog.DoModal(nullptr, reinterpret_cast<LPARAM>(lpParam));
  MR_LOG_STEP(L"Tray dialog ended", static_cast<LONG>(result));
  return 0;
}

DWORD WINAPI OpenMainDlgThread(LPVOID lpParam) {
  MR_TRACE("OpenMainDlgThread");
  auto* pParam = static_cast<ManagerThreadParam*>(lpParam);
  const HANDLE handles[2] = {pParam->hExitEvent, pParam->hShowEvent};
  merro::win::ComScope com;
  while (::WaitForSingleObject(pParam->hExitEvent, 0) == WAIT_TIMEOUT) {
    const DWORD dwWait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    // The window is read at each event: a request before the main dialog
    // exists goes nowhere.
    HWND hMain = pParam->hMainDlg;
    const bool haveMain = hMain != nullptr && ::IsWindow(hMain);
    if (dwWait == WAIT_OBJECT_0) {
      if (haveMain) {
        ::SendMessageW(hMain, WM_CLOSE, kRealExit, 0);
      }
    } else if (dwWait == WAIT_OBJECT_0 + 1) {
      if (haveMain) {
        ::ShowWindow(hMain, SW_RESTORE);
        ::SetForegroundWindow(hMain);
        ::SendMessageW(hMain, WM_TRAYNOTIFY, 0, TRAY_RELOAD_ICON);
      }
      ::ResetEvent(pParam->hShowEvent);
    } else {
      // A wait that cannot be made would fail again at once, forever.
      MR_LOG_FAIL(L"WaitForMultipleObjects", L"dwWait == WAIT_FAILED", merro::LastErrorResult());
      break;
    }
  }
  return 0;
}
