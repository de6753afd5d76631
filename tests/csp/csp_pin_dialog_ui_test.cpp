// The provider's real PIN dialog, reached through advapi32: a new container
// on a token whose user PIN was never changed, without the marker file, so
// the library asks for the PIN. The robot types it (or cancels) with
// SendInput on the run's display.
#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/device/device_resource_ids.h"
#include "tests/csp/cryptoapi_fixture.h"
#include "tests/csp/real_dialog_fixture.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;
using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::Outcome;
using namespace merro::testing::csp;

constexpr DWORD kDialogWaitMs = 60000;  // the library's first load under a cold Wine

class CspPinDialog : public CspRealDialogs {};

TEST_F(CspPinDialog, NewKeySetTakesThePinTypedIntoTheDialog) {
  struct Case {
    const char* name;
    bool type;  // type the PIN and press Enter; otherwise press Cancel
    DWORD code;  // 0: created
  } const cases[] = {
      {"typed", true, 0},
      {"cancelled", false, static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER)},
  };
  TavrFlag flag(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RobotThread robot([&c](WindowRobot& r) {
      HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT, kDialogWaitMs);
      r.Require(dlg != nullptr, "the PIN dialog");
      r.Settle(dlg);
      if (c.type) {
        r.Screenshot(dlg, L"csp_new_keyset_pin");
        r.Type(dlg, L"47193628");
        r.Check(r.Text(dlg, IDC_PIN_EDIT) == L"********", "eight asterisks");
        r.Keys(dlg, {VK_RETURN});
      } else {
        r.PressButton(dlg, IDC_PIN_CANCEL);
      }
      r.Check(r.WaitGone(dlg), "the PIN dialog ends");
    });
    Provider p;
    const Outcome o = AcquireWithin(std::chrono::seconds(120), &p, c.name, CRYPT_NEWKEYSET);
    robot.Join();
    EXPECT_EQ(robot.Failures(), std::vector<std::string>());
    EXPECT_EQ(o.result, c.code == 0 ? TRUE : FALSE);
    EXPECT_EQ(o.error, c.code) << std::hex << o.error;
    if (c.code == 0) {
      const std::vector<std::string> names = EnumContainers(p.h);
      EXPECT_NE(std::find(names.begin(), names.end(), c.name), names.end());
    }
  }
}

}  // namespace
