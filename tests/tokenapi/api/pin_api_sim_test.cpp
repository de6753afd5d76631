// PIN entry points against the in-process simulator: the lengths the checks
// let through reach the token; the context is one OpenDevice made.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tests/tokenapi/api/api_test_support.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/transport/merro_transport.h"

namespace {

using merro::apitest::TraceLines;

constexpr HRESULT kWrongPin5Left = static_cast<HRESULT>(0x800063C5);

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }
BYTE Len(const std::string& s) { return static_cast<BYTE>(s.size()); }

class PinApiSim : public merro::testing::SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    Control("provision 0");
    ASSERT_EQ(OpenDevice(m_sim->DevicePath(0).c_str(), &m_ctx), 0);
  }
  void TearDown() override {
    EXPECT_EQ(CloseDevice(m_ctx), 0);
    SimulatorTest::TearDown();
  }
  DEV_CTX* m_ctx = nullptr;
};

// 6 and 16 bytes pass the length checks of all three PIN commands and reach
// the token, which judges the PIN.
TEST_F(PinApiSim, LengthsSixAndSixteenReachTheToken) {
  const std::string factory = "905172";
  const std::string longPin = "0123456789abcdef";
  {
    TraceLines trace;
    EXPECT_EQ(VerifyPIN(m_ctx, 1, Bytes(longPin), Len(longPin)), kWrongPin5Left);
    EXPECT_TRUE(trace.Has("VerifyPIN - CHECK nPinLen"));
    EXPECT_EQ(trace.FirstFailure("VerifyPIN")->text, "VerifyPIN - mr_VerifyPIN");
  }
  ASSERT_EQ(VerifyPIN(m_ctx, 1, Bytes(factory), Len(factory)), 0);
  ASSERT_EQ(ChangePIN(m_ctx, 1, Bytes(factory), Len(factory), Bytes(longPin), Len(longPin)), 0);
  ASSERT_EQ(VerifyPIN(m_ctx, 1, Bytes(longPin), Len(longPin)), 0);
  ASSERT_EQ(ChangePIN(m_ctx, 1, Bytes(longPin), Len(longPin), Bytes(factory), Len(factory)), 0);
  ASSERT_EQ(UnlockPIN(m_ctx, 1, Bytes(factory), Len(factory), Bytes(longPin), Len(longPin)), 0);
  ASSERT_EQ(VerifyPIN(m_ctx, 1, Bytes(longPin), Len(longPin)), 0);

  BYTE times = 0, status = 0, modified = 0;
  ASSERT_EQ(GetPINStatus(m_ctx, 1, &times, &status, &modified), 0);
  EXPECT_EQ(status, 0x11);
}

// The host-only calls take no device mutex: they run while another thread
// holds it for a token command.
TEST_F(PinApiSim, HashAndCipherUpdatesRunWhileTheMutexIsHeld) {
  HASH_HANDLE* hash = nullptr;
  ASSERT_EQ(HashInit(m_ctx, MR_ALG_SM3, &hash), 0);
  BYTE key[16] = {1, 2, 3};
  SYMKEY_HANDLE* cipher = nullptr;
  ASSERT_EQ(SymKeyInit(m_ctx, MR_ALG_SM4, MR_CRYPTO_ENC, MR_MODE_ECB, key, nullptr, &cipher), 0);

  std::mutex lock;
  std::condition_variable changed;
  bool held = false;
  bool done = false;
  std::thread holder([&] {
    bool acquired = false;
    merro::transport::WaitDevMutexHeld(m_ctx->szMutexName, 1000, &acquired);
    std::unique_lock<std::mutex> guard(lock);
    held = acquired;
    changed.notify_all();
    changed.wait(guard, [&] { return done; });
    if (acquired) {
      MerroReleaseMutex(m_ctx->szMutexName);
    }
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return held; });
  }
  const BYTE data[32] = {};
  BYTE out[64];
  DWORD outLen = sizeof out;
  EXPECT_EQ(HashUpdate(hash, data, sizeof data), 0);
  EXPECT_EQ(HashFinal(hash, out, &outLen), 0);
  outLen = sizeof out;
  EXPECT_EQ(SymKeyUpdate(cipher, data, sizeof data, out, &outLen), 0);
  outLen = sizeof out;
  EXPECT_EQ(SymKeyFinal(cipher, out, &outLen), 0);
  {
    std::lock_guard<std::mutex> guard(lock);
    done = true;
  }
  changed.notify_all();
  holder.join();
}

// A name that is no token's device path opens nothing.
TEST_F(PinApiSim, FailedOpenHandsOutNoContext) {
  DEV_CTX* other = m_ctx;
  EXPECT_LT(OpenDevice("not a device path", &other), 0);
  EXPECT_EQ(other, nullptr);
}

}  // namespace
