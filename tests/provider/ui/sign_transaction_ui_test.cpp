// A transaction message signed through the real transaction dialog: the
// dialog stands while the token shows the message and goes by itself when
// the token's OK comes; the kept PIN serves, so no PIN dialog shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "resources/device/device_resource_ids.h"
#include "tests/provider/signing_bench.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/ui_test.h"

namespace merro::testing {
namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;

using RealTransactionDialog = SigningBench;

TEST_F(RealTransactionDialog, ClosesItselfOnTheTokensOk) {
  const RealDialogs real;
  ASSERT_EQ(g_pDeviceHandle->KeepUserPIN(m_dev.c_str(), reinterpret_cast<const BYTE*>(kUserPin), 8),
            S_OK);
  auto hash = HashOf(Rsa(), CALG_SHA_256, ToBytes(kTavrMessage));
  auto key = SignatureKey(Rsa());
  DeviceBench::Control("button 0 ok after 3");
  Bytes signature(256);
  DWORD length = 256;
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_CONFIRM_TEXT);
    r.Require(dlg != nullptr, "the transaction dialog");
    r.Check(r.WaitGone(dlg), "gone once the token answered");
  });
  EXPECT_EQ(key->SignHashData(hash.get(), signature.data(), &length), S_OK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(DeviceBench::Control("display 0"), kTavrMessage + "\n");
  ASSERT_EQ(length, 256u);
  EXPECT_TRUE(RsaVerifies(CALG_SHA_256, *hash, signature));
}

}  // namespace
}  // namespace merro::testing
