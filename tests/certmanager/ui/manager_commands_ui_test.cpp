// The main dialog's token commands worked through the windows: the PIN
// change dialog with its rules and retry loop, the device information box
// and the hidden unlock command. The token's PIN state is checked through
// the token API afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "resources/device/device_resource_ids.h"
#include "tests/certmanager/ui/manager_commands_fixture.h"
#include "tests/device/support/device_bench.h"

namespace {

using merro::test::LockPin;
using merro::test::ManagerCommands;
using merro::test::PinNotVerified;
using merro::test::ManagerString;
using merro::test::TokenName;
using merro::test::UserPinStatus;
using merro::test::UserPinVerifies;
using merro::test::WindowRobot;
using merro::testing::DeviceBench;

// The FileVersion text of this program's own version resource, read here
// with the version functions: the manager runs in this process, so its
// boxes must show exactly this.
std::wstring OwnFileVersion() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = n == 0 || n >= MAX_PATH ? 0 : ::GetFileVersionInfoSizeW(path, &ignored);
  std::vector<BYTE> info(size);
  if (size == 0 || !::GetFileVersionInfoW(path, 0, size, info.data())) {
    return L"(no version resource)";
  }
  void* translation = nullptr;
  UINT bytes = 0;
  if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &translation, &bytes) ||
      bytes < 2 * sizeof(WORD)) {
    return L"(no translation)";
  }
  const WORD* pair = static_cast<const WORD*>(translation);
  wchar_t block[64] = {};
  std::swprintf(block, std::size(block), L"\\StringFileInfo\\%04x%04x\\FileVersion", pair[0],
                pair[1]);
  void* found = nullptr;
  UINT chars = 0;
  if (!::VerQueryValueW(info.data(), block, &found, &chars) || found == nullptr) {
    return L"(no FileVersion)";
  }
  const wchar_t* value = static_cast<const wchar_t*>(found);
  return std::wstring(value, ::wcsnlen(value, chars));
}

