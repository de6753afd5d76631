// The key object's PIN check with the real PIN dialog: the robot types the
// PIN into the field (whose low-level keyboard hook sees the keys) and
// presses Enter; the token then reports the user PIN verified.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/ui/robot_thread.h"

namespace merro::testing {
namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;

constexpr char kContainer[] = "keyh ui container";

TEST(KeyHandlePinDialog, TypedPinVerifiesTheToken) {
  ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
  DeviceBench::Insert(0);
  DeviceBench::Control("button 0 clear");
  ASSERT_TRUE(DeviceBench::Prepare(0));
  ASSERT_TRUE(DeviceBench::CreateContainers(0, {kContainer}));
  const std::string dev = DeviceBench::DeviceName(0);
  const std::wstring providerName = L"Merro key UI test " + std::to_wstring(::GetCurrentProcessId());
  ProviderSettings settings = DefaultProviderSettings(FALSE);
  settings.pwszProviderName = providerName.c_str();
  ASSERT_EQ(provider::Container::TokenInitialize(settings), S_OK);
  ASSERT_EQ(g_pDeviceHandle->UpdateContainer(), S_OK);
  ASSERT_EQ(g_pDeviceHandle->ResetKey(dev.c_str()), S_OK);

  provider::Container container(dev.c_str(), kContainer, TRUE, FALSE, TRUE, FALSE);
  provider::KeyHandle key;
  key.m_pContainer = &container;
  ASSERT_EQ(key.InitKeyHandle(AT_SIGNATURE, 0), S_OK);

  RobotThread robot([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT);
    r.Require(dlg != nullptr, "the PIN dialog");
    r.Settle(dlg);
    r.Type(dlg, L"47193628");
    r.Check(r.Text(dlg, IDC_PIN_EDIT) == L"********", "eight asterisks shown");
    r.Keys(dlg, {VK_RETURN});
    r.Check(r.WaitGone(dlg), "the dialog ends");
  });
  const HRESULT hr = key.CheckUserPIN(FALSE, FALSE);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(hr, S_OK);

  DWORD tries = 0;
  DWORD status = 0;
  DWORD modified = 0;
  EXPECT_EQ(g_pDeviceHandle->GetPINInfo(dev.c_str(), 1, &tries, &status, &modified), S_OK);
  EXPECT_EQ(status, 0x11u);
  EXPECT_EQ(tries, 6u);
  EXPECT_TRUE(g_pDeviceHandle->HaveKeptPIN(dev.c_str()));
  EXPECT_EQ(provider::Container::TokenUninitialize(), S_OK);
}

}  // namespace
}  // namespace merro::testing
