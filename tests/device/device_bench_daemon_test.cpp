// The bench itself: a prepared token holds the factory PINs of the
// PinFile.ini beside this program, never changed, and can be given another
// never-changed user PIN.
#include <string>

#include "tests/device/device_daemon_fixture.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

class Bench : public DeviceDaemonTest {};

// The user PIN's state through a fresh context after verifying pin.
struct PinCheck {
  HRESULT verify;
  BYTE modified;
};

PinCheck CheckUserPin(int i, const std::string& pin) {
  PinCheck check{E_FAIL, 0xFF};
  DEV_CTX* ctx = nullptr;
  if (OpenDevice(DeviceBench::DeviceName(i).c_str(), &ctx) != S_OK) {
    return check;
  }
  BYTE tries = 0, state = 0;
  if (SetSessionKey(ctx) == S_OK) {
    check.verify = VerifyPIN(ctx, 1, reinterpret_cast<const BYTE*>(pin.data()), static_cast<BYTE>(pin.size()));
    GetPINStatus(ctx, 1, &tries, &state, &check.modified);
  }
  ResetDevice(ctx);
  CloseDevice(ctx);
  return check;
}

TEST_F(Bench, PreparedTokensHoldNeverChangedPins) {
  ASSERT_TRUE(DeviceBench::Prepare(1));
  PinCheck check = CheckUserPin(1, DeviceBench::kFactoryPin);
  EXPECT_EQ(check.verify, S_OK);
  EXPECT_EQ(check.modified, 0);

  ASSERT_TRUE(DeviceBench::Prepare(1, "11223344"));
  check = CheckUserPin(1, "11223344");
  EXPECT_EQ(check.verify, S_OK);
  EXPECT_EQ(check.modified, 0);

  ASSERT_TRUE(DeviceBench::Unprovision(1));
  DEV_CTX* ctx = nullptr;
  EXPECT_NE(OpenDevice(DeviceBench::DeviceName(1).c_str(), &ctx), S_OK);
  EXPECT_EQ(ctx, nullptr);
}

}  // namespace
}  // namespace merro::testing
