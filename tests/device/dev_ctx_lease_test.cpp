// Token contexts owned by count, with a closer that frees the context: under
// AddressSanitizer any touch of a context after its close is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "device/dev_ctx_lease.h"
#include "device/device_item.h"
#include "device/device_lists.h"

namespace {

using merro::device::DevCtxLease;
using merro::device::DevCtxRef;
using merro::device::DeviceItem;

std::vector<DEV_CTX*> g_closed;

HRESULT FreeingCloser(DEV_CTX* ctx) {
  g_closed.push_back(ctx);
  delete ctx;
  return static_cast<HRESULT>(0x80070015);  // a result the test can recognise
}

class Leases : public ::testing::Test {
 protected:
  void SetUp() override { g_closed.clear(); }
  static DEV_CTX* NewContext(BYTE marker) {
    auto* ctx = new DEV_CTX{};
    ctx->bySMState = marker;
    return ctx;
  }
  static bool Closed(const DEV_CTX* ctx) {
    return std::find(g_closed.begin(), g_closed.end(), ctx) != g_closed.end();
  }
  // A device list of n tokens as the device object keeps it.
  static std::vector<DeviceItem> List(int n) {
    std::vector<DeviceItem> list(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      list[i].spDevCtx =
          merro::device::AdoptDevCtx(NewContext(static_cast<BYTE>(i + 1)), &FreeingCloser);
    }
    return list;
  }
};

TEST_F(Leases, WithoutBorrowersARefreshClosesAtOnce) {
  std::vector<DeviceItem> list = List(2);
  DEV_CTX* first = list[0].pDevCtx();
  EXPECT_EQ(merro::device::DropListReference(list[0].spDevCtx), static_cast<HRESULT>(0x80070015));
  EXPECT_TRUE(Closed(first));
  EXPECT_FALSE(list[0].spDevCtx);
  merro::device::ReleaseDeviceList(&list);
  EXPECT_EQ(g_closed.size(), 2u);
  EXPECT_TRUE(list.empty());
}

TEST_F(Leases, ALeasedContextOutlivesTheRefreshAndClosesWithItsLastLease) {
  std::vector<DeviceItem> list = List(2);
  DEV_CTX* leased = list[1].pDevCtx();
  DevCtxLease lease(list[1].spDevCtx);
  ASSERT_TRUE(lease.IsCurrent());

  merro::device::ReleaseDeviceList(&list);  // the refresh drops the list's references
  EXPECT_EQ(g_closed.size(), 1u);           // only the token nobody borrowed
  EXPECT_FALSE(Closed(leased));
  EXPECT_FALSE(lease.IsCurrent());
  ASSERT_EQ(lease.get(), leased);
  EXPECT_EQ(lease.get()->bySMState, 2);  // still allocated

  // The refreshed list opens a new context for the token.
  std::vector<DeviceItem> refreshed = List(1);
  EXPECT_NE(refreshed[0].pDevCtx(), leased);
  EXPECT_TRUE(refreshed[0].spDevCtx->IsCurrent());

  DevCtxLease copy = lease;
  lease.reset();
  EXPECT_FALSE(Closed(leased));  // a copy still borrows it
  EXPECT_EQ(copy.get()->bySMState, 2);
  copy.reset();
  EXPECT_TRUE(Closed(leased));
  EXPECT_FALSE(copy);
  EXPECT_FALSE(copy.IsCurrent());
  merro::device::ReleaseDeviceList(&refreshed);
}

TEST_F(Leases, ACopiedListKeepsItsContextsOpen) {
  std::vector<DeviceItem> list = List(2);
  std::vector<DeviceItem> shown = list;  // as handed to the selection dialog
  merro::device::ReleaseDeviceList(&list);
  EXPECT_TRUE(g_closed.empty());
  EXPECT_EQ(shown[0].pDevCtx()->bySMState, 1);
  EXPECT_FALSE(shown[0].spDevCtx->IsCurrent());
  shown.clear();
  EXPECT_EQ(g_closed.size(), 2u);
}

TEST_F(Leases, ALeaseGivenBackOnAnotherThreadClosesOnce) {
  std::vector<DeviceItem> list = List(1);
  DEV_CTX* ctx = list[0].pDevCtx();
  DevCtxLease lease(list[0].spDevCtx);
  std::thread worker([held = std::move(lease)]() mutable {
    EXPECT_EQ(held.get()->bySMState, 1);
    held.reset();
  });
  merro::device::ReleaseDeviceList(&list);
  worker.join();
  EXPECT_EQ(std::count(g_closed.begin(), g_closed.end(), ctx), 1);
}

TEST_F(Leases, AdoptionOfNothingAndEmptyLeases) {
  EXPECT_EQ(merro::device::AdoptDevCtx(nullptr, &FreeingCloser), nullptr);
  DevCtxRef none;
  EXPECT_EQ(merro::device::DropListReference(none), S_OK);
  const DevCtxLease empty;
  EXPECT_EQ(empty.get(), nullptr);
  EXPECT_FALSE(empty.IsCurrent());
  EXPECT_TRUE(g_closed.empty());
}

}  // namespace
