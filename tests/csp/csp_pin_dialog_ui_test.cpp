// The provider's real PIN dialog, reached through advapi32: a new container
// on a token whose user PIN was never changed, without the marker file, so
// the library asks for the PIN; and a key generation after the program
// handed its window over. The robot types the PIN (or cancels) with
// SendInput on the run's display.
#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/device/device_resource_ids.h"
#include "tests/csp/cryptoapi_fixture.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;
using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::Outcome;
using namespace merro::testing::csp;

constexpr DWORD kDialogWaitMs = 60000;  // the library's first load under a cold Wine

// A factory-fresh token and no scripted UI: the library shows its own
// dialogs.
class CspPinDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    _putenv_s("MERRO_UI_SCRIPT", "");
    DeviceBench::Insert(0);
    ASSERT_TRUE(DeviceBench::Prepare(0));
  }
  void TearDown() override { DeviceBench::Insert(0); }
};

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

// A visible top-level window of this thread, destroyed at scope exit.
struct TopWindow {
  explicit TopWindow(const wchar_t* title) {
    h = ::CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 200,
                          nullptr, nullptr, nullptr, nullptr);
  }
  ~TopWindow() {
    if (h != nullptr) {
      ::DestroyWindow(h);
    }
  }
  TopWindow(const TopWindow&) = delete;
  TopWindow& operator=(const TopWindow&) = delete;
  HWND h = nullptr;
};

std::string HandleText(HWND h) { return std::to_string(reinterpret_cast<std::uintptr_t>(h)); }

// The window a program hands over with PP_CLIENT_HWND owns the PIN dialog of
// a later key operation, even when another window of the program lies above
// it (the one the library would otherwise pick).
TEST_F(CspPinDialog, TheClientWindowOwnsThePinDialog) {
  // A user PIN of its own: a PIN an earlier test left in the library's keep
  // is refused, and the dialog comes up whatever ran before.
  constexpr char kPin[] = "13572468";
  ASSERT_TRUE(DeviceBench::Prepare(0, kPin));
  ASSERT_TRUE(DeviceBench::CreateContainers(0, {"owned"}, kPin));
  // A power cycle: the PIN that made the container is no longer verified.
  DeviceBench::Pull(0);
  DeviceBench::Insert(0);
  Provider p;
  const Outcome opened = AcquireInto(&p, "owned", 0);
  ASSERT_TRUE(opened.result) << std::hex << opened.error;
  {
    // Key generation answers its flag check before any PIN or token work.
    HCRYPTKEY probe = 0;
    ::SetLastError(0);
    if (!::CryptGenKey(p.h, AT_SIGNATURE, CRYPT_CREATE_IV, &probe) &&
        ::GetLastError() == static_cast<DWORD>(NTE_NOT_SUPPORTED)) {
      GTEST_SKIP() << "the provider generates no keys yet";
    }
  }

  RobotThread robot([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT, kDialogWaitMs);
    r.Require(dlg != nullptr, "the PIN dialog");
    r.Note(HandleText(::GetWindow(dlg, GW_OWNER)));
    r.Settle(dlg);
    r.Type(dlg, L"13572468");
    r.Keys(dlg, {VK_RETURN});
    r.Check(r.WaitGone(dlg), "the PIN dialog ends");
  });
  std::string client;
  std::string above;
  const Outcome generated = CallWithin(std::chrono::seconds(120), [&] {
    // The windows belong to the calling thread, whose modal loop serves them.
    TopWindow handedOver(L"client window");
    TopWindow other(L"another window");
    client = HandleText(handedOver.h);
    above = HandleText(other.h);
    const HWND hWnd = handedOver.h;
    if (!::CryptSetProvParam(p.h, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&hWnd), 0)) {
      return FALSE;
    }
    HCRYPTKEY key = 0;
    const BOOL ok = ::CryptGenKey(p.h, AT_SIGNATURE, 1024 << 16, &key);
    const DWORD error = ::GetLastError();
    if (ok) {
      ::CryptDestroyKey(key);
    }
    ::SetLastError(error);
    return ok;
  });
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_TRUE(generated.result) << std::hex << generated.error;
  EXPECT_NE(client, above);
  EXPECT_EQ(robot.Notes(), std::vector<std::string>{client}) << "the other window: " << above;
}

}  // namespace
