// Leases on real token contexts: a context a borrower holds outlives the
// refresh that retires it, stays open, and is closed when the lease goes.
#include <string>

#include "tests/device/device_daemon_fixture.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

using device::DevCtxLease;

using Leases = PreparedDevices;

TEST_F(Leases, ALeasedContextOutlivesTheRefresh) {
  DevCtxLease lease;
  ASSERT_EQ(m_handle.LendDevCtx(m_dev0.c_str(), &lease), S_OK);
  DEV_CTX* leased = lease.get();
  ASSERT_EQ(leased, m_handle.m_vtrDeviceSet[0].pDevCtx());
  EXPECT_TRUE(lease.IsCurrent());

  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  EXPECT_FALSE(lease.IsCurrent());
  EXPECT_NE(m_handle.m_vtrDeviceSet[0].pDevCtx(), leased);
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 1u);  // token 1's old context only

  // Still allocated and open: a command on it is answered.
  BYTE label[260] = {};
  DWORD length = sizeof label;
  EXPECT_EQ(GetTokenSN(lease.get(), label, &length), S_OK);

  lease.reset();
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 2u);
  // The new context is the token's current one.
  ASSERT_EQ(m_handle.LendDevCtx(m_dev0.c_str(), &lease), S_OK);
  EXPECT_TRUE(lease.IsCurrent());
  EXPECT_EQ(lease.get(), m_handle.m_vtrDeviceSet[0].pDevCtx());
}

// A borrower as the token-hashing key context is one: it checks its lease
// before each command it starts.
HRESULT BorrowerCommand(const DevCtxLease& lease) {
  if (!lease.IsCurrent()) {
    return NTE_BAD_HASH_STATE;
  }
  BYTE label[260] = {};
  DWORD length = sizeof label;
  return GetTokenSN(lease.get(), label, &length);
}

TEST_F(Leases, ABorrowerThatChecksSendsNothingOnAStaleContext) {
  DevCtxLease lease;
  ASSERT_EQ(m_handle.LendDevCtx(m_dev0.c_str(), &lease), S_OK);
  DeviceBench::CommandLog(0, true);
  EXPECT_EQ(BorrowerCommand(lease), S_OK);
  EXPECT_FALSE(DeviceBench::CommandLog(0, true).empty());  // the control: a current lease sends

  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  DeviceBench::CommandLog(0, true);
  EXPECT_EQ(BorrowerCommand(lease), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty());
}

TEST_F(Leases, UnInitializeLeavesALeasedContextToItsBorrower) {
  DevCtxLease lease;
  ASSERT_EQ(m_handle.LendDevCtx(m_dev0.c_str(), &lease), S_OK);
  ASSERT_EQ(m_handle.UnInitialize(), S_OK);
  EXPECT_FALSE(lease.IsCurrent());
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 1u);
  lease.reset();
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 2u);
}

TEST_F(Leases, OnlyListedTokensAreLent) {
  DevCtxLease lease;
  ASSERT_EQ(m_handle.LendDevCtx(m_dev0.c_str(), &lease), S_OK);
  EXPECT_EQ(m_handle.LendDevCtx(DeviceBench::DeviceName(2).c_str(), &lease), NTE_NO_KEY);
  EXPECT_FALSE(lease);  // the old lease was given back
  EXPECT_EQ(m_handle.LendDevCtx(nullptr, &lease), E_INVALIDARG);
  EXPECT_EQ(m_handle.LendDevCtx(m_dev0.c_str(), nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace merro::testing
