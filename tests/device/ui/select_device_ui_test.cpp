// DeviceHandle::SelectDevice with two prepared simulator tokens and the real
// selection dialog: the robot sees the tokens' labels in list order and
// picks a row; the device object then works on that token.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "device/device_handle.h"
#include "device/provider_settings.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::device::DeviceHandle;
using merro::testing::DeviceBench;
using merro::test::RobotThread;
using merro::test::WindowRobot;

// What the list shows for the device list: each label as UTF-16, or the
// numbered default for a token without one.
std::vector<std::wstring> ShownLabels(const DeviceHandle& handle) {
  std::vector<std::wstring> shown;
  int unlabelled = 0;
  for (const merro::device::DeviceItem& item : handle.m_vtrDeviceSet) {
    if (item.szDeviceLabel[0] == '\0') {
      shown.push_back(L"Merro30 Key--(" + std::to_wstring(++unlabelled) + L")");
      continue;
    }
    wchar_t label[300] = {};
    ::MultiByteToWideChar(CP_UTF8, 0, item.szDeviceLabel, -1, label, 300);
    shown.push_back(label);
  }
  return shown;
}

class SelectDeviceDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run with the simulator daemon";
    DeviceBench::Insert(0);
    DeviceBench::Insert(1);
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_TRUE(DeviceBench::Prepare(1));
    // A provider name of this process's own: no other test program shares
    // its device-update mutex.
    m_name = L"Merro dialog test " + std::to_wstring(::GetCurrentProcessId());
    ProviderSettings settings = DefaultProviderSettings(FALSE);
    settings.pwszProviderName = m_name.c_str();
    ASSERT_EQ(m_handle.Initialize(settings), S_OK);
    ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 2u);
  }
  void TearDown() override { m_handle.UnInitialize(); }

  std::wstring m_name;
  DeviceHandle m_handle;
};

TEST_F(SelectDeviceDialog, ShowsTheTokensAndSelectsTheRowPicked) {
  const std::vector<std::wstring> expected = ShownLabels(m_handle);
  const std::string second = m_handle.m_vtrDeviceSet[1].szDeviceName;
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_KEY_LIST);
    r.Require(dlg != nullptr, "the selection dialog");
    r.Check(r.ComboItems(dlg, IDC_KEY_LIST) == expected, "the tokens' labels in list order");
    r.Screenshot(dlg, L"select_device");
    r.Keys(dlg, {VK_DOWN, VK_RETURN});
  });
  EXPECT_EQ(m_handle.SelectDevice(), S_OK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(std::string(m_handle.m_szCurrentDeviceName), second);
  EXPECT_EQ(m_handle.m_nCurrentDeviceIndex, 1);

  // The system close is a cancel, and the selection stays.
  RobotThread closer([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_KEY_LIST);
    r.Require(dlg != nullptr, "the selection dialog");
    r.SystemClose(dlg);
  });
  EXPECT_EQ(m_handle.SelectDevice(), static_cast<HRESULT>(0x8010006E));
  closer.Join();
  EXPECT_EQ(closer.Failures(), std::vector<std::string>());
  EXPECT_EQ(std::string(m_handle.m_szCurrentDeviceName), second);
}

}  // namespace
