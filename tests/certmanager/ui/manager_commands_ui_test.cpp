// The main dialog's token commands worked through the windows: the PIN
// change dialog with its rules and retry loop, the device information box
// and the hidden unlock command. The token's PIN state is checked through
// the token API afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/token_fixture.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/ui/ui_test.h"
#include "tokenapi/api/token_api.h"

namespace {

using merro::test::ManagerRun;
using merro::test::ManagerString;
using merro::test::WindowRobot;
using merro::testing::DeviceBench;

constexpr DWORD kUserPIN = 1;

// Token 0's user PIN state through the token API: tries left and state byte.
struct PinStatus {
  BYTE times = 0;
  BYTE status = 0;
};

PinStatus UserPinStatus() {
  PinStatus s;
  merro::testing::OpenToken ctx;
  BYTE modified = 0;
  if (DeviceBench::Open(0, &ctx) &&
      GetPINStatus(ctx.get(), kUserPIN, &s.times, &s.status, &modified) == 0) {
    return s;
  }
  s.times = 0xFF;
  return s;
}

bool UserPinVerifies(const std::string& pin) {
  merro::testing::OpenToken ctx;
  if (!DeviceBench::Open(0, &ctx)) {
    return false;
  }
  const bool ok = SetSessionKey(ctx.get()) == 0 &&
                  VerifyPIN(ctx.get(), kUserPIN, reinterpret_cast<const BYTE*>(pin.data()),
                            static_cast<BYTE>(pin.size())) == 0;
  ResetDevice(ctx.get());
  return ok;
}

std::string TokenName() {
  merro::testing::OpenToken ctx;
  BYTE name[64] = {};
  DWORD size = sizeof name;
  if (!DeviceBench::Open(0, &ctx) || GetTokenName(ctx.get(), name, &size) != 0) {
    return "(unreadable)";
  }
  return std::string(reinterpret_cast<const char*>(name), std::min<DWORD>(size, sizeof name));
}

// Gives the administrator PIN a value of its own (so that it counts as
// modified), when adminPin is not empty, then spends every try of PIN
// `pinType` with a wrong one.
::testing::AssertionResult LockPin(BYTE pinType, const std::string& adminPin = "") {
  const int i = 0;  // the token, as the step macro reports it
  merro::testing::OpenToken ctx;
  if (auto opened = DeviceBench::Open(i, &ctx); !opened) {
    return opened;
  }
  const std::string factory = DeviceBench::kFactoryPin;
  BENCH_STEP(SetSessionKey(ctx.get()));
  if (!adminPin.empty()) {
    BENCH_STEP(ChangePIN(ctx.get(), 2, reinterpret_cast<const BYTE*>(factory.data()),
                         static_cast<BYTE>(factory.size()),
                         reinterpret_cast<const BYTE*>(adminPin.data()),
                         static_cast<BYTE>(adminPin.size())));
  }
  const std::string wrong = "wrong9";
  for (int attempt = 0; attempt < 32; ++attempt) {
    BYTE times = 0, status = 0, modified = 0;
    BENCH_STEP(GetPINStatus(ctx.get(), pinType, &times, &status, &modified));
    if (times == 0) {
      ResetDevice(ctx.get());
      return ::testing::AssertionSuccess();
    }
    // With three tries or fewer the token waits for its button.
    DeviceBench::Control("button 0 ok");
    VerifyPIN(ctx.get(), pinType, reinterpret_cast<const BYTE*>(wrong.data()),
              static_cast<BYTE>(wrong.size()));
  }
  return ::testing::AssertionFailure() << "the PIN does not lock";
}

class ManagerCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(merro::test::StartFresh(1));
    ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, merro::testing::TokenFixture::Standard()));
    m_run = std::make_unique<ManagerRun>();
    m_main = m_run->MainDialog();
    ASSERT_NE(m_main, nullptr);
    ASSERT_TRUE(merro::test::WaitUntil([&] { return ::IsWindowVisible(m_main) != FALSE; }));
    SelectToken();
  }
  void TearDown() override {
    if (m_run) {
      m_run->Exit();
    }
    merro::test::StartFresh(1);
  }

  void SelectToken() {
    const std::vector<WindowRobot::TreeItem> items = m_robot.TreeItems(m_main, IDC_CERT_TREE);
    ASSERT_GE(items.size(), 2u);
    // The root first, so that the token's item is clicked while another is
    // selected, as a user's next click would be.
    ASSERT_TRUE(m_robot.ClickTreeItem(m_main, IDC_CERT_TREE, items[0].handle));
    ASSERT_TRUE(m_robot.ClickTreeItem(m_main, IDC_CERT_TREE, items[1].handle));
    ASSERT_TRUE(merro::test::WaitUntil(
        [&] { return merro::test::ButtonEnabled(m_main, IDC_MODIFY_PIN); }))
        << "items " << items.size() << " robot: "
        << (m_robot.Failures().empty() ? std::string() : m_robot.Failures().back());
  }

  // The PIN change dialog after button 1000, the three PINs typed with Tab
  // between the fields, then OK.
  HWND OpenPinDialog() {
    m_robot.PostCommand(m_main, IDC_MODIFY_PIN);
    return m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_OLD_PIN);
  }
  void TypePins(HWND dlg, const std::wstring& oldPin, const std::wstring& newPin,
                const std::wstring& confirmPin) {
    m_robot.Settle(dlg);
    m_robot.Type(dlg, oldPin);
    m_robot.Keys(dlg, {VK_TAB});
    m_robot.Type(dlg, newPin);
    m_robot.Keys(dlg, {VK_TAB});
    m_robot.Type(dlg, confirmPin);
    m_robot.PressButton(dlg, IDOK);
  }
  // The next message box's text, answered with `button`; "(none)" when none came.
  std::wstring AnswerBox(int button = IDOK) {
    HWND box = m_robot.WaitForDialog(::GetCurrentProcessId(), WindowRobot::kMessageBoxText);
    if (box == nullptr) {
      return L"(none)";
    }
    const std::wstring text = m_robot.Text(box, WindowRobot::kMessageBoxText);
    m_robot.PressButton(box, button);
    m_robot.WaitGone(box);
    return text;
  }
  bool CommandButtonsDisabled() {
    return merro::test::WaitUntil([&] {
      return !merro::test::ButtonEnabled(m_main, IDC_MODIFY_PIN) &&
             !merro::test::ButtonEnabled(m_main, IDC_VIEW_CERT) &&
             !merro::test::ButtonEnabled(m_main, IDC_VIEW_DEV) &&
             !merro::test::ButtonEnabled(m_main, IDC_MOD_DEV_NAME);
    });
  }

  WindowRobot m_robot;
  merro::test::NotifyRecorder m_recorder;
  std::unique_ptr<ManagerRun> m_run;
  HWND m_main = nullptr;
};

