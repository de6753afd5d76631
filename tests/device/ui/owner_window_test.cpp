// FindOwnerWindow: a process without windows is given its parent's visible
// top-level window; a walk that cannot find one, or that meets a cycle in an
// injected parent chain, ends with the foreground window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "device/ui/owner_window.h"
#include "tests/support/child_process.h"
#include "tests/support/ui/ui_test.h"

namespace {

using merro::ui::FindOwnerWindow;
using merro::ui::GetParentProcessID;

constexpr char kOwnerChild[] = "--owner-window-child";

// The child: no window of its own. Its exit code is the window it was given,
// or 0 when it does not see its parent as the process that started it.
int OwnerChild(int argc, char** argv) {
  if (argc < 3 || GetParentProcessID(::GetCurrentProcessId()) != std::strtoul(argv[2], nullptr, 10)) {
    return 0;
  }
  return static_cast<int>(reinterpret_cast<UINT_PTR>(FindOwnerWindow(::GetCurrentProcessId())));
}
const bool kOwnerChildRegistered = merro::test::RegisterChildMode(kOwnerChild, &OwnerChild);

void Pump() {
  MSG msg;
  for (int i = 0; i < 20; ++i) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::DispatchMessageW(&msg);
    }
    ::Sleep(10);
  }
}

struct Window {
  explicit Window(HWND h) : hWnd(h) {}
  ~Window() {
    if (hWnd != nullptr) {
      ::DestroyWindow(hWnd);
    }
  }
  HWND hWnd;
};

// A visible top-level window of this process, and above it in the z-order
// an owned popup that holds the foreground: the popup has a parent for
// GetParent, so the search passes it over, and a result that is the popup
// would be the foreground fallback, not the search.
class OwnerWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(m_top.hWnd, nullptr);
    ASSERT_NE(m_popup.hWnd, nullptr);
    ::SetForegroundWindow(m_popup.hWnd);
    Pump();
    ASSERT_EQ(::GetForegroundWindow(), m_popup.hWnd);
  }

  Window m_top{::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED | WS_VISIBLE, 10, 10, 200,
                                 100, nullptr, nullptr, nullptr, nullptr)};
  Window m_popup{::CreateWindowExW(0, L"STATIC", L"owned popup", WS_POPUP | WS_BORDER | WS_VISIBLE,
                                   40, 40, 100, 60, m_top.hWnd, nullptr, nullptr, nullptr)};
};

TEST_F(OwnerWindows, AChildWithoutWindowsGetsItsParentsVisibleTopLevelWindow) {
  EXPECT_EQ(FindOwnerWindow(::GetCurrentProcessId()), m_top.hWnd);

  merro::testing::ChildProcess child = merro::testing::ChildProcess::StartSelf(
      {kOwnerChild, std::to_string(::GetCurrentProcessId())});
  ASSERT_TRUE(child.Started());
  // The child waits for nothing of ours: its join is bounded by its search.
  EXPECT_EQ(static_cast<UINT_PTR>(static_cast<DWORD>(child.Join())),
            reinterpret_cast<UINT_PTR>(m_top.hWnd));
}

// An injected chain 101 -> 102 -> 103 -> 102: processes without windows.
int g_lookups = 0;
DWORD CyclicParent(DWORD pid) {
  ++g_lookups;
  return pid == 103 ? 102 : pid + 1;
}
DWORD FailingParent(DWORD) {
  ++g_lookups;
  return 0xFFFFFFFF;
}

TEST_F(OwnerWindows, AWalkWithoutAVisibleWindowEndsWithTheForegroundWindow) {
  g_lookups = 0;
  EXPECT_EQ(FindOwnerWindow(101, &CyclicParent), m_popup.hWnd);
  EXPECT_EQ(g_lookups, 3) << "the walk stops when it comes back to 102";
  g_lookups = 0;
  EXPECT_EQ(FindOwnerWindow(101, &FailingParent), m_popup.hWnd);
  EXPECT_EQ(g_lookups, 2) << "the failed lookup's 0xFFFFFFFF is searched once";

  // The real lookup: a process that does not exist has no parent.
  EXPECT_EQ(GetParentProcessID(0xFFFFFFF0), 0xFFFFFFFFu);
  EXPECT_NE(GetParentProcessID(::GetCurrentProcessId()), 0xFFFFFFFFu);
}

}  // namespace
