// The device object's message boxes as the user sees them: the real box
// in the run's language, found by its caption, read and answered by the
// robot, and what the device object returns afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/ui_test.h"

namespace {

using merro::device::DeviceHandle;
using merro::test::RobotThread;
using merro::test::UiLanguage;
using merro::test::Utf8;
using merro::test::WindowRobot;

struct BoxTexts {
  const wchar_t* caption;
  const wchar_t* text;
};

BoxTexts DefaultPinTexts() {
  switch (merro::test::CurrentUiLanguage()) {
    case UiLanguage::SimplifiedChinese:
      return {L"检测到默认PIN码",
              L"您的Key正在使用默认用户PIN码，为了您的安全，请使用TAVR证书管理工具修改用户PIN码。"};
    case UiLanguage::TraditionalChinese:
      return {L"偵測到預設PIN碼",
              L"您的Key正在使用預設使用者PIN碼，為了您的安全，請使用TAVR憑證管理工具修改使用者PIN碼。"};
    default:
      return {L"Default PIN detected",
              L"Your Key is using default user PIN, For your safety, please modify your User PIN "
              L"with MerroManager."};
  }
}

BoxTexts PinLockedTexts() {
  switch (merro::test::CurrentUiLanguage()) {
    case UiLanguage::SimplifiedChinese:
      return {L"错误", L"Key已锁定，请联系银行工作人员寻求帮助！"};
    case UiLanguage::TraditionalChinese:
      return {L"錯誤", L"Key已鎖定，請聯絡銀行工作人員尋求協助！"};
    default:
      return {L"Error", L"UKey is locked,please contact bank assistant for help!"};
  }
}

// Runs `call` while the robot waits for the box with `expected`'s caption,
// reads its text, takes a screenshot and presses OK. The robot's notes: the
// text it read.
HRESULT AnswerBox(const BoxTexts& expected, const wchar_t* shot,
                  const std::function<HRESULT()>& call, std::vector<std::string>* pNotes) {
  RobotThread robot([&](WindowRobot& r) {
    HWND box = r.FindDialog(expected.caption, ::GetCurrentProcessId());
    r.Require(box != nullptr, "the message box " + Utf8(expected.caption));
    r.Note(Utf8(r.Text(box, 0xFFFF)));  // the box's text control
    r.Screenshot(box, shot);
    r.PressButton(box, IDOK);
    r.WaitGone(box);
  });
  const HRESULT hr = call();
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  *pNotes = robot.Notes();
  return hr;
}

TEST(DeviceMessageBoxes, DefaultPinWarning) {
  DeviceHandle handle;
  handle.m_dwDefaultPINCheck = 2;
  const BoxTexts expected = DefaultPinTexts();
  std::vector<std::string> notes;
  const HRESULT hr = AnswerBox(expected, L"message_default_pin",
                               [&] { return handle.CheckDefaultPINStat(0); }, &notes);
  EXPECT_EQ(hr, SCARD_W_SECURITY_VIOLATION);
  EXPECT_EQ(notes, std::vector<std::string>{Utf8(expected.text)});
}

// No tries left: the "locked" box instead of the PIN dialog, and no PIN.
TEST(DeviceMessageBoxes, PinLockedError) {
  DeviceHandle handle;
  const BoxTexts expected = PinLockedTexts();
  std::vector<std::string> notes;
  char* pin = reinterpret_cast<char*>(1);
  const HRESULT hr = AnswerBox(expected, L"message_pin_locked",
                               [&] { return handle.GetUserPIN(0, &pin); }, &notes);
  EXPECT_EQ(hr, SCARD_W_CHV_BLOCKED);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(notes, std::vector<std::string>{Utf8(expected.text)});
}

}  // namespace
