// merro-uirobot.exe works a dialog of another process: this one shows the
// selection dialog, the robot program reads it (each selection read right
// after the key that moved it) and presses OK.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/ui/win32_user_interface.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/ui/robot_program.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotProgram;
using merro::test::RobotThread;
using merro::test::WindowRobot;

TEST(UiRobotProgram, ReadsAndAnswersAnotherProcesssDialog) {
  if (RobotProgram::Path().empty()) {
    GTEST_SKIP() << "MERRO_UIROBOT does not name merro-uirobot.exe";
  }
  RobotProgram program;
  ASSERT_TRUE(program.Start(
      L"--timeout " + std::to_wstring(WindowRobot::kDefaultTimeoutMs) + L" --pid " +
      std::to_wstring(::GetCurrentProcessId()) + L" --control " +
      std::to_wstring(IDC_KEY_LIST) + L" items " + std::to_wstring(IDC_KEY_LIST) +
      L" selection " + std::to_wstring(IDC_KEY_LIST) + L" enabled " +
      std::to_wstring(IDC_SELECT_OK) + L" keys down selection " + std::to_wstring(IDC_KEY_LIST) +
      L" keys up selection " + std::to_wstring(IDC_KEY_LIST) +
      L" keys down screenshot select_key_uirobot selection " +
      std::to_wstring(IDC_KEY_LIST) + L" press " + std::to_wstring(IDC_SELECT_OK) + L" gone"))
      << program.Error();

  // The watchdog: when the robot program ends without answering, the
  // dialog is closed so the modal call below returns.
  RobotThread watchdog([&](WindowRobot& r) {
    DWORD exitCode = 0xFFFFFFFF;
    r.Require(program.Wait(RobotThread::kJoinTimeoutMs, &exitCode), "merro-uirobot.exe ended");
    r.Check(exitCode == 0, "merro-uirobot.exe exit status " + std::to_string(exitCode));
  });
  std::vector<merro::device::DeviceItem> devices(2, merro::device::DeviceItem{});
  std::strcpy(devices[1].szDeviceLabel, "\xE5\x8A\x9E\xE5\x85\xAC");  // 办公
  merro::ui::Win32UserInterface ui;
  int row = -2;
  EXPECT_EQ(ui.SelectToken(nullptr, devices, &row), S_OK);
  watchdog.Join();
  EXPECT_EQ(watchdog.Failures(), std::vector<std::string>());
  EXPECT_EQ(row, 1);

  const std::string expected =
      "items 2008: Merro30 Key--(1)|\xE5\x8A\x9E\xE5\x85\xAC\n"
      "selection 2008: 0\n"
      "enabled 2006: 1\n"
      "selection 2008: 1\n"
      "selection 2008: 0\n"
      "selection 2008: 1\n";
  EXPECT_EQ(program.Output(), expected);
}

}  // namespace
