// The password field outside the PIN dialog: two fields in one dialog, as the
// manager's PIN change dialog has them, and what is left once a field is gone.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "device/ui/dialog_base.h"
#include "device/ui/password_edit.h"
#include "device/ui/win32_user_interface.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/ui/hook_counter.h"
#include "tests/device/ui/pin_test_ids.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::SecretBytes;
using merro::test::HookCounter;
using merro::test::RobotThread;
using merro::test::Utf8;
using merro::test::WindowRobot;
using merro::ui::CPasswordEdit;
using merro::ui::DialogImpl;
using merro::ui::WidePassword;

constexpr UINT kDestroyFirst = WM_APP + 1;
constexpr UINT kResetFields = WM_APP + 2;
constexpr UINT kCountHooks = WM_APP + 3;

// The fields install and remove their hooks on the dialog's thread (a
// reinstall puts the new hook in before the old one goes), so the count is
// read there, between two of its messages, never in the middle of a swap.
int LiveHooks(HWND dialog) {
  DWORD_PTR count = 0;
  if (::SendMessageTimeoutW(dialog, kCountHooks, 0, 0, SMTO_NORMAL, 20000, &count) == 0) {
    return -1;
  }
  return static_cast<int>(count);
}

std::string Narrow(const SecretBytes& bytes) {
  return std::string(bytes.data(), bytes.data() + bytes.size());
}

// Two fields; kResetFields resets both (only the one without the focus
// acts); kDestroyFirst takes the first field's password and destroys its
// window; kCountHooks answers the live hook count; OK takes the second's
// password in both forms.
class TwoFieldsDlg : public DialogImpl<TwoFieldsDlg> {
 public:
  enum { IDD = IDD_TWO_FIELDS };
  CPasswordEdit first;
  CPasswordEdit second;
  SecretBytes firstPassword;
  SecretBytes secondPassword;
  WidePassword secondWide;

 protected:
  BOOL OnInitDialog() override {
    first.Attach(::GetDlgItem(Window(), IDC_FIRST_FIELD));
    second.Attach(::GetDlgItem(Window(), IDC_SECOND_FIELD));
    return TRUE;
  }
  bool OnCommand(WORD id, WORD, HWND) override {
    if (id != IDOK) {
      return false;
    }
    second.GetDecryptPassword(&secondPassword);
    second.GetDecryptPassword(&secondWide);
    EndDialog(IDOK);
    return true;
  }
  bool OnMessage(UINT message, WPARAM, LPARAM, INT_PTR* pResult) override {
    if (message == kCountHooks) {
      ::SetWindowLongPtrW(Window(), DWLP_MSGRESULT, HookCounter::Live());
      *pResult = TRUE;
      return true;
    }
    if (message == kResetFields) {
      first.ResetPasswordEditCrtl();
      second.ResetPasswordEditCrtl();
      return true;
    }
    if (message == kDestroyFirst) {
      first.GetDecryptPassword(&firstPassword);
      ::DestroyWindow(first.Window());
      return true;
    }
    return false;
  }
};

class PlainEditDlg : public DialogImpl<PlainEditDlg> {
 public:
  enum { IDD = IDD_PLAIN_EDIT };

 protected:
  bool OnCommand(WORD id, WORD, HWND) override {
    if (id != IDOK) {
      return false;
    }
    EndDialog(IDOK);
    return true;
  }
};

class PasswordEdit : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(HookCounter::Live(), 0) << "a hook outlived its field"; }
  HookCounter m_hooks;
};

// Focus moving between the fields leaves exactly one hook, the focused
// field's: each field keeps its own characters. A reset empties only the
// field without the focus. Destroying the other field leaves the focused one
// typing.
TEST_F(PasswordEdit, TwoFieldsOfOneDialog) {
  TwoFieldsDlg dialog;
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_FIRST_FIELD);
    r.Require(dlg != nullptr, "the two-field dialog");
    r.Settle(dlg);
    r.Type(dlg, L"ab");
    r.Check(LiveHooks(dlg) == 1, "one hook with the first field focused");
    r.Keys(dlg, {VK_TAB});
    r.Type(dlg, L"12");
    r.Check(LiveHooks(dlg) == 1, "one hook with the second field focused");
    r.Chord(dlg, VK_LSHIFT, VK_TAB);
    r.Type(dlg, L"c");
    // The focused field puts a fresh hook in place every 250 ms, still one.
    const int installs = HookCounter::Installs();
    r.WaitFor([&] { return HookCounter::Installs() > installs; }, "the hook reinstalled");
    const int afterReinstall = LiveHooks(dlg);
    r.Check(afterReinstall == 1, "one hook after reinstalling, not " + std::to_string(afterReinstall));
    r.Type(dlg, L"d");
    r.Check(r.Text(dlg, IDC_FIRST_FIELD) == L"****", "first " + Utf8(r.Text(dlg, IDC_FIRST_FIELD)));
    r.Check(r.Text(dlg, IDC_SECOND_FIELD) == L"**", "second " + Utf8(r.Text(dlg, IDC_SECOND_FIELD)));
    ::SendMessageW(dlg, kResetFields, 0, 0);
    r.Check(r.Text(dlg, IDC_FIRST_FIELD) == L"****", "focused first field kept on reset");
    r.Check(r.Text(dlg, IDC_SECOND_FIELD).empty(), "second field emptied by reset");

    r.Keys(dlg, {VK_TAB});
    ::SendMessageW(dlg, kDestroyFirst, 0, 0);
    r.Check(::GetDlgItem(dlg, IDC_FIRST_FIELD) == nullptr, "the first field is gone");
    r.Type(dlg, L"34X");
    r.Check(r.Text(dlg, IDC_SECOND_FIELD) == L"***",
            "second after the first is gone " + Utf8(r.Text(dlg, IDC_SECOND_FIELD)));
    r.Check(LiveHooks(dlg) == 1, "the second field's hook stays");
    r.PressButton(dlg, IDOK);
  });
  EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(Narrow(dialog.firstPassword), "abcd");
  // Typed after the reset, so unmasked with the reset's fresh pad.
  EXPECT_EQ(Narrow(dialog.secondPassword), "34X");
  EXPECT_EQ(std::wstring(dialog.secondWide.Text()), L"34X");
  EXPECT_EQ(dialog.secondWide.Length(), 3u);
}

// Once the PIN dialog is gone no hook takes the keys: they reach a plain edit.
TEST_F(PasswordEdit, KeysReachAPlainEditAfterThePinDialog) {
  RobotThread pinRobot([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT);
    r.Require(dlg != nullptr, "the PIN dialog");
    r.Type(dlg, L"123456");
    r.Keys(dlg, {VK_RETURN});
    r.Check(r.WaitGone(dlg), "the PIN dialog ends");
  });
  merro::ui::Win32UserInterface ui;
  SecretBytes pin;
  EXPECT_EQ(ui.AskPin({nullptr, 0, 3, nullptr}, &pin), S_OK);
  pinRobot.Join();
  EXPECT_EQ(pinRobot.Failures(), std::vector<std::string>());
  EXPECT_EQ(HookCounter::Live(), 0);

  PlainEditDlg plain;
  RobotThread robot([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_PLAIN_EDIT);
    r.Require(dlg != nullptr, "the plain dialog");
    r.Type(dlg, L"ab12");
    r.Check(r.Text(dlg, IDC_PLAIN_EDIT) == L"ab12", "plain edit " + Utf8(r.Text(dlg, IDC_PLAIN_EDIT)));
    r.PressButton(dlg, IDOK);
  });
  EXPECT_EQ(plain.DoModal(nullptr), IDOK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
}

}  // namespace
