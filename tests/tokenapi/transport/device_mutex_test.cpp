// The device mutex calls: create, wait, release, and the two-minute rule.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tokenapi/transport/merro_transport.h"

namespace {

std::string UniqueName(const char* tag) {
  return std::string("merro-t3-") + tag + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

DEV_CTX ContextNamed(const std::string& name) {
  DEV_CTX ctx{};
  std::memcpy(ctx.szMutexName, name.c_str(), name.size() + 1);
  return ctx;
}

TEST(DeviceMutex, WaitAndReleaseByName) {
  DEV_CTX ctx = ContextNamed(UniqueName("basic"));
  ASSERT_EQ(MerroCreateMutex(&ctx), 0);
  ASSERT_NE(ctx.hMutex, nullptr);
  EXPECT_EQ(MerroWaitDevMutex(ctx.szMutexName), 0);
  EXPECT_EQ(MerroWaitDevMutex(ctx.szMutexName), 0);  // re-entrant for its owner
  EXPECT_EQ(MerroReleaseMutex(ctx.szMutexName), 0);
  EXPECT_EQ(MerroReleaseMutex(ctx.szMutexName), 0);
  EXPECT_LT(MerroReleaseMutex(ctx.szMutexName), 0);  // no longer the owner
  EXPECT_EQ(MerroCloseMutex(&ctx), 0);
  EXPECT_EQ(ctx.hMutex, nullptr);
}

TEST(DeviceMutex, AMissingMutexIsAnError) {
  const std::string name = UniqueName("absent");
  EXPECT_EQ(MerroWaitDevMutex(name.c_str()), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(MerroReleaseMutex(name.c_str()), static_cast<HRESULT>(0x80070002));
}

TEST(DeviceMutex, ATimedOutWaitLetsTheCommandGoOn) {
  DEV_CTX ctx = ContextNamed(UniqueName("timeout"));
  ASSERT_EQ(MerroCreateMutex(&ctx), 0);
  ASSERT_EQ(MerroWaitDevMutex(ctx.szMutexName), 0);
  std::thread other([&] {
    // Held by the main thread: the bounded wait ends and reports success.
    EXPECT_EQ(merro::transport::WaitDevMutexFor(ctx.szMutexName, 50), 0);
    EXPECT_LT(MerroReleaseMutex(ctx.szMutexName), 0);  // never owned it
  });
  other.join();
  EXPECT_EQ(MerroReleaseMutex(ctx.szMutexName), 0);
  MerroCloseMutex(&ctx);
}

}  // namespace
