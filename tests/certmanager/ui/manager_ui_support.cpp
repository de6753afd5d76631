#include "tests/certmanager/ui/manager_ui_support.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "certmanager/manager_thread_param.h"
#include "certmanager/notify_icon.h"
#include "certmanager/run_cert_manager.h"
#include "certmanager_resource_ids.h"
#include "foundation/win/this_module.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/store_snapshot.h"
#include "tools/simplug/device_broadcast.h"

namespace merro::test {
namespace {

std::mutex g_callsLock;
std::vector<NotifyCall> g_calls;
// The tray window watched on its own thread from its first NIM_ADD (made
// while the dialog initialises, before anything can show it).
std::vector<HHOOK> g_trayHooks;
std::atomic<HWND> g_trayWindow{nullptr};
std::atomic<bool> g_trayShown{false};

LRESULT CALLBACK WatchTray(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->hwnd == g_trayWindow.load() && ::IsWindowVisible(sent->hwnd)) {
    g_trayShown = true;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void WatchTrayWindow(HWND tray) {
  if (tray == nullptr || g_trayWindow.exchange(tray) == tray) {
    return;
  }
  // Every show and hide sends the window WM_WINDOWPOSCHANGED on this thread.
  HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROCRET, &WatchTray, nullptr, ::GetCurrentThreadId());
  if (hook != nullptr) {
    g_trayHooks.push_back(hook);
  }
}

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAW pData) {
  NotifyCall call;
  call.message = dwMessage;
  if (pData != nullptr) {
    call.cbSize = pData->cbSize;
    call.hWnd = pData->hWnd;
    call.uFlags = pData->uFlags;
    call.uCallbackMessage = pData->uCallbackMessage;
    call.tip = pData->szTip;
    call.info = pData->szInfo;
    call.infoTitle = pData->szInfoTitle;
    call.infoFlags = pData->dwInfoFlags;
    call.timeout = pData->uTimeout;
  }
  std::lock_guard<std::mutex> hold(g_callsLock);
  g_calls.push_back(call);
  if (dwMessage == NIM_ADD) {
    WatchTrayWindow(call.hWnd);
  }
  return TRUE;
}

bool IsOtherDialog(HWND hWnd, HWND besides) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hWnd, &pid);
  wchar_t cls[16] = {};
  ::GetClassNameW(hWnd, cls, 16);
  return hWnd != besides && pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) &&
         ::lstrcmpW(cls, L"#32770") == 0;
}

struct OtherSearch {
  HWND besides;
  HWND found;
};

BOOL CALLBACK MatchOther(HWND hWnd, LPARAM lParam) {
  auto* s = reinterpret_cast<OtherSearch*>(lParam);
  if (IsOtherDialog(hWnd, s->besides)) {
    s->found = hWnd;
    return FALSE;
  }
  return TRUE;
}

std::wstring WindowsPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  ::GetSystemWindowsDirectoryW(dir, MAX_PATH);
  return std::wstring(dir) + L"\\" + name;
}

std::wstring MarkerPath() {
  std::wstring path;
  merro::provider::Sm2BrowserMarkerPath(&path);
  return path;
}

}  // namespace

NotifyRecorder::NotifyRecorder() {
  Clear();
  g_trayWindow = nullptr;
  g_trayShown = false;
  merro::certmanager::SetNotifyIconFunction(&RecordNotify);
}

NotifyRecorder::~NotifyRecorder() {
  merro::certmanager::SetNotifyIconFunction(nullptr);
  std::lock_guard<std::mutex> hold(g_callsLock);
  for (HHOOK hook : g_trayHooks) {
    ::UnhookWindowsHookEx(hook);  // fails for a thread that has ended, which took it along
  }
  g_trayHooks.clear();
}

bool NotifyRecorder::TrayWindowShown() const { return g_trayShown.load(); }

bool NotifyRecorder::IconCallsConsistent(bool shownAtStart) const {
  bool shown = shownAtStart;
  for (const NotifyCall& call : Calls()) {
    if (call.message == NIM_ADD && shown) {
      return false;
    }
    shown = call.message == NIM_ADD || (shown && call.message != NIM_DELETE);
  }
  return true;
}

bool NotifyRecorder::IconShown(bool shownAtStart) const {
  bool shown = shownAtStart;
  for (const NotifyCall& call : Calls()) {
    shown = call.message == NIM_ADD || (shown && call.message != NIM_DELETE);
  }
  return shown;
}

std::vector<NotifyCall> NotifyRecorder::Calls() const {
  std::lock_guard<std::mutex> hold(g_callsLock);
  return g_calls;
}

std::vector<NotifyCall> NotifyRecorder::Calls(DWORD message) const {
  std::vector<NotifyCall> out;
  for (const NotifyCall& call : Calls()) {
    if (call.message == message) {
      out.push_back(call);
    }
  }
  return out;
}

void NotifyRecorder::Clear() {
  std::lock_guard<std::mutex> hold(g_callsLock);
  g_calls.clear();
}

HWND NotifyRecorder::TrayWindow() const {
  const std::vector<NotifyCall> adds = Calls(NIM_ADD);
  return adds.empty() ? nullptr : adds.front().hWnd;
}

ManagerRun::ManagerRun(const std::wstring& commandLine, int showCommand) {
  m_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_thread = std::thread([this, commandLine, showCommand] {
    m_exitCode = RunCertManager(::GetModuleHandleW(nullptr), commandLine.c_str(), showCommand);
    ::SetEvent(m_done);
  });
}

