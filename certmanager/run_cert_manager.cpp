// wWinMain's body: tracing, the quit request or the single-instance rule,
// the two worker threads, COM and the common controls, the token layer, the
// main dialog's message loop, and the way back.
#include "certmanager/run_cert_manager.h"

#include <commctrl.h>

#include <cwchar>
#include <memory>

#include "certmanager/main_dlg.h"
#include "certmanager/manager_settings.h"
#include "certmanager/message_loop.h"
#include "certmanager_string_ids.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "foundation/win/win_resource.h"
#include "provider/container.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MerroCertManager"

namespace {

// How long the way out waits for the two worker threads.
constexpr DWORD kThreadsWaitMs = 3000;
constexpr int kTitleChars = 128;

void CloseOnce(HANDLE* phObject) {
  if (*phObject != nullptr) {
    ::CloseHandle(*phObject);
    *phObject = nullptr;
  }
}

// Sets another process's event by name; false when it cannot be opened.
bool SetNamedEvent(const wchar_t* wszName) {
  HANDLE hEvent = ::OpenEventW(kEventSetAccess, FALSE, wszName);
  if (hEvent == nullptr) {
    return false;
  }
  const BOOL bSet = ::SetEvent(hEvent);
  ::CloseHandle(hEvent);
  return bSet != FALSE;
}

// A second start: the running manager's main dialog, found by its title,
// is asked to come to the front.
void RaiseRunningInstance() {
  MR_TRACE("RaiseRunningInstance");
  std::wstring title = merro::win::LoadThisModuleString(IDS_APP_TITLE);
  if (title.size() > kTitleChars) {
    title.resize(kTitleChars);
  }
  HWND hWnd = ::FindWindowW(nullptr, title.c_str());
  if (hWnd != nullptr && ::IsWindow(hWnd)) {
    SetNamedEvent(g_wszShowEventName);
  }
}

}  // namespace

bool IsQuitRequest(LPCWSTR lpCmdLine, int nShowCmd) {
  return nShowCmd > 0 && lpCmdLine != nullptr && _wcsicmp(lpCmdLine, L"-t") == 0;
}

int CheckExistedInstance(HANDLE* phInstanceEvent, HANDLE* phShowEvent) {
  MR_TRACE("CheckExistedInstance");
  *phInstanceEvent = ::OpenEventW(kEventExistsAccess, FALSE, g_wszInstanceEventName);
  if (*phInstanceEvent != nullptr) {
    RaiseRunningInstance();
    return 1;
  }
  *phInstanceEvent = ::CreateEventW(nullptr, TRUE, TRUE, g_wszInstanceEventName);
  // Two starts at once both get here; the one that did not create the
  // event is the second.
  if (*phInstanceEvent != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    MR_LOG_STEP(L"Instance event exists already");
    RaiseRunningInstance();
    return 1;
  }
  if (*phInstanceEvent == nullptr) {
    MR_LOG_FAIL(L"Create instance event", L"hInstanceEvent == NULL", merro::LastErrorResult());
  }
  *phShowEvent = ::CreateEventW(nullptr, TRUE, FALSE, g_wszShowEventName);
  if (*phShowEvent == nullptr) {
    MR_LOG_FAIL(L"Create show event", L"hShowEvent == NULL", merro::LastErrorResult());
  }
  return 0;
}

int Run(LPCWSTR lpCmdLine, int nShowCmd, ManagerThreadParam* pParam) {
  MR_TRACE("Run");
  merro::certmanager::MessageLoop loop;
  merro::certmanager::ThreadMessageLoop registration(&loop);
  auto pDialog = std::make_unique<CMainDlg>();
  if (pDialog->Create(nullptr, reinterpret_cast<LPARAM>(pParam)) == nullptr) {
    MR_LOG_FAIL(L"Create main dialog", L"hWnd == NULL", merro::LastErrorResult());
    return 0;
  }
  // Without a token the manager starts in the tray.
  ::ShowWindow(pDialog->Window(), CMainDlg::bIsKeyInsert() ? SW_SHOWDEFAULT : SW_HIDE);
  const int nResult = loop.Run();
  pDialog.reset();
  return nResult;
}