TEST_F(ManagerCommands, PinChangeKeepsTheDialogOnRulesRetriesAWrongPinAndChanges) {
  const BYTE triesBefore = UserPinStatus().times;
  ASSERT_LT(triesBefore, 0xFF);

  // A weak PIN: box 159, the dialog stays for another try; Cancel then
  // ends the command without a box.
  HWND dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(m_robot.Text(dlg), ManagerString(IDS_MODIFY_USER_PIN));
  m_robot.Screenshot(dlg, L"certmanager_modify_pin");
  TypePins(dlg, L"47193628", L"123456", L"123456");
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_WEAK));
  EXPECT_TRUE(::IsWindowVisible(dlg));
  m_robot.PressButton(dlg, IDCANCEL);
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_EQ(merro::test::WaitForOtherDialog(m_main, 1000), nullptr) << "Cancel shows no box";
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_EQ(UserPinStatus().times, triesBefore) << "nothing reached the token";

  // A wrong old PIN: the tries left, then a fresh dialog; cancelled.
  SelectToken();
  dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  TypePins(dlg, L"wrong1", L"abc123", L"abc123");
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_ERROR) + L"\n" + ManagerString(IDS_LEFT_TIMES) +
                             std::to_wstring(triesBefore - 1));
  HWND again = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_OLD_PIN);
  ASSERT_NE(again, nullptr) << "the dialog opens again";
  m_robot.PressButton(again, IDCANCEL);
  ASSERT_TRUE(m_robot.WaitGone(again));
  EXPECT_EQ(merro::test::WaitForOtherDialog(m_main, 1000), nullptr);
  const PinStatus afterWrong = UserPinStatus();
  EXPECT_EQ(afterWrong.times, triesBefore - 1);

  // A good change: box 113; the token takes the new PIN; the token is reset.
  SelectToken();
  dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  TypePins(dlg, L"47193628", L"abc123", L"abc123");
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_MODIFIED));
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_NE(UserPinStatus().status, 0x11) << "the token was reset: the PIN is not verified";
  EXPECT_TRUE(UserPinVerifies("abc123"));
  EXPECT_FALSE(UserPinVerifies("47193628"));
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, DeviceInfoAndUnlockOfAnUnlockedPinTellTheTokenState) {
  // The information box: label, the card OS version bytes in hexadecimal.
  m_robot.PostCommand(m_main, IDC_VIEW_DEV);
  HWND box = merro::test::WaitForMessageBox(m_robot, ManagerString(IDS_DEVICE_INFO));
  ASSERT_NE(box, nullptr);
  const std::wstring info = m_robot.Text(box, WindowRobot::kMessageBoxText);
  m_robot.Screenshot(box, L"certmanager_device_info");
  m_robot.PressButton(box, IDOK);
  m_robot.WaitGone(box);
  EXPECT_NE(info.find(ManagerString(IDS_DEVICE_NAME) + L"\n    Probe Key\n"), std::wstring::npos)
      << merro::test::Utf8(info);
  EXPECT_NE(info.find(ManagerString(IDS_KEY_NAME) + L"56.33.2E.30\n"), std::wstring::npos)
      << merro::test::Utf8(info);
  EXPECT_NE(info.find(ManagerString(IDS_MANAGER_NAME) + L" "), std::wstring::npos);
  EXPECT_TRUE(CommandButtonsDisabled());

  // Unlock while the user PIN still has tries: the tries and text 179.
  ASSERT_NO_FATAL_FAILURE(SelectToken());
  const BYTE tries = UserPinStatus().times;
  m_robot.PostCommand(m_main, IDC_UNLOCK_PIN);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_LEFT_TIMES) + std::to_wstring(tries) + L"\n" +
                             ManagerString(IDS_PIN_NOT_LOCKED));
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, RenameKeepsTenCharactersAndCancelChangesNothing) {
  const std::string before = TokenName();
  m_robot.PostCommand(m_main, IDC_MOD_DEV_NAME);
  HWND dlg = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_NEW_DEV_NAME);
  ASSERT_NE(dlg, nullptr);
  m_robot.Settle(dlg);
  m_robot.Type(dlg, L"zz");
  m_robot.PressButton(dlg, IDCANCEL);
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_EQ(TokenName(), before);
  EXPECT_TRUE(CommandButtonsDisabled());

  ASSERT_NO_FATAL_FAILURE(SelectToken());
  m_robot.PostCommand(m_main, IDC_MOD_DEV_NAME);
  dlg = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_NEW_DEV_NAME);
  ASSERT_NE(dlg, nullptr);
  m_robot.Settle(dlg);
  m_robot.Type(dlg, L"abcdefghijkl");
  EXPECT_EQ(m_robot.Text(dlg, IDC_NEW_DEV_NAME), L"abcdefghij");
  m_robot.Screenshot(dlg, L"certmanager_modify_dev_name");
  m_robot.PressButton(dlg, IDOK);
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_EQ(TokenName(), "abcdefghij");
  EXPECT_TRUE(merro::test::WaitUntil([&] {
    const std::vector<std::wstring> texts = merro::test::TreeTexts(m_robot, m_main);
    return texts.size() > 1 && texts[1].find(L"abcdefghij") != std::wstring::npos;
  })) << "the tree shows the new name";
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, UnlockUsesTheTypedAdministratorPin) {
  const std::string adminPin = "adm1n9";
  ASSERT_TRUE(LockPin(1, adminPin));
  m_robot.PostCommand(m_main, IDC_UNLOCK_PIN);
  EXPECT_EQ(AnswerBox(IDYES), ManagerString(IDS_CONFIRM_UNLOCK));
  HWND pin = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT);
  ASSERT_NE(pin, nullptr) << "the administrator PIN is asked";
  m_robot.Settle(pin);
  m_robot.Type(pin, std::wstring(adminPin.begin(), adminPin.end()));
  m_robot.PressButton(pin, IDC_PIN_OK);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_UNLOCK_SUCCESS));
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_TRUE(UserPinVerifies(DeviceBench::kFactoryPin));
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, ALockedUserPinIsToldAndUnlockRefusesTheFactoryAdministratorPin) {
  ASSERT_TRUE(LockPin(1));
  m_robot.PostCommand(m_main, IDC_UNLOCK_PIN);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_DEFAULT_ADMIN_PIN));
  EXPECT_EQ(UserPinStatus().times, 0) << "still locked";
  // The PIN change stops before its dialog (the token stays remembered).
  m_robot.PostCommand(m_main, IDC_MODIFY_PIN);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_LOCKED_TEXT));
  EXPECT_TRUE(CommandButtonsDisabled());
  // The root selected, no token: box 112.
  ASSERT_TRUE(m_robot.ClickTreeItem(m_main, IDC_CERT_TREE,
                                    m_robot.TreeItems(m_main, IDC_CERT_TREE).at(0).handle));
  m_robot.PostCommand(m_main, IDC_MODIFY_PIN);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_SELECT_KEY));
}