// Whether one of the dialog's statics shows an icon.
bool ShowsIcon(HWND dialog) {
  bool found = false;
  ::EnumChildWindows(
      dialog,
      [](HWND child, LPARAM param) -> BOOL {
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
          *reinterpret_cast<bool*>(param) = true;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The texts of the dialog's statics, one after the other.
std::wstring StaticTexts(HWND dialog) {
  std::wstring texts;
  ::EnumChildWindows(
      dialog,
      [](HWND child, LPARAM param) -> BOOL {
        wchar_t className[16] = {};
        ::GetClassNameW(child, className, 16);
        if (::lstrcmpiW(className, L"Static") == 0) {
          wchar_t text[256] = {};
          ::GetWindowTextW(child, text, 256);
          *reinterpret_cast<std::wstring*>(param) += std::wstring(text) + L"|";
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

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
  for (const int field : {IDC_OLD_PIN, IDC_NEW_PIN, IDC_CONFIRM_PIN}) {
    EXPECT_EQ(m_robot.Text(again, field), L"") << "field " << field << " starts empty";
  }
  m_robot.PressButton(again, IDCANCEL);
  ASSERT_TRUE(m_robot.WaitGone(again));
  EXPECT_EQ(merro::test::WaitForOtherDialog(m_main, 1000), nullptr);
  const merro::test::PinStatus afterWrong = UserPinStatus();
  EXPECT_EQ(afterWrong.times, triesBefore - 1);

  // A good change: box 113; the token takes the new PIN; the token is reset.
  SelectToken();
  dlg = OpenPinDialog();
  ASSERT_NE(dlg, nullptr);
  TypePins(dlg, L"47193628", L"abc123", L"abc123");
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_PIN_MODIFIED));
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_TRUE(PinNotVerified(1)) << "the token was reset";
  EXPECT_TRUE(UserPinVerifies("abc123"));
  EXPECT_FALSE(UserPinVerifies("47193628"));
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, DeviceInfoAndUnlockOfAnUnlockedPinTellTheTokenState) {
  const std::wstring version = OwnFileVersion();
  ASSERT_TRUE(std::iswdigit(version.c_str()[0])) << merro::test::Utf8(version);
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
  EXPECT_EQ(info, ManagerString(IDS_DEVICE_NAME) + L"\n    Probe Key\n" +
                      ManagerString(IDS_DEVICE_VERSION) + L"\n    " + ManagerString(IDS_KEY_NAME) +
                      L"56.33.2E.30\n" + ManagerString(IDS_SOFTWARE_VERSION) + L"\n    " +
                      ManagerString(IDS_MANAGER_NAME) + L" " + version + L"\n")
      << merro::test::Utf8(info) << " version " << merro::test::Utf8(version);
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
  EXPECT_TRUE(merro::test::WaitUntil([&] { return m_robot.IsEnabled(dlg, IDOK); }))
      << "OK is enabled once the field has a name";
  m_robot.Keys(dlg, {VK_BACK, VK_BACK});
  EXPECT_TRUE(merro::test::WaitUntil([&] { return !m_robot.IsEnabled(dlg, IDOK); }))
      << "OK is disabled while the field is empty";
  m_robot.Type(dlg, L"zz");
  DeviceBench::CommandLog(0, true);
  m_robot.PressButton(dlg, IDCANCEL);
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_TRUE(CommandButtonsDisabled());
  // A refresh would read the token: nothing reached it.
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty()) << "Cancel refreshed the tree";
  EXPECT_EQ(TokenName(), before);

  // OK on the empty field it starts with: nothing either.
  ASSERT_NO_FATAL_FAILURE(SelectToken());
  m_robot.PostCommand(m_main, IDC_MOD_DEV_NAME);
  dlg = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_NEW_DEV_NAME);
  ASSERT_NE(dlg, nullptr);
  DeviceBench::CommandLog(0, true);
  m_robot.PressButton(dlg, IDOK);
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  EXPECT_TRUE(CommandButtonsDisabled());
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty()) << "OK on an empty field refreshed the tree";
  EXPECT_EQ(TokenName(), before);

  ASSERT_NO_FATAL_FAILURE(SelectToken());
  m_robot.PostCommand(m_main, IDC_MOD_DEV_NAME);
  dlg = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_NEW_DEV_NAME);
  ASSERT_NE(dlg, nullptr);
  m_robot.Settle(dlg);
  m_robot.Type(dlg, L"abcdefghijkl");
  WaitTyped(dlg, IDC_NEW_DEV_NAME, 10);
  EXPECT_EQ(m_robot.Text(dlg, IDC_NEW_DEV_NAME), L"abcdefghij");
  m_robot.Screenshot(dlg, L"certmanager_modify_dev_name");
  m_robot.PressButton(dlg, IDOK);
  ASSERT_TRUE(m_robot.WaitGone(dlg));
  // The manager writes the name once its dialog has ended.
  std::string renamed;
  EXPECT_TRUE(merro::test::WaitUntil([&] {
    renamed = TokenName();
    return renamed == "abcdefghij";
  })) << "the token is named " << renamed;
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
  ASSERT_TRUE(AnswerPinDialog(adminPin)) << "the administrator PIN is asked";
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_UNLOCK_SUCCESS));
  EXPECT_TRUE(CommandButtonsDisabled());
  // Both PINs were verified on the way: the token was reset afterwards.
  EXPECT_TRUE(PinNotVerified(1));
  EXPECT_TRUE(PinNotVerified(2));
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
  EXPECT_TRUE(PinNotVerified(1));
  EXPECT_TRUE(PinNotVerified(2));
  EXPECT_TRUE(UserPinVerifies(DeviceBench::kFactoryPin));
}

// The token refuses a step after the administrator PIN was checked: the
// command's failure box, and no PIN is left verified. The same for an
// unlock whose unlocking step the token refuses.
TEST_F(ManagerCommands, HiddenCommandsThatFailLateLeaveNoPinVerified) {
  struct Case {
    const char* what;
    int command;
    UINT confirmText;
  } const cases[] = {
      // The factory administrator PIN first: the unlock then gives it one of its own.
      {"initialise", IDC_INITIALIZE, IDS_CONFIRM_INITIALIZE},
      {"unlock", IDC_UNLOCK_PIN, IDS_CONFIRM_UNLOCK},
  };
  const std::string adminPin = "adm1n9";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(SelectToken());
    if (c.command == IDC_UNLOCK_PIN) {
      ASSERT_TRUE(LockPin(1, adminPin));
    }
    // UNLOCK PIN (0x22) refused: the step right after the administrator PIN.
    DeviceBench::Control("fault 0 sw 6A86 ins 22");
    m_robot.PostCommand(m_main, c.command);
    EXPECT_EQ(AnswerBox(IDYES), ManagerString(c.confirmText));
    if (c.command == IDC_UNLOCK_PIN) {
      ASSERT_TRUE(AnswerPinDialog(adminPin)) << "the administrator PIN is asked";
    }
    EXPECT_EQ(AnswerBox(), ManagerString(IDS_UNLOCK_FAILED));
    DeviceBench::Control("fault 0 clear");
    EXPECT_TRUE(PinNotVerified(1));
    EXPECT_TRUE(PinNotVerified(2));
  }
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

