// The device key objects against the in-process simulator: the shared
// scenarios (key_object_scenarios.h) with keys placed straight into the
// token, and the device mutex shared with another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/tokenapi/keyobjects/key_object_scenarios.h"
#include "tests/tokenapi/keyobjects/sim_keys.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/keyobjects/asym_key_object.h"
#include "tokenapi/transport/merro_transport.h"

namespace {

using merro::testing::Bytes;

constexpr WORD kSm2Fid = 0xC004;

class KeyObjectsSim : public merro::testing::SimulatorTest {
 protected:
  size_t TokenCount() const override { return 1; }
  void SetUp() override {
    SimulatorTest::SetUp();
    merro::commands::SetResultPollSleep([](DWORD) {});
    m_ctx = OpenToken(0);
  }
  void TearDown() override {
    merro::commands::SetResultPollSleep(nullptr);
    SimulatorTest::TearDown();
  }
  merro::testing::KeyObjectEnv Env() {
    return {m_ctx, "0", [this](const std::string& command) { return Control(command); },
            [this](WORD fid, BYTE type) { return merro::testing::PlaceKey(*m_sim, 0, fid, type); }};
  }

  DEV_CTX* m_ctx = nullptr;
};

TEST_F(KeyObjectsSim, Sm2HashedAcrossAuthSessionAndPin) {
  Control("provision 0");
  merro::testing::Sm2HashedAcrossAuthSessionAndPin(Env());
}
TEST_F(KeyObjectsSim, DigestSignatures) { merro::testing::DigestSignatures(Env()); }
TEST_F(KeyObjectsSim, DisplaySigning) { merro::testing::DisplaySigning(Env()); }
TEST_F(KeyObjectsSim, InterleavedSequencesAreRefused) {
  merro::testing::InterleavedSequencesAreRefused(Env());
}
TEST_F(KeyObjectsSim, EncryptDecrypt) { merro::testing::EncryptDecrypt(Env()); }

TEST_F(KeyObjectsSim, AnotherHolderOfTheDeviceMutexMakesTheSignatureWait) {
  ASSERT_TRUE(merro::testing::PlaceKey(*m_sim, 0, kSm2Fid, MR_ALG_SM2));
  void* key = nullptr;
  ASSERT_EQ(CAsymKeyObject::AsymKeyInit(m_ctx, MR_ALG_SM2, kSm2Fid, &key), 0);
  std::atomic<bool> held{false};
  std::atomic<bool> released{false};
  std::atomic<bool> go{false};
  std::thread holder([&] {
    ASSERT_EQ(MerroWaitDevMutex(m_ctx->szMutexName), 0);
    held = true;
    while (!go) {
      std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    released = true;
    MerroReleaseMutex(m_ctx->szMutexName);
  });
  while (!held) {
    std::this_thread::yield();
  }
  go = true;
  const Bytes e(32, 3);
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(CAsymKeyObject::PrikeySign(key, 0, 0, e.data(), 32, sig, &sigLen), 0);
  EXPECT_TRUE(released);  // it could only run after the holder let go
  holder.join();
  // Nothing is left held: another thread takes the mutex at once.
  std::thread after([&] {
    EXPECT_EQ(merro::transport::WaitDevMutexFor(m_ctx->szMutexName, 0), 0);
    EXPECT_EQ(MerroReleaseMutex(m_ctx->szMutexName), 0);
  });
  after.join();
  CAsymKeyObject::AsymKeyFinal(key);
}

}  // namespace