TEST_F(ManagerCommands, DeviceInfoShowsZerosWhenTheVersionCannotBeRead) {
  DeviceBench::Control("fault 0 sw 6A86 ins 12");
  m_robot.PostCommand(m_main, IDC_VIEW_DEV);
  const std::wstring info = AnswerBox();
  DeviceBench::Control("fault 0 clear");
  EXPECT_NE(info.find(ManagerString(IDS_KEY_NAME) + L"0.0.0.0\n"), std::wstring::npos)
      << merro::test::Utf8(info);
}

TEST_F(ManagerCommands, InitialiseClearsTheTokenAndRestoresTheFactoryUserPin) {
  const size_t itemsBefore = merro::test::TreeTexts(m_robot, m_main).size();
  ASSERT_GT(itemsBefore, 2u);
  ASSERT_TRUE(LockPin(1));
  m_robot.PostCommand(m_main, IDC_INITIALIZE);
  EXPECT_EQ(AnswerBox(IDYES), ManagerString(IDS_CONFIRM_INITIALIZE));
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_INITIALIZE_SUCCESS));
  EXPECT_TRUE(merro::test::WaitUntil(
      [&] { return merro::test::TreeTexts(m_robot, m_main).size() == 2; }))
      << "no certificate is left";
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_TRUE(UserPinVerifies(DeviceBench::kFactoryPin));
}

