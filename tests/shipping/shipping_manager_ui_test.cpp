// The shipping MerroCertManager.exe, started as a person starts it, in an
// environment whose simulator offers a prepared token (MERRO_TOKEN_SIM): it
// sees no token, so it starts in the tray; opened from the tray icon its
// tree shows only the run language's "No device"; and "-t" ends it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "certmanager/manager_thread_param.h"
#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/ui/ui_test.h"
#include "tests/support/ui/window_robot.h"
#include "tools/simplug/device_broadcast.h"

namespace {

using merro::test::UiLanguage;
using merro::test::WindowRobot;

// One start of the shipping manager with a command line as typed; ended (by
// its handle) if it still runs when the object goes.
class Started {
 public:
  explicit Started(const std::wstring& arguments) {
    const std::wstring exe = merro::test::PathFromEnvironment("MERRO_SHIPPING_CERTMANAGER");
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!exe.empty() && ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                         0, nullptr, nullptr, &si, &pi)) {
      ::CloseHandle(pi.hThread);
      m_process = pi.hProcess;
      m_pid = pi.dwProcessId;
    }
  }
  ~Started() {
    if (m_process != nullptr) {
      if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_process, 99);
        ::WaitForSingleObject(m_process, 30000);
      }
      ::CloseHandle(m_process);
    }
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  DWORD Pid() const { return m_pid; }
  // The exit code, or -1 when it has not ended within 30 s.
  long ExitCode() const {
    DWORD code = 0;
    if (m_process == nullptr || ::WaitForSingleObject(m_process, 30000) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(m_process, &code)) {
      return -1;
    }
    return static_cast<long>(code);
  }

 private:
  HANDLE m_process = nullptr;
  DWORD m_pid = 0;
};

// The manager's tray window: its other top-level dialog, hidden.
HWND TrayWindowOf(DWORD pid, HWND mainDialog) {
  struct Search {
    DWORD pid;
    HWND mainDialog;
    HWND found;
  } search{pid, mainDialog, nullptr};
  ::EnumWindows(
      [](HWND hWnd, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        wchar_t cls[16] = {};
        ::GetClassNameW(hWnd, cls, 16);
        if (pid == s->pid && hWnd != s->mainDialog && ::lstrcmpW(cls, L"#32770") == 0) {
          s->found = hWnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST(ShippingManager, SeesNoTokenShowsNoDeviceAndQuitsOnRequest) {
  ASSERT_TRUE(merro::testing::DeviceBench::Prepare(0));
  ASSERT_EQ(merro::testing::DeviceBench::ListedNames().size(), 1u)
      << "the simulator's token is listed here";

  Started manager(L"");
  ASSERT_NE(manager.Pid(), 0u);
  HWND main = nullptr;
  ASSERT_TRUE(merro::test::WaitUntil([&] {
    main = merro::simplug::FindManagerMainDialog();
    DWORD pid = 0;
    ::GetWindowThreadProcessId(main, &pid);
    return main != nullptr && pid == manager.Pid();
  }));
  EXPECT_FALSE(::IsWindowVisible(main)) << "no token: the tray only";

  // Opened as a person opens it: a double click on the tray icon, again
  // until the window shows (one made while the manager still starts up is
  // lost, as a person's would be).
  HWND tray = nullptr;
  ASSERT_TRUE(merro::test::WaitUntil([&] { return (tray = TrayWindowOf(manager.Pid(), main)) != nullptr; }));
  ASSERT_TRUE(merro::test::WaitUntil([&] {
    ::PostMessageW(tray, WM_TRAYNOTIFY, 0, WM_LBUTTONDBLCLK);
    return ::IsWindowVisible(main) != FALSE;
  }));

  WindowRobot robot;
  const wchar_t* noDevice = nullptr;
  switch (merro::test::CurrentUiLanguage()) {
    case UiLanguage::English:
      noDevice = L"No device";
      break;
    case UiLanguage::SimplifiedChinese:
      noDevice = L"\u65e0\u8bbe\u5907";
      break;
    case UiLanguage::TraditionalChinese:
      noDevice = L"\u7121\u88dd\u7f6e";
      break;
  }
  std::vector<std::wstring> texts;
  for (const WindowRobot::TreeItem& item : robot.TreeItems(main, IDC_CERT_TREE)) {
    texts.push_back(item.text);
  }
  EXPECT_EQ(texts, std::vector<std::wstring>{noDevice});
  EXPECT_FALSE(robot.Screenshot(main, L"shipping_certmanager_main").empty());

  Started quit(L"-t");
  EXPECT_EQ(quit.ExitCode(), 0);
  EXPECT_EQ(manager.ExitCode(), 1) << "a real exit";
  EXPECT_TRUE(robot.Failures().empty()) << robot.Failures().front();
}

}  // namespace
