// Selecting a token through the scripted UI, and finding tokens and
// containers by name after the device list was refreshed alone.
#include <string>
#include <vector>

#include "tests/device/device_daemon_fixture.h"

namespace merro::testing {
namespace {

using device::DeviceHandle;

// on 0 too), token 2 pulled.
class Selection : public DeviceDaemonTest {
 protected:
  void SetUp() override {
    DeviceDaemonTest::SetUp();
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_TRUE(DeviceBench::CreateContainers(0, {"zero", "both"}));
    ASSERT_TRUE(DeviceBench::Prepare(1));
    ASSERT_TRUE(DeviceBench::CreateContainers(1, {"one", "both"}));
    DeviceBench::Pull(2);
    m_dev0 = DeviceBench::DeviceName(0);
    m_dev1 = DeviceBench::DeviceName(1);
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
    ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 2u);
  }
  void TearDown() override {
    m_handle.UnInitialize();
    DeviceDaemonTest::TearDown();
  }
  void ExpectSelected(const std::string& name) {
    EXPECT_EQ(std::string(m_handle.m_szCurrentDeviceName), name);
    ASSERT_GE(m_handle.m_nCurrentDeviceIndex, 0);
    const device::DeviceItem& item = m_handle.m_vtrDeviceSet[m_handle.m_nCurrentDeviceIndex];
    EXPECT_EQ(std::string(item.szDeviceName), name);
    EXPECT_EQ(m_handle.m_lpCurrentDevice, item.pDevCtx());
  }

  DeviceHandle m_handle;
  std::string m_dev0, m_dev1;
};

TEST_F(Selection, OneTokenIsSelectedWithoutAPrompt) {
  DeviceBench::Pull(1);
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  ASSERT_EQ(m_handle.SelectDevice(), S_OK);
  ExpectSelected(m_dev0);
  EXPECT_TRUE(m_ui->Transcript().empty());
}

TEST_F(Selection, TwoTokensAskEachTimeWithTheirLabelsInOrder) {
  m_ui->Push("select 1");
  m_ui->Push("select 0");
  ASSERT_EQ(m_handle.SelectDevice(), S_OK);
  ExpectSelected(m_dev1);
  ASSERT_EQ(m_handle.SelectDevice(), S_OK);
  ExpectSelected(m_dev0);

  const auto prompts = m_ui->Transcript();
  ASSERT_EQ(prompts.size(), 2u);
  for (const auto& prompt : prompts) {
    EXPECT_EQ(prompt.kind, "select");
    EXPECT_EQ(prompt.names, (std::vector<std::string>{m_dev0, m_dev1}));
    ASSERT_EQ(prompt.labels.size(), 2u);
    EXPECT_EQ(prompt.labels[0], m_handle.m_vtrDeviceSet[0].szDeviceLabel);
    EXPECT_EQ(prompt.labels[1], m_handle.m_vtrDeviceSet[1].szDeviceLabel);
    EXPECT_NE(prompt.labels[0], prompt.labels[1]);
  }
}

TEST_F(Selection, ACancelOrARowOutsideTheListKeepsTheSelection) {
  m_ui->Push("select 1");
  ASSERT_EQ(m_handle.SelectDevice(), S_OK);
  for (const char* answer : {"cancel", "select 2", "select -1", "select 7"}) {
    m_ui->Push(answer);
    EXPECT_EQ(m_handle.SelectDevice(), SCARD_W_CANCELLED_BY_USER) << answer;
    ExpectSelected(m_dev1);
  }
  // No answer left: the unexpected prompt is a cancel too.
  EXPECT_EQ(m_handle.SelectDevice(), SCARD_W_CANCELLED_BY_USER);
  EXPECT_EQ(m_ui->Transcript().back().answer, "cancel (unexpected)");
  ExpectSelected(m_dev1);
}

TEST_F(Selection, ARefreshAloneFollowsTheSelectedTokenByName) {
  m_ui->Push("select 1");
  ASSERT_EQ(m_handle.SelectDevice(), S_OK);
  DEV_CTX* before = m_handle.m_lpCurrentDevice;

  DeviceBench::Pull(0);
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 1u);
  // Token 1 is now first in the list and has a new context.
  EXPECT_EQ(m_handle.m_nCurrentDeviceIndex, 0);
  ExpectSelected(m_dev1);
  EXPECT_NE(m_handle.m_lpCurrentDevice, before);

  // The container list was not rebuilt: its items still say token 1 is at
  // index 1, which now lies past the list. Look-ups go by name.
  device::ContainerItem* item = nullptr;
  DEV_CTX* ctx = nullptr;
  ASSERT_EQ(m_handle.ResolveContainer(m_dev1.c_str(), "one", &item, &ctx), S_OK);
  EXPECT_EQ(item->dwDeviceIndex, 1u);
  EXPECT_EQ(ctx, m_handle.m_vtrDeviceSet[0].pDevCtx());
  EXPECT_EQ(m_handle.ResolveContainer(m_dev0.c_str(), "zero", &item, &ctx), NTE_NO_KEY);
  EXPECT_EQ(m_handle.ResolveContainer(m_dev0.c_str(), "both", &item, &ctx), NTE_NO_KEY);
  DWORD index = 9;
  ASSERT_EQ(m_handle.ResolveDevice(m_dev1.c_str(), &index, &ctx), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(m_handle.ResolveDevice(m_dev0.c_str(), &index, &ctx), NTE_NO_KEY);

  // The selected token gone: no index, no context; the name stays.
  DeviceBench::Pull(1);
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  EXPECT_EQ(m_handle.m_nCurrentDeviceIndex, -1);
  EXPECT_EQ(m_handle.m_lpCurrentDevice, nullptr);
  EXPECT_EQ(std::string(m_handle.m_szCurrentDeviceName), m_dev1);

  // Both back and the container list rebuilt: the order of the token API.
  DeviceBench::Insert(0);
  DeviceBench::Insert(1);
  ASSERT_EQ(m_handle.UpdateContainer(), S_OK);
  ExpectSelected(m_dev1);
  EXPECT_EQ(m_handle.m_nCurrentDeviceIndex, 1);
  std::vector<std::string> containers;
  for (const device::ContainerItem& c : m_handle.m_vtrContainerSet) {
    containers.push_back(std::to_string(c.dwDeviceIndex) + ":" + c.pstContainer()->szContainerName);
  }
  EXPECT_EQ(containers, (std::vector<std::string>{"0:zero", "0:both", "1:one", "1:both"}));
  ASSERT_EQ(m_handle.ResolveContainer(m_dev0.c_str(), "both", &item, &ctx), S_OK);
  EXPECT_EQ(ctx, m_handle.m_vtrDeviceSet[0].pDevCtx());
}

}  // namespace
}  // namespace merro::testing
