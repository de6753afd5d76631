// The fixture of the main dialog's token-command tests: a filled token 0,
// the manager running with that token's tree item selected, and the robot
// that types into the PIN change dialog and answers the boxes. The token's
// PIN state is read (and spent) through the token API.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/support/token_fixture.h"
#include "tests/support/ui/window_robot.h"

namespace merro::test {

// Token 0's PIN state through the token API: tries left and state byte;
// times 0xFF when it could not be read.
struct PinStatus {
  BYTE times = 0;
  BYTE status = 0;
};
PinStatus UserPinStatus();

// Succeeds when token 0 shows PIN `pinType` (1 user, 2 administrator) not
// verified. Read through the manager's own token context, as another process
// would find the token: opening a new context would reset the token first.
::testing::AssertionResult PinNotVerified(DWORD pinType);

// Whether token 0's user PIN is `pin` (a right one restores the tries). With
// three tries or fewer the token waits for its button: OK is scripted.
bool UserPinVerifies(const std::string& pin);

// Token 0's name through the token API.
std::string TokenName();

// Gives the administrator PIN a value of its own (so that it counts as
// modified), when adminPin is not empty, then spends tries of PIN `pinType`
// with a wrong one until `left` remain.
::testing::AssertionResult LeaveTries(BYTE pinType, BYTE left, const std::string& adminPin = "");
inline ::testing::AssertionResult LockPin(BYTE pinType, const std::string& adminPin = "") {
  return LeaveTries(pinType, 0, adminPin);
}

class ManagerCommands : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // What token 0 holds when the manager starts.
  virtual merro::testing::FixtureToken Token() const {
    return merro::testing::TokenFixture::Standard();
  }

  void SelectToken();
  // The PIN change dialog after button 1000, the three PINs typed with Tab
  // between the fields, then OK.
  HWND OpenPinDialog();
  void TypePins(HWND dlg, const std::wstring& oldPin, const std::wstring& newPin,
                const std::wstring& confirmPin);
  // The PIN dialog, once it shows, given `pin` and OK; false when none came.
  bool AnswerPinDialog(const std::string& pin);
  // Waits until control `field` holds `chars` characters (what was typed
  // has arrived), before a click is posted.
  void WaitTyped(HWND dlg, int field, size_t chars);
  // The next message box's text, answered with `button`; "(none)" when none came.
  std::wstring AnswerBox(int button = IDOK);
  ::testing::AssertionResult CommandButtonsDisabled();

  WindowRobot m_robot;
  NotifyRecorder m_recorder;
  std::unique_ptr<ManagerRun> m_run;
  HWND m_main = nullptr;
};

}  // namespace merro::test