TEST_F(ManagerCommands, InitialiseTouchesNothingWhileTheAdministratorPinIsLocked) {
  const std::vector<std::wstring> before = merro::test::TreeTexts(m_robot, m_main);
  ASSERT_TRUE(LockPin(2));
  m_robot.PostCommand(m_main, IDC_INITIALIZE);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_ADMIN_PIN_LOCKED)) << "no confirmation is asked";
  m_robot.PressButton(m_main, IDC_REFRESH);
  // The refresh rebuilds the tree; read it once the rebuild has filled it.
  std::vector<std::wstring> after;
  merro::test::WaitUntil([&] {
    after = merro::test::TreeTexts(m_robot, m_main);
    return after.size() >= before.size();
  });
  EXPECT_EQ(after, before);
}

TEST_F(ManagerCommands, AboutAndHelpShowTheVersionAndTheHotline) {
  m_robot.PostCommand(m_main, IDC_ABOUT);
  HWND about = merro::test::WaitForOtherDialog(m_main);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(m_robot.Text(about), ManagerString(IDS_MAIN_TITLE));
  EXPECT_EQ(m_robot.Text(about, IDC_ABOUT_VERSION).rfind(ManagerString(IDS_MANAGER_NAME) + L" ", 0),
            0u);
  m_robot.Screenshot(about, L"certmanager_about");
  m_robot.PressButton(about, IDOK);
  ASSERT_TRUE(m_robot.WaitGone(about));

  m_robot.PostCommand(m_main, IDC_HELP_BUTTON);
  HWND help = merro::test::WaitForOtherDialog(m_main);
  ASSERT_NE(help, nullptr);
  EXPECT_FALSE(m_robot.Text(help, IDC_HELP_HOTLINE).empty());
  m_robot.Screenshot(help, L"certmanager_help");
  m_robot.SystemClose(help);
  ASSERT_TRUE(m_robot.WaitGone(help));
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

}  // namespace
