// The real message box behind the UI seam, in the run's language: the robot
// finds it by its caption (string 209), reads string 210 in it and presses OK.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "device/ui/win32_user_interface.h"
#include "foundation/win/this_module.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;

constexpr UINT kCaptionError = 209;
constexpr UINT kTextLocked = 210;
constexpr int kMessageBoxText = 0xFFFF;  // the system box's text control

std::wstring Loaded(UINT id) {
  wchar_t text[1024] = {};
  const int n = ::LoadStringW(merro::win::ThisModule(), id, text, 1024);
  return std::wstring(text, n > 0 ? n : 0);
}

TEST(RealMessageBox, FoundByCaptionReadAndAnswered) {
  const std::wstring caption = Loaded(kCaptionError);
  const std::wstring text = Loaded(kTextLocked);
  ASSERT_FALSE(caption.empty());
  ASSERT_FALSE(text.empty());
  RobotThread robot([&](WindowRobot& r) {
    HWND box = r.FindDialog(caption.c_str(), ::GetCurrentProcessId());
    r.Require(box != nullptr, "the message box");
    r.Check(r.Text(box, kMessageBoxText) == text,
            "the box's text: " + merro::test::Utf8(r.Text(box, kMessageBoxText)));
    r.Screenshot(box, L"message_locked");
    r.PressButton(box, IDOK);
  });
  merro::ui::Win32UserInterface ui;
  EXPECT_EQ(ui.ShowMessage(nullptr, kTextLocked, kCaptionError, MB_ICONERROR), IDOK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
}

}  // namespace