ManagerRun::~ManagerRun() {
  if (!Ended()) {
    Exit();
  }
  if (!WaitEnded()) {
    std::fprintf(stderr, "the manager did not end within %lu ms\n",
                 static_cast<unsigned long>(kEndTimeoutMs));
    std::fflush(stderr);
    std::_Exit(3);
  }
  m_thread.join();
  ::CloseHandle(m_done);
}

HWND ManagerRun::MainDialog(DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = merro::simplug::FindManagerMainDialog();
        // Up once the tree has its root (the first refresh is done).
        return found != nullptr &&
               ::SendMessageW(::GetDlgItem(found, 104), TVM_GETCOUNT, 0, 0) > 0;
      },
      timeoutMs);
  // Shown or hidden as the start-up leaves it, which is done once the
  // manager's thread waits for messages.
  return found != nullptr && ::SendMessageW(::GetDlgItem(found, 104), TVM_GETCOUNT, 0, 0) > 0 &&
                 WaitForMessageLoop(found)
             ? found
             : nullptr;
}

bool ManagerRun::WaitEnded(DWORD timeoutMs) {
  return ::WaitForSingleObject(m_done, timeoutMs) == WAIT_OBJECT_0;
}

bool ManagerRun::Ended() const { return ::WaitForSingleObject(m_done, 0) == WAIT_OBJECT_0; }

bool ManagerRun::Exit() {
  HWND main = merro::simplug::FindManagerMainDialog();
  if (main != nullptr) {
    ::PostMessageW(main, WM_CLOSE, kRealExit, 0);
  }
  return WaitEnded();
}

HWND WaitForOtherDialog(HWND besides, DWORD timeoutMs) {
  OtherSearch search{besides, nullptr};
  WaitUntil(
      [&] {
        search.found = nullptr;
        ::EnumWindows(&MatchOther, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

HWND WaitForMessageBox(WindowRobot& robot, const std::wstring& caption, DWORD timeoutMs) {
  return robot.FindDialog(caption.c_str(), ::GetCurrentProcessId(), timeoutMs);
}

std::wstring ManagerString(UINT id) { return merro::win::LoadThisModuleString(id); }

std::vector<std::wstring> TreeTexts(WindowRobot& robot, HWND mainDialog) {
  std::vector<std::wstring> texts;
  for (const WindowRobot::TreeItem& item : robot.TreeItems(mainDialog, 104)) {
    texts.push_back(std::wstring(static_cast<size_t>(item.depth) * 2, L' ') + item.text);
  }
  return texts;
}

bool ButtonEnabled(HWND mainDialog, int id) {
  return ::IsWindowEnabled(::GetDlgItem(mainDialog, id)) != FALSE;
}

std::string CommandButtons(HWND mainDialog) {
  std::string pattern;
  for (const int id : {IDC_MODIFY_PIN, IDC_VIEW_CERT, IDC_VIEW_DEV, IDC_MOD_DEV_NAME}) {
    pattern += ButtonEnabled(mainDialog, id) ? '1' : '0';
  }
  return pattern;
}

::testing::AssertionResult WaitForCommandButtons(HWND mainDialog, const std::string& pattern) {
  if (WaitUntil([&] { return CommandButtons(mainDialog) == pattern; })) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "command buttons " << CommandButtons(mainDialog)
                                       << ", expected " << pattern;
}

bool ButtonVisible(HWND mainDialog, int id) {
  return (::GetWindowLongW(::GetDlgItem(mainDialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void InsertOnlyTokens(int n) {
  std::istringstream list(merro::testing::DeviceBench::Control("list"));
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream words(line);
    int number = -1;
    if (words >> number && number >= 0) {
      merro::testing::DeviceBench::Control((number < n ? "insert " : "pull ") + std::to_string(number));
    }
  }
}

bool StartFresh(int insertedTokens, bool flagFile) {
  InsertOnlyTokens(insertedTokens);
  SetFlagFile(flagFile);
  SetSm2Marker(false);
  return merro::testing::ClearStores();
}

void SetFlagFile(bool present) {
  const std::wstring path = WindowsPath(L"TAVR.flag");
  if (present) {
    std::ofstream(path.c_str()).put('\n');
  } else {
    ::DeleteFileW(path.c_str());
  }
}

void SetSm2Marker(bool present) {
  const std::wstring path = MarkerPath();
  if (present) {
    const std::wstring dir = path.substr(0, path.find_last_of(L'\\'));
    ::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    std::ofstream(path.c_str()).put('\n');
  } else {
    ::DeleteFileW(path.c_str());
  }
}

std::vector<std::string> OurStoreEntries() {
  merro::provider::CertContextList entries;
  std::vector<std::string> out;
  if (merro::provider::FindProviderEntries(merro::provider::StoreLocation::CurrentUser,
                                           merro::provider::kProviderName, &entries) != S_OK) {
    out.push_back("(store unreadable)");
    return out;
  }
  for (const merro::provider::CertContext& entry : entries) {
    merro::provider::StoreEntryInfo info;
    merro::provider::ReadStoreEntryInfo(entry.Get(), &info);
    out.push_back(Utf8(info.wstrContainerName) + " " + std::to_string(info.dwKeySpec));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace merro::test
