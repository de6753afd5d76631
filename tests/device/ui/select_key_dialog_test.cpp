// The token selection dialog for real, through Win32UserInterface::SelectToken,
// worked by the robot in the run's language.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/ui/win32_user_interface.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/ui_test.h"

namespace {

using merro::device::DeviceItem;
using merro::test::RobotThread;
using merro::test::UiLanguage;
using merro::test::Utf8;
using merro::test::WindowRobot;

std::vector<DeviceItem> Devices(std::initializer_list<const char*> labels) {
  std::vector<DeviceItem> devices;
  for (const char* label : labels) {
    DeviceItem item = {};
    std::strncpy(item.szDeviceLabel, label, sizeof(item.szDeviceLabel) - 1);
    devices.push_back(item);
  }
  return devices;
}

struct DialogTexts {
  const wchar_t* caption;
  const wchar_t* prompt;
  const wchar_t* ok;
  const wchar_t* cancel;
};

// The run's texts. There is no traditional Chinese template: that run gets
// the platform's fallback, the English one.
DialogTexts ExpectedTexts() {
  if (merro::test::CurrentUiLanguage() == UiLanguage::SimplifiedChinese) {
    return {L"选择Key", L"请选择一个Key：", L"确定", L"取消"};
  }
  return {L"Select Key", L"Please select one key:", L"OK", L"Cancel"};
}

// Shows the dialog for `devices` while `script` works it; returns the row.
int RunSelect(const std::vector<DeviceItem>& devices, std::function<void(WindowRobot&, HWND)> script,
              std::vector<std::string>* failures) {
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_KEY_LIST);
    r.Require(dlg != nullptr, "the selection dialog");
    script(r, dlg);
  });
  merro::ui::Win32UserInterface ui;
  int row = -2;
  const HRESULT hr = ui.SelectToken(nullptr, devices, &row);
  robot.Join();
  *failures = robot.Failures();
  EXPECT_EQ(hr, S_OK);
  return row;
}

TEST(SelectKeyDialog, ShowsTheLabelsInListOrderAndOkKeepsTheFirst) {
  const DialogTexts texts = ExpectedTexts();
  std::vector<std::string> failures;
  const int row = RunSelect(
      Devices({"", "\xE5\x8A\x9E\xE5\x85\xAC", "Alpha", ""}),
      [&](WindowRobot& r, HWND dlg) {
        r.Check(r.Text(dlg) == texts.caption, "caption " + Utf8(r.Text(dlg)));
        r.Check(r.Text(dlg, -1) == texts.prompt, "prompt " + Utf8(r.Text(dlg, -1)));
        r.Check(r.Text(dlg, IDC_SELECT_OK) == texts.ok, "OK " + Utf8(r.Text(dlg, IDC_SELECT_OK)));
        r.Check(r.Text(dlg, IDC_SELECT_CANCEL) == texts.cancel,
                "Cancel " + Utf8(r.Text(dlg, IDC_SELECT_CANCEL)));
        const std::vector<std::wstring> expected = {L"Merro30 Key--(1)", L"\x529E\x516C", L"Alpha",
                                                    L"Merro30 Key--(2)"};
        r.Check(r.ComboItems(dlg, IDC_KEY_LIST) == expected, "rows in device-list order");
        r.Check(r.ComboSelection(dlg, IDC_KEY_LIST) == 0, "the first row is selected");
        r.Check(r.IsEnabled(dlg, IDC_SELECT_OK), "OK is enabled");
        const std::wstring shot = r.Screenshot(dlg, L"select_key");
        r.Check(std::getenv("MERRO_UI_SHOTS") == nullptr ||
                    ::GetFileAttributesW(shot.c_str()) != INVALID_FILE_ATTRIBUTES,
                "screenshot written");
        r.PressButton(dlg, IDC_SELECT_OK);
      },
      &failures);
  EXPECT_EQ(failures, std::vector<std::string>());
  EXPECT_EQ(row, 0);
}

struct CloseCase {
  const char* name;
  std::function<void(WindowRobot&, HWND)> script;
  int expected;
};

TEST(SelectKeyDialog, KeysButtonsAndClosing) {
  const CloseCase cases[] = {
      // Labels in reverse alphabetical order: the answer is the row, not the
      // label's rank.
      {"Down then Enter picks the second row",
       [](WindowRobot& r, HWND dlg) { r.Keys(dlg, {VK_DOWN, VK_RETURN}); }, 1},
      {"Cancel", [](WindowRobot& r, HWND dlg) { r.PressButton(dlg, IDC_SELECT_CANCEL); }, -1},
      {"the system menu's Close", [](WindowRobot& r, HWND dlg) { r.SystemClose(dlg); }, -1},
      {"Escape leaves the dialog up; then a click on OK",
       [](WindowRobot& r, HWND dlg) {
         r.Keys(dlg, {VK_ESCAPE});
         ::Sleep(300);
         r.Check(::IsWindow(dlg) && ::IsWindowVisible(dlg), "still up after Escape");
         r.Click(dlg, IDC_SELECT_OK);
       },
       0},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> failures;
    EXPECT_EQ(RunSelect(Devices({"Zulu", "Alpha"}), c.script, &failures), c.expected);
    EXPECT_EQ(failures, std::vector<std::string>());
  }
}

TEST(SelectKeyDialog, EmptyListAndBadArgument) {
  std::vector<std::string> failures;
  // No rows: OK finds no selection and counts as a cancellation.
  EXPECT_EQ(RunSelect({}, [](WindowRobot& r, HWND dlg) { r.PressButton(dlg, IDC_SELECT_OK); },
                      &failures),
            -1);
  EXPECT_EQ(failures, std::vector<std::string>());
  merro::ui::Win32UserInterface ui;
  EXPECT_EQ(ui.SelectToken(nullptr, Devices({"A"}), nullptr), E_INVALIDARG);
}

}  // namespace
