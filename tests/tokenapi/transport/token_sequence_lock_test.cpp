// TokenSequenceLock: one token's lock across a whole sequence, shared with
// the per-command device mutex, never gone past unlocked, taken over from a
// holder that ended.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tokenapi/transport/device_mutex_hold.h"
#include "tokenapi/transport/device_names.h"
#include "tokenapi/transport/token_sequence_lock.h"

namespace {

using merro::transport::DevMutexHold;
using merro::transport::kTokenBusy;
using merro::transport::TokenSequenceLock;

// A device path of its own per test, and the device mutex an open token
// context keeps for it.
struct OpenToken {
  explicit OpenToken(const char* tag) {
    path = std::string("\\\\?\\usbstor#cdrom&ven_m&prod_t&rev_1.00#seq-") + tag + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
           "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
    std::string name;
    EXPECT_EQ(merro::transport::DeviceMutexNameFromPath(path, &name),
              merro::transport::MutexNameError::None);
    std::snprintf(ctx.szMutexName, sizeof ctx.szMutexName, "%s", name.c_str());
    EXPECT_EQ(MerroCreateMutex(&ctx), 0);
  }
  ~OpenToken() { MerroCloseMutex(&ctx); }
  std::string path;
  DEV_CTX ctx{};
};

// Whether another thread gets the lock within waitMs.
HRESULT TakeOnAnotherThread(const std::string& path, DWORD waitMs, bool* pAbandoned = nullptr) {
  HRESULT hr = static_cast<HRESULT>(0x80004005);
  std::thread other([&] {
    TokenSequenceLock lock;
    hr = lock.Take(path.c_str(), waitMs);
    if (pAbandoned != nullptr) {
      *pAbandoned = lock.WasAbandoned();
    }
  });
  other.join();
  return hr;
}

TEST(TokenSequenceLock, OtherSequencesWaitAndSingleCommandsGoOn) {
  OpenToken token("nest");
  {
    TokenSequenceLock lock;
    ASSERT_EQ(lock.Take(token.path.c_str()), S_OK);
    EXPECT_TRUE(lock.Held());
    EXPECT_EQ(lock.Take(token.path.c_str()), S_OK);  // a second take holds nothing more
    {
      TokenSequenceLock inner;  // a nested sequence of the same thread
      EXPECT_EQ(inner.TakeByMutexName(token.ctx.szMutexName, 50), S_OK);
    }
    // Another thread's sequence does not go on unlocked.
    EXPECT_EQ(TakeOnAnotherThread(token.path, 50), kTokenBusy);
    // A single command of another thread (a confirmation's worker sending
    // the sequence's command) gets the device mutex.
    std::thread command([&] {
      DevMutexHold hold;
      EXPECT_EQ(hold.Wait(token.ctx.szMutexName, 50), S_OK);
      EXPECT_TRUE(hold.Held());
    });
    command.join();
  }
  EXPECT_EQ(TakeOnAnotherThread(token.path, 50), S_OK);
}

TEST(TokenSequenceLock, AHolderThatEndedIsTakenOver) {
  OpenToken token("dead");
  // Kept open, as a process waiting for the token would keep it: the lock
  // outlives its holder.
  const auto waiting = merro::platform::NamedMutex::Create(
      merro::transport::TokenSequenceLockName(token.ctx.szMutexName));
  ASSERT_TRUE(waiting);
  std::thread holder([&] {
    // Taken and never given back: the thread ends holding it.
    const auto mutex = merro::platform::NamedMutex::Create(
        merro::transport::TokenSequenceLockName(token.ctx.szMutexName));
    ASSERT_TRUE(mutex);
    ASSERT_EQ(mutex->Wait(50), merro::platform::WaitResult::Acquired);
  });
  holder.join();
  bool abandoned = false;
  EXPECT_EQ(TakeOnAnotherThread(token.path, 1000, &abandoned), S_OK);
  EXPECT_TRUE(abandoned);
}

TEST(TokenSequenceLock, ANameWithoutTheInstancePartIsRefused) {
  for (const char* name : {"\\\\?\\usbstor#cdrom&rev_1.00", "no-device", static_cast<const char*>(nullptr)}) {
    TokenSequenceLock lock;
    EXPECT_EQ(lock.Take(name), static_cast<HRESULT>(0x80070057)) << (name ? name : "null");
    EXPECT_FALSE(lock.Held());
  }
}

}  // namespace
