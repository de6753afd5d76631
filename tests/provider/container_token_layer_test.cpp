// The token layer's start and stop: one device object however often it is
// started, a failed start that stays failed, and nothing else started with
// it (GDI+ under the loader lock could deadlock the provider's host).
#include <gtest/gtest.h>

#include "device/ui/gdiplus_session.h"
#include "provider/container.h"
#include "tests/provider/container_children.h"
#include "tests/provider/gdiplus_startup_counter.h"
#include "tests/provider/support/provider_bench.h"
#include "tests/support/child_process.h"

namespace merro::testing {
namespace {

using merro::provider::Container;

class TokenLayerTest : public ProviderBench {};

TEST_F(TokenLayerTest, StartsOnceAndStopsOnce) {
  ASSERT_EQ(g_pDeviceHandle, nullptr);
  ASSERT_EQ(Container::TokenInitialize(m_settings), S_OK);
  merro::device::DeviceHandle* first = g_pDeviceHandle;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->m_vtrDeviceSet.size(), 2u);
  EXPECT_STREQ(first->m_wszProviderName, m_providerName.c_str());

  // A second start keeps the first device object and its settings.
  ProviderSettings other = m_settings;
  other.dwDefaultPINCheck = 0;
  EXPECT_EQ(Container::TokenInitialize(other), S_OK);
  EXPECT_EQ(g_pDeviceHandle, first);
  EXPECT_EQ(g_pDeviceHandle->m_dwDefaultPINCheck, 1u);

  EXPECT_EQ(Container::TokenUninitialize(), S_OK);
  EXPECT_EQ(g_pDeviceHandle, nullptr);
  EXPECT_EQ(Container::TokenUninitialize(), S_OK);
  EXPECT_EQ(g_pDeviceHandle, nullptr);

  // And it starts again after a stop.
  ASSERT_EQ(Container::TokenInitialize(m_settings), S_OK);
  EXPECT_NE(g_pDeviceHandle, nullptr);
}

// A start that cannot reach the tokens leaves no device object, and the
// layer stays failed for the process: a new start answers S_OK without one,
// the stop answers E_FAIL. (In a child: the failure is for good.)
TEST_F(TokenLayerTest, AFailedStartStaysFailedForItsProcess) {
  ChildProcess child = ChildProcess::StartSelf({kClosedPortChildFlag});
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(TokenLayerTest, StartsNoGdiplus) {
  GdiplusStartupCounter counter;
  ASSERT_TRUE(counter.Installed()) << "the program does not import GdiplusStartup";
  {
    // The counter sees a real start: a picture dialog's session.
    merro::ui::GdiplusSession session;
    EXPECT_TRUE(session.Started());
  }
  ASSERT_EQ(counter.Count(), 1);

  ASSERT_TRUE(StartTokenLayer());
  EXPECT_EQ(Container::TokenInitialize(m_settings), S_OK);
  StopTokenLayer();
  EXPECT_EQ(counter.Count(), 1) << "the token layer started GDI+";
}

}  // namespace
}  // namespace merro::testing
