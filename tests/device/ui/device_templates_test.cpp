// The confirmation and PIN templates as the dialog manager lays them out in
// the run's language: their default texts, the room for the token picture,
// and a screenshot of each for the gallery.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/ui/dialog_base.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/resource_reader.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/ui_test.h"

namespace {

using merro::test::RobotThread;
using merro::test::UiLanguage;
using merro::test::Utf8;
using merro::test::WindowRobot;

// Shows any template of this module; closing ends it.
class TemplateViewer : public merro::ui::DialogBase {
 public:
  INT_PTR Show(WORD templateId) { return RunModal(templateId, nullptr, 0); }

 protected:
  bool OnClose() override { return EndDialog(0); }
};

std::wstring ExpectedConfirmText() {
  if (merro::test::CurrentUiLanguage() == UiLanguage::SimplifiedChinese) {
    return L"信息确认\n请核对Key屏幕显示的信息，确认请按Key上的“OK”键，取消请按“C”键。";
  }
  return std::wstring(14, L' ') +
         L"Information Confirmation\nPress \"OK\" to confirm the current transaction, or press "
         L"\"C\" to cancel.";
}

struct TemplateCase {
  WORD id;
  int control;  // a control the robot finds the dialog by
  const wchar_t* shot;
};

TEST(DeviceTemplates, LaidOutInTheRunsLanguage) {
  const TemplateCase cases[] = {
      {IDD_INPUT_PIN, IDC_PIN_EDIT, L"template_input_pin"},
      {IDD_OPERATION_CONFIRM, IDC_CONFIRM_TEXT, L"template_operation_confirm"},
      {IDD_TRANSACTION_CONFIRM, IDC_TOKEN_PICTURE, L"template_transaction_confirm"},
  };
  for (const TemplateCase& c : cases) {
    SCOPED_TRACE(c.id);
    SIZE picture = {};
    RobotThread robot([&](WindowRobot& r) {
      HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), c.control);
      r.Require(dlg != nullptr, "the template's dialog");
      if (c.id != IDD_INPUT_PIN) {
        r.Check(r.Text(dlg, IDC_CONFIRM_TEXT) == ExpectedConfirmText(),
                "default text: " + Utf8(r.Text(dlg, IDC_CONFIRM_TEXT)));
        r.Check(r.Text(dlg).empty(), "no caption");
      }
      if (c.id == IDD_TRANSACTION_CONFIRM) {
        RECT rect = {};
        ::GetClientRect(::GetDlgItem(dlg, IDC_TOKEN_PICTURE), &rect);
        picture = {rect.right, rect.bottom};
      }
      r.Screenshot(dlg, c.shot);
      r.PostClose(dlg);
    });
    EXPECT_EQ(TemplateViewer().Show(c.id), 0);
    robot.Join();
    EXPECT_EQ(robot.Failures(), std::vector<std::string>());
    if (c.id == IDD_TRANSACTION_CONFIRM) {
      // The picture (180 x 280 px) is drawn unscaled at the control's corner:
      // the control must give it room, and not much more. (The dialog font's
      // stand-in, and so the unit, differs between the prefixes' locales.)
      EXPECT_GE(picture.cx, 170);
      EXPECT_LE(picture.cx, 280);
      EXPECT_GE(picture.cy, 260);
      EXPECT_LE(picture.cy, 380);
      std::printf("picture control: %ld x %ld px\n", picture.cx, picture.cy);
    }
  }
}

// The window a dialog template of this module in `lang` makes, hidden: its
// size in pixels; empty when it cannot be made.
SIZE TemplateWindowSize(WORD id, LANGID lang) {
  const std::vector<BYTE> bytes = merro::test::ResourceBytes(RT_DIALOG, id, lang);
  if (bytes.empty()) {
    return {};
  }
  HWND dlg = ::CreateDialogIndirectParamW(
      merro::win::ThisModule(), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), nullptr,
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  if (dlg == nullptr) {
    return {};
  }
  RECT r = {};
  ::GetWindowRect(dlg, &r);
  ::DestroyWindow(dlg);
  return {r.right - r.left, r.bottom - r.top};
}

// The confirmations stand the same size on the screen in English and in
// simplified Chinese: one font makes the dialog units the same.
TEST(DeviceTemplates, ConfirmationsHaveOneSizeInBothLanguages) {
  for (WORD id : {IDD_OPERATION_CONFIRM, IDD_TRANSACTION_CONFIRM}) {
    SCOPED_TRACE(id);
    const SIZE english = TemplateWindowSize(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    const SIZE chinese =
        TemplateWindowSize(id, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    EXPECT_GT(english.cx, 0);
    EXPECT_GT(english.cy, 0);
    EXPECT_EQ(chinese.cx, english.cx);
    EXPECT_EQ(chinese.cy, english.cy);
  }
}

}  // namespace
