// Runs a robot script on its own thread, started before the test makes its
// modal call, so the script can work the dialog while the test's thread sits
// in the dialog's message loop:
//
//   merro::test::RobotThread robot([](merro::test::WindowRobot& r) {
//     HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_KEY_LIST);
//     r.Require(dlg != nullptr, "the selection dialog");
//     r.Keys(dlg, {VK_DOWN, VK_RETURN});
//   });
//   ... modal call ...
//   robot.Join();
//   EXPECT_THAT(robot.Failures(), IsEmpty());
//
// The test asserts after Join, on what the robot recorded. A script that
// failed (or threw) keeps closing this process's dialogs until Join is
// called, so the modal call always returns; Join itself waits a bounded
// time and ends the test program when the thread is still not done.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ui/window_robot.h"

namespace merro::test {

class RobotThread {
 public:
  using Script = std::function<void(WindowRobot&)>;
  // Longer than any one wait of a script, so that a script whose wait is
  // about to fail still records why.
  static constexpr DWORD kJoinTimeoutMs = 2 * WindowRobot::kDefaultTimeoutMs;

  explicit RobotThread(Script script);
  ~RobotThread();
  RobotThread(const RobotThread&) = delete;
  RobotThread& operator=(const RobotThread&) = delete;

  void Join();
  std::vector<std::string> Failures() const { return m_robot.Failures(); }
  std::vector<std::string> Notes() const { return m_robot.Notes(); }
  WindowRobot& Robot() { return m_robot; }

 private:
  void Run(Script script);

  WindowRobot m_robot;
  std::atomic<bool> m_released{false};
  HANDLE m_done = nullptr;  // set when the thread's work is over
  std::thread m_thread;
  bool m_joined = false;
};

}  // namespace merro::test
