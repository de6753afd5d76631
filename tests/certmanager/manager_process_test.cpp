// MerroCertManager.exe as a program: the single-instance rule, the "-t"
// quit request, the exit codes, a simulator that cannot be reached, and the
// store entries that live while it runs (read from this, a second, process).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/store_snapshot.h"
#include "tests/support/token_fixture.h"
#include "tests/support/ui/window_robot.h"
#include "tools/simplug/device_broadcast.h"

namespace {

using merro::testing::DeviceBench;

constexpr DWORD kProcessTimeoutMs = 30000;

// One start of the program; ended (by its handle) if it still runs when the
// object goes.
class ManagerProcess {
 public:
  ManagerProcess(const std::wstring& arguments, WORD showCommand) {
    const std::wstring exe = merro::test::PathFromEnvironment("MERRO_CERTMANAGER");
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = showCommand;
    PROCESS_INFORMATION pi{};
    if (!exe.empty() && ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                         nullptr, nullptr, &si, &pi)) {
      ::CloseHandle(pi.hThread);
      m_process = pi.hProcess;
      m_pid = pi.dwProcessId;
    }
  }
  ~ManagerProcess() {
    if (m_process != nullptr) {
      if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_process, 99);
        ::WaitForSingleObject(m_process, kProcessTimeoutMs);
      }
      ::CloseHandle(m_process);
    }
  }
  ManagerProcess(const ManagerProcess&) = delete;
  ManagerProcess& operator=(const ManagerProcess&) = delete;

  bool Started() const { return m_process != nullptr; }
  bool Running() const { return m_process != nullptr && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
  // The exit code, or -1 when it has not ended within the time.
  long ExitCode(DWORD timeoutMs = kProcessTimeoutMs) const {
    DWORD code = 0;
    if (m_process == nullptr || ::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(m_process, &code)) {
      return -1;
    }
    return static_cast<long>(code);
  }
  // Its main dialog once up (shown or hidden).
  HWND MainDialog() const {
    HWND found = nullptr;
    merro::test::WaitUntil([&] {
      found = merro::simplug::FindManagerMainDialog();
      DWORD pid = 0;
      if (found != nullptr) {
        ::GetWindowThreadProcessId(found, &pid);
      }
      return found != nullptr && pid == m_pid;
    });
    // Shown or hidden as the start-up leaves it.
    return found != nullptr && merro::test::WaitForMessageLoop(found) ? found : nullptr;
  }

 private:
  HANDLE m_process = nullptr;
  DWORD m_pid = 0;
};

class ManagerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    merro::test::SetFlagFile(true);
    ASSERT_FALSE(merro::test::PathFromEnvironment("MERRO_CERTMANAGER").empty());
  }
  void TearDown() override { DeviceBench::Insert(0); }
};

TEST_F(ManagerProcessTest, QuitRequestWithoutAManagerEndsAtOnce) {
  ManagerProcess quit(L"-t", SW_SHOWNORMAL);
  ASSERT_TRUE(quit.Started());
  EXPECT_EQ(quit.ExitCode(), 0);
  EXPECT_EQ(merro::simplug::FindManagerMainDialog(), nullptr);
}

TEST_F(ManagerProcessTest, SecondStartsRaiseTheFirstAndOnlyTheQuitRequestEndsIt) {
  DeviceBench::Pull(0);
  ManagerProcess first(L"", SW_SHOWNORMAL);
  ASSERT_TRUE(first.Started());
  HWND main = first.MainDialog();
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(::IsWindowVisible(main)) << "no token: the tray only";

  struct Start {
    const wchar_t* arguments;
    WORD show;
  };
  // Ordinary second starts: only the whole command line "-t", under a show
  // command above 0, asks to quit.
  const Start ordinary[] = {{L"", SW_SHOWNORMAL}, {L"-t x", SW_SHOWNORMAL}, {L"/t", SW_SHOWNORMAL},
                            {L"-t", SW_HIDE}};
  for (const Start& start : ordinary) {
    SCOPED_TRACE(merro::test::Utf8(start.arguments));
    ::ShowWindow(main, SW_HIDE);
    ManagerProcess second(start.arguments, start.show);
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_TRUE(merro::test::WaitUntil([&] { return ::IsWindowVisible(main) != FALSE; }))
        << "the first comes to the front";
    EXPECT_TRUE(first.Running());
  }

  ManagerProcess quit(L"-T", SW_SHOWNORMAL);
  EXPECT_EQ(quit.ExitCode(), 0);
  EXPECT_EQ(first.ExitCode(), 1) << "a real exit";
}

TEST_F(ManagerProcessTest, StoreEntriesLiveWhileItRunsAndGoAtTheQuit) {
  ASSERT_TRUE(merro::testing::ClearStores());
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, merro::testing::TokenFixture::Standard()));
  ManagerProcess manager(L"", SW_SHOWNORMAL);
  ASSERT_TRUE(manager.Started());
  HWND main = manager.MainDialog();
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(merro::test::WaitUntil([] { return merro::test::OurStoreEntries().size() == 2; }));
  EXPECT_TRUE(merro::test::WaitUntil([&] { return ::IsWindowVisible(main) != FALSE; }))
      << "a token is inserted: the main dialog shows";

  ManagerProcess quit(L"-t", SW_SHOWNORMAL);
  EXPECT_EQ(quit.ExitCode(), 0);
  EXPECT_EQ(manager.ExitCode(), 1);
  EXPECT_TRUE(merro::test::OurStoreEntries().empty());
}

TEST_F(ManagerProcessTest, UnreachableSimulatorGivesTheTrayOnly) {
  char saved[256] = {};
  ::GetEnvironmentVariableA("MERRO_TOKEN_SIM", saved, sizeof saved);
  // Port 1 on the loopback: nothing listens there.
  ::SetEnvironmentVariableA("MERRO_TOKEN_SIM", "127.0.0.1:1");
  ManagerProcess manager(L"", SW_SHOWNORMAL);
  ::SetEnvironmentVariableA("MERRO_TOKEN_SIM", saved);
  ASSERT_TRUE(manager.Started());
  HWND main = manager.MainDialog();
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(::IsWindowVisible(main));
  EXPECT_TRUE(manager.Running());
  ManagerProcess quit(L"-t", SW_SHOWNORMAL);
  EXPECT_EQ(quit.ExitCode(), 0);
  EXPECT_EQ(manager.ExitCode(), 1);
}

}  // namespace
