// merro-uirobot.exe works a dialog of another process: this one shows the
// selection dialog, the robot program reads it and presses OK.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/ui/win32_user_interface.h"
#include "foundation/win/win_resource.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;

std::string ReadAll(const std::wstring& path) {
  merro::win::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (file.Valid() && ::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  return text;
}

TEST(UiRobotProgram, ReadsAndAnswersAnotherProcesssDialog) {
  const std::wstring program = merro::test::PathFromEnvironment("MERRO_UIROBOT");
  if (program.empty()) {
    GTEST_SKIP() << "MERRO_UIROBOT does not name merro-uirobot.exe";
  }
  wchar_t folder[MAX_PATH] = {};
  wchar_t outPath[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(::GetTempFileNameW(folder, L"rob", 0, outPath), 0u);

  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  merro::win::UniqueHandle out(::CreateFileW(outPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                             CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(out.Valid());
  std::wstring command = L"\"" + program + L"\" --timeout 20000 --pid " +
                         std::to_wstring(::GetCurrentProcessId()) + L" --control " +
                         std::to_wstring(IDC_KEY_LIST) + L" items " + std::to_wstring(IDC_KEY_LIST) +
                         L" selection " + std::to_wstring(IDC_KEY_LIST) + L" enabled " +
                         std::to_wstring(IDC_SELECT_OK) + L" keys down screenshot select_key_uirobot"
                         L" selection " + std::to_wstring(IDC_KEY_LIST) + L" press " +
                         std::to_wstring(IDC_SELECT_OK) + L" gone";
  STARTUPINFOW startup = {sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out.Get();
  startup.hStdError = out.Get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &child))
      << ::GetLastError();
  merro::win::UniqueHandle process(child.hProcess);
  merro::win::UniqueHandle thread(child.hThread);
  out.Reset();

  // The watchdog: when the robot program ends without answering, the
  // dialog is closed so the modal call below returns.
  DWORD exitCode = 0xFFFFFFFF;
  RobotThread watchdog([&](WindowRobot& r) {
    r.Require(::WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0,
              "merro-uirobot.exe ended");
    ::GetExitCodeProcess(process.Get(), &exitCode);
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
      "selection 2008: 1\n";
  EXPECT_EQ(ReadAll(outPath), expected);
  ::DeleteFileW(outPath);
}

}  // namespace
