// DevMutexHold releases only what its wait took.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tokenapi/transport/device_mutex_hold.h"

namespace {

using merro::transport::DevMutexHold;

struct NamedContext {
  explicit NamedContext(const char* tag) {
    const std::string name = std::string("merro-hold-") + tag + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    std::memcpy(ctx.szMutexName, name.c_str(), name.size() + 1);
    EXPECT_EQ(MerroCreateMutex(&ctx), 0);
  }
  ~NamedContext() { MerroCloseMutex(&ctx); }
  DEV_CTX ctx{};
};

TEST(DevMutexHold, ReleasesItsOwnHoldAndLeavesTheOuterOne) {
  NamedContext c("nested");
  ASSERT_EQ(MerroWaitDevMutex(c.ctx.szMutexName), 0);  // the outer hold
  {
    DevMutexHold hold;
    ASSERT_EQ(hold.Wait(c.ctx.szMutexName), 0);
    EXPECT_TRUE(hold.Held());
  }
  // The outer hold is still in force: exactly one release succeeds.
  EXPECT_EQ(MerroReleaseMutex(c.ctx.szMutexName), 0);
  EXPECT_LT(MerroReleaseMutex(c.ctx.szMutexName), 0);
}

TEST(DevMutexHold, ATimedOutOrFailedWaitReleasesNothing) {
  NamedContext c("timeout");
  ASSERT_EQ(MerroWaitDevMutex(c.ctx.szMutexName), 0);
  std::thread other([&] {
    DevMutexHold hold;
    EXPECT_EQ(hold.Wait(c.ctx.szMutexName, 30), 0);  // goes on unserialised
    EXPECT_FALSE(hold.Held());
    EXPECT_EQ(hold.Release(), 0);                      // nothing to give back
  });
  other.join();
  EXPECT_EQ(MerroReleaseMutex(c.ctx.szMutexName), 0);

  DevMutexHold missing;
  EXPECT_EQ(missing.Wait("merro-hold-no-such-mutex"), static_cast<HRESULT>(0x80070002));
  EXPECT_FALSE(missing.Held());
  EXPECT_EQ(missing.Wait(nullptr), static_cast<HRESULT>(0x80070057));
}

}  // namespace
