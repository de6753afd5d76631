// The PIN change with few tries left, through the real dialogs: from three
// tries down the token waits for its button while the operation dialog
// stands, and a wrong old PIN that spends the last try ends in "PIN Locked"
// on the loop's next pass instead of another dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "resources/device/device_resource_ids.h"
#include "tests/certmanager/ui/manager_commands_fixture.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/ui/tries_texts.h"

namespace {

using merro::test::LeaveTries;
using merro::test::ManagerCommands;
using merro::test::ManagerString;
using merro::test::UserPinStatus;
using merro::test::UserPinVerifies;
using merro::testing::DeviceBench;

std::wstring PinErrorText(int leftTimes) {
  return ManagerString(IDS_PIN_ERROR) + L"\n" + ManagerString(IDS_LEFT_TIMES) +
         std::to_wstring(leftTimes);
}

TEST_F(ManagerCommands, WithFewTriesLeftTheChangeWaitsForTheTokensButton) {
  ASSERT_TRUE(LeaveTries(1, 3));

  // The button held: the operation dialog stands and tells the tries; C on
  // the token ends the command without a box and costs no try.
  DeviceBench::Control("button 0 hold");
  HWND dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  TypePins(dlg, L"47193628", L"abc123", L"abc123");
  HWND confirm = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_CONFIRM_TEXT);
  ASSERT_NE(confirm, nullptr) << "the operation dialog";
  const std::wstring tips = m_robot.Text(confirm, IDC_CONFIRM_TEXT);
  EXPECT_EQ(tips.rfind(merro::test::OperationTriesLine(3) + L"\n", 0), 0u)
      << merro::test::Utf8(tips);
  m_robot.Screenshot(confirm, L"certmanager_modify_pin_confirm");
  DeviceBench::Control("button 0 release cancel");
  EXPECT_TRUE(m_robot.WaitGone(confirm));
  EXPECT_EQ(merro::test::WaitForOtherDialog(m_main, 1000), nullptr) << "no box after C";
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_EQ(UserPinStatus().times, 3);

  // A wrong old PIN, OK on the token: a try spent, the tries told, a fresh
  // dialog; there the right old PIN and OK on the token change the PIN.
  ASSERT_NO_FATAL_FAILURE(SelectToken());
  DeviceBench::Control("button 0 ok");
  dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  TypePins(dlg, L"wrong1", L"abc123", L"abc123");
  EXPECT_EQ(AnswerBox(), PinErrorText(2));
  HWND again = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_OLD_PIN);
  ASSERT_NE(again, nullptr) << "the dialog opens again";
  DeviceBench::Control("button 0 ok");
  TypePins(again, L"47193628", L"abc123", L"abc123");
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_MODIFIED));
  EXPECT_TRUE(CommandButtonsDisabled());
  const merro::test::PinStatus after = UserPinStatus();
  EXPECT_EQ(after.times, 6) << "the right old PIN restores the tries";
  EXPECT_NE(after.status, 0x11) << "the token was reset";
  EXPECT_TRUE(UserPinVerifies("abc123"));
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, AWrongOldPinOnTheLastTryEndsInPinLocked) {
  ASSERT_TRUE(LeaveTries(1, 1));
  DeviceBench::Control("button 0 ok");
  HWND dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  TypePins(dlg, L"wrong1", L"abc123", L"abc123");
  EXPECT_EQ(AnswerBox(), PinErrorText(0));
  // The loop's next pass finds the PIN locked before opening the dialog.
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_LOCKED_TEXT));
  EXPECT_EQ(merro::test::WaitForOtherDialog(m_main, 1000), nullptr) << "no dialog after the lock";
  EXPECT_TRUE(CommandButtonsDisabled());
  const merro::test::PinStatus after = UserPinStatus();
  EXPECT_EQ(after.times, 0);
  EXPECT_NE(after.status, 0x11) << "the token was reset";
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

}  // namespace
