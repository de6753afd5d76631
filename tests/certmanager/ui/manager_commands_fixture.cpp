#include "tests/certmanager/ui/manager_commands_fixture.h"

#include <algorithm>
#include <vector>

#include "certmanager/pin_info.h"
#include "certmanager_resource_ids.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/device_bench.h"
#include "tokenapi/api/token_api.h"

namespace merro::test {
namespace {

using merro::testing::DeviceBench;

constexpr DWORD kUserPIN = 1;
// From this many tries left downwards the token waits for its button.
constexpr BYTE kButtonTries = 3;

}  // namespace

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

::testing::AssertionResult PinNotVerified(DWORD pinType) {
  merro::certmanager::PINInfo info;
  const HRESULT hr =
      merro::certmanager::ReadPINInfo(DeviceBench::DeviceName(0).c_str(), pinType, &info);
  if (FAILED(hr)) {
    return ::testing::AssertionFailure() << "PIN " << pinType << " unreadable: 0x" << std::hex << hr;
  }
  if (info.dwStatus != 0) {
    return ::testing::AssertionFailure()
           << "PIN " << pinType << " verified (state 0x" << std::hex << info.dwStatus << ")";
  }
  return ::testing::AssertionSuccess();
}

bool UserPinVerifies(const std::string& pin) {
  const BYTE times = UserPinStatus().times;
  merro::testing::OpenToken ctx;
  if (!DeviceBench::Open(0, &ctx)) {
    return false;
  }
  if (times <= kButtonTries) {
    DeviceBench::Control("button 0 ok");
  }
  const bool ok = SetSessionKey(ctx.get()) == 0 &&
                  VerifyPIN(ctx.get(), kUserPIN, reinterpret_cast<const BYTE*>(pin.data()),
                            static_cast<BYTE>(pin.size())) == 0;
  ResetDevice(ctx.get());
  // An answer the token did not take must not answer a later confirmation.
  DeviceBench::Control("button 0 clear");
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

::testing::AssertionResult LeaveTries(BYTE pinType, BYTE left, const std::string& adminPin) {
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
    if (times <= left) {
      ResetDevice(ctx.get());
      if (times != left) {
        return ::testing::AssertionFailure() << "only " << int(times) << " tries left";
      }
      return ::testing::AssertionSuccess();
    }
    // Scripted only when the token will take it: answers queue up.
    if (times <= kButtonTries) {
      DeviceBench::Control("button 0 ok");
    }
    VerifyPIN(ctx.get(), pinType, reinterpret_cast<const BYTE*>(wrong.data()),
              static_cast<BYTE>(wrong.size()));
  }
  return ::testing::AssertionFailure() << "the tries do not go down to " << int(left);
}

void ManagerCommands::SetUp() {
  ASSERT_TRUE(StartFresh(1));
  DeviceBench::Control("button 0 clear");
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, Token()));
  m_run = std::make_unique<ManagerRun>();
  m_main = m_run->MainDialog();
  ASSERT_NE(m_main, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(m_main) != FALSE; }));
  SelectToken();
}

void ManagerCommands::TearDown() {
  // A confirmation a failed test left held is answered with C first, so
  // that the manager can end.
  DeviceBench::Control("button 0 clear");
  if (m_run) {
    m_run->Exit();
  }
  StartFresh(1);
}

void ManagerCommands::SelectToken() {
  // A refresh of the manager may rebuild its tree between the read of the
  // items and the clicks, which then land where an item was: a user clicks
  // again, and so does the test, a few times at most.
  constexpr int kAttempts = 3;
  constexpr DWORD kAttemptTimeoutMs = 20000;
  size_t itemCount = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::vector<WindowRobot::TreeItem> items = m_robot.TreeItems(m_main, IDC_CERT_TREE);
    itemCount = items.size();
    ASSERT_GE(items.size(), 2u);
    // The root first, so that the token's item is clicked while another is
    // selected, as a user's next click would be.
    ASSERT_TRUE(m_robot.ClickTreeItem(m_main, IDC_CERT_TREE, items[0].handle));
    ASSERT_TRUE(m_robot.ClickTreeItem(m_main, IDC_CERT_TREE, items[1].handle));
    if (WaitUntil([&] { return ButtonEnabled(m_main, IDC_MODIFY_PIN); }, kAttemptTimeoutMs)) {
      return;
    }
  }
  FAIL() << "the token's buttons stay disabled after " << kAttempts << " selections; items "
         << itemCount << " robot: "
         << (m_robot.Failures().empty() ? std::string() : m_robot.Failures().back());
}

HWND ManagerCommands::OpenPinDialog() {
  m_robot.PostCommand(m_main, IDC_MODIFY_PIN);
  return m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_OLD_PIN);
}

void ManagerCommands::TypePins(HWND dlg, const std::wstring& oldPin, const std::wstring& newPin,
                               const std::wstring& confirmPin) {
  m_robot.Settle(dlg);
  m_robot.Type(dlg, oldPin);
  m_robot.Keys(dlg, {VK_TAB});
  m_robot.Type(dlg, newPin);
  m_robot.Keys(dlg, {VK_TAB});
  m_robot.Type(dlg, confirmPin);
  WaitTyped(dlg, IDC_OLD_PIN, oldPin.size());
  WaitTyped(dlg, IDC_NEW_PIN, newPin.size());
  WaitTyped(dlg, IDC_CONFIRM_PIN, confirmPin.size());
  m_robot.PressButton(dlg, IDOK);
}

bool ManagerCommands::AnswerPinDialog(const std::string& pin) {
  HWND dlg = m_robot.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT);
  if (dlg == nullptr) {
    return false;
  }
  m_robot.Settle(dlg);
  m_robot.Type(dlg, std::wstring(pin.begin(), pin.end()));
  WaitTyped(dlg, IDC_PIN_EDIT, pin.size());
  m_robot.PressButton(dlg, IDC_PIN_OK);
  return true;
}

void ManagerCommands::WaitTyped(HWND dlg, int field, size_t chars) {
  // The posted click overtakes keys still in the input queue.
  m_robot.WaitFor([&] { return m_robot.Text(dlg, field).size() == chars; },
                  "field " + std::to_string(field) + " holding " + std::to_string(chars) +
                      " characters",
                  [&] { return merro::test::Utf8(m_robot.Text(dlg, field)); });
}

std::wstring ManagerCommands::AnswerBox(int button) {
  HWND box = m_robot.WaitForDialog(::GetCurrentProcessId(), WindowRobot::kMessageBoxText);
  if (box == nullptr) {
    return L"(none)";
  }
  const std::wstring text = m_robot.Text(box, WindowRobot::kMessageBoxText);
  m_robot.PressButton(box, button);
  m_robot.WaitGone(box);
  return text;
}

::testing::AssertionResult ManagerCommands::CommandButtonsDisabled() {
  return WaitForCommandButtons(m_main, "0000");
}

}  // namespace merro::test