TEST_F(ManagerCommands, InitialiseTouchesNothingWhileTheAdministratorPinIsLocked) {
  const std::vector<std::wstring> before = merro::test::TreeTexts(m_robot, m_main);
  ASSERT_TRUE(LockPin(2));
  m_robot.PostCommand(m_main, IDC_INITIALIZE);
  EXPECT_EQ(AnswerBox(), ManagerString(IDS_ADMIN_PIN_LOCKED)) << "no confirmation is asked";
  // The refresh rebuilds the tree from the token before the sent click
  // returns. The tree is then read until it shows the token as before: a
  // read can land inside a rebuild the manager started on its own.
  DWORD_PTR ignored = 0;
  ASSERT_NE(::SendMessageTimeoutW(m_main, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED),
                                  reinterpret_cast<LPARAM>(::GetDlgItem(m_main, IDC_REFRESH)),
                                  SMTO_NORMAL, 60000, &ignored),
            0)
      << "the refresh did not end";
  std::vector<std::wstring> after;
  merro::test::WaitUntil([&] {
    after = merro::test::TreeTexts(m_robot, m_main);
    return after == before;
  });
  EXPECT_EQ(after, before);
}

TEST_F(ManagerCommands, AboutAndHelpShowTheVersionAndTheHotline) {
  const std::wstring version = OwnFileVersion();
  ASSERT_TRUE(std::iswdigit(version.c_str()[0])) << merro::test::Utf8(version);
  m_robot.PostCommand(m_main, IDC_ABOUT);
  HWND about = merro::test::WaitForOtherDialog(m_main);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(m_robot.Text(about), ManagerString(IDS_MAIN_TITLE));
  EXPECT_EQ(m_robot.Text(about, IDC_ABOUT_VERSION).rfind(ManagerString(IDS_MANAGER_NAME) + L" ", 0),
            0u);
  EXPECT_EQ(m_robot.Text(about, IDC_ABOUT_VERSION), ManagerString(IDS_MANAGER_NAME) + L" " + version);
  EXPECT_TRUE(ShowsIcon(about));
  m_robot.Screenshot(about, L"certmanager_about");
  m_robot.PressButton(about, IDOK);
  ASSERT_TRUE(m_robot.WaitGone(about));
  EXPECT_TRUE(CommandButtonsDisabled()) << "the token was selected before About";

  m_robot.PostCommand(m_main, IDC_HELP_BUTTON);
  HWND help = merro::test::WaitForOtherDialog(m_main);
  ASSERT_NE(help, nullptr);
  EXPECT_FALSE(m_robot.Text(help, IDC_HELP_HOTLINE).empty());
  EXPECT_TRUE(ShowsIcon(help));
  EXPECT_NE(StaticTexts(help).find(L"400-000-0000"), std::wstring::npos)
      << merro::test::Utf8(StaticTexts(help));
  m_robot.Screenshot(help, L"certmanager_help");
  m_robot.SystemClose(help);
  ASSERT_TRUE(m_robot.WaitGone(help));
  EXPECT_TRUE(m_robot.Failures().empty()) << m_robot.Failures().front();
}

// A token that stores no name: the information box calls it "Merro30".
class UnnamedToken : public ManagerCommands {
 protected:
  merro::testing::FixtureToken Token() const override { return {}; }
};

TEST_F(UnnamedToken, DeviceInfoNamesIt) {
  m_robot.PostCommand(m_main, IDC_VIEW_DEV);
  const std::wstring info = AnswerBox();
  EXPECT_EQ(info.rfind(ManagerString(IDS_DEVICE_NAME) + L"\n    Merro30\n", 0), 0u)
      << merro::test::Utf8(info);
}

}  // namespace
