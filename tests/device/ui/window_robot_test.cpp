// The robot on a system message box: found by its caption, its text read
// (the box's text control is 0xFFFF), its OK pressed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;

TEST(WindowRobot, AnswersAMessageBoxFoundByCaption) {
  RobotThread robot([](WindowRobot& r) {
    HWND box = r.FindDialog(L"Robot box", ::GetCurrentProcessId());
    r.Require(box != nullptr, "the message box");
    r.Note(merro::test::Utf8(r.Text(box, 0xFFFF)));
    r.PressButton(box, IDOK);
    r.WaitGone(box);
  });
  EXPECT_EQ(::MessageBoxW(nullptr, L"The text of the box", L"Robot box", MB_OK | MB_ICONERROR), IDOK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(robot.Notes(), std::vector<std::string>{"The text of the box"});
}

// A robot that cannot do its part still gets the modal call back: it
// closes the process's dialogs until the test joins it.
TEST(WindowRobot, FailingRobotClosesTheDialog) {
  RobotThread robot([](WindowRobot& r) {
    HWND box = r.FindDialog(L"Robot box", ::GetCurrentProcessId());
    r.Require(box != nullptr, "the message box");
    r.Require(false, "a step that fails");
  });
  const int answer = ::MessageBoxW(nullptr, L"Closed by the robot", L"Robot box", MB_OKCANCEL);
  robot.Join();
  EXPECT_EQ(answer, IDCANCEL);
  EXPECT_EQ(robot.Failures(), std::vector<std::string>{"required: a step that fails"});
}

}  // namespace