int RunCertManager(HINSTANCE hInstance, LPCWSTR lpCmdLine, int nShowCmd) {
  merro::trace::Configure(merro::trace::Deliverable::CertManager);
  WppInitUm();
  int nExitCode = 0;
  {
    MR_TRACE("wWinMain");
    // The threads read the block; it stays when one of them outlives the
    // wait below.
    auto pParam = std::make_unique<ManagerThreadParam>();
    HANDLE hInstanceEvent = nullptr;
    HANDLE hThreads[2] = {nullptr, nullptr};
    bool threadsEnded = true;

    if (IsQuitRequest(lpCmdLine, nShowCmd)) {
      const bool bSet = SetNamedEvent(g_wszExitEventName);
      MR_LOG_STEP(bSet ? L"Quit request sent" : L"No manager to quit",
                  bSet ? 0 : static_cast<LONG>(merro::LastErrorResult()));
    } else if (CheckExistedInstance(&hInstanceEvent, &pParam->hShowEvent) == 1) {
      MR_LOG_STEP(L"Another instance runs");
    } else {
      hThreads[0] = ::CreateThread(nullptr, 0, &TrayThread, pParam.get(), 0, nullptr);
      if (hThreads[0] == nullptr) {
        MR_LOG_FAIL(L"Create tray thread", L"hSubThread[0] == NULL", merro::LastErrorResult());
      } else {
        MR_LOG_STEP(L"Create tray thread");
        pParam->hExitEvent = ::CreateEventW(nullptr, TRUE, FALSE, g_wszExitEventName);
        hThreads[1] = ::CreateThread(nullptr, 0, &OpenMainDlgThread, pParam.get(), 0, nullptr);
        if (hThreads[1] == nullptr) {
          MR_LOG_FAIL(L"Create open main dialog thread", L"hSubThread[1] == NULL",
                      merro::LastErrorResult());
        } else {
          MR_LOG_STEP(L"Create open main dialog thread");
          merro::win::ComScope com;
          // Loads the window library before the first window is made.
          ::DefWindowProcW(nullptr, 0, 0, 0);
          INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES};
          ::InitCommonControlsEx(&icc);
          HRESULT hResult =
              merro::provider::Container::TokenInitialize(merro::certmanager::ManagerProviderSettings());
          if (hResult != S_OK) {
            MR_LOG_FAIL(L"TokenInitialize", L"hResult != S_OK", hResult);
          }
          nExitCode = Run(lpCmdLine, nShowCmd, pParam.get());
          hResult = merro::provider::Container::TokenUninitialize();
          if (hResult != S_OK) {
            MR_LOG_FAIL(L"TokenUninitialize", L"hResult != S_OK", hResult);
          }
        }
        // The tray dialog ends at a real exit; on any other way out it is
        // told here. The quit event wakes the event thread, which would
        // otherwise wait for good.
        HWND hTray = pParam->hTrayDlg;
        if (hTray != nullptr && ::IsWindow(hTray)) {
          ::SendMessageW(hTray, WM_CLOSE, 0, kEndTray);
        }
        if (pParam->hExitEvent != nullptr) {
          ::SetEvent(pParam->hExitEvent);
        }
        const DWORD nThreads = hThreads[1] != nullptr ? 2 : 1;
        threadsEnded =
            ::WaitForMultipleObjects(nThreads, hThreads, TRUE, kThreadsWaitMs) == WAIT_OBJECT_0;
      }
    }
    CloseOnce(&hInstanceEvent);
    CloseOnce(&hThreads[0]);
    CloseOnce(&hThreads[1]);
    if (threadsEnded) {
      CloseOnce(&pParam->hShowEvent);
      CloseOnce(&pParam->hExitEvent);
    } else {
      // A thread that did not end still reads the block and waits on its
      // events: both stay.
      MR_LOG_FAIL(L"Wait for threads", L"dwWait != WAIT_OBJECT_0", E_FAIL);
      static_cast<void>(pParam.release());
    }
  }
  WppCleanupUm();
  return nExitCode;
}
