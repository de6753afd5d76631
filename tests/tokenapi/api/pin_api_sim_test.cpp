// PIN entry points against the in-process simulator: the lengths the checks
// let through reach the token; the context is one OpenDevice made.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/tokenapi/api/api_test_support.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/sim/sim_transport.h"
#include "tokensim/inproc/inproc_channel.h"

namespace {

using merro::apitest::TraceLines;

constexpr HRESULT kWrongPin5Left = static_cast<HRESULT>(0x800063C5);
constexpr HRESULT kCancelled = static_cast<HRESULT>(0x8000FF06);
constexpr HRESULT kNoAnswer = static_cast<HRESULT>(0x8000FF07);

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

// With few tries left VERIFY PIN waits for the token's button within its
// exchange. A held button keeps it waiting, with no answer, until the test
// releases it; meanwhile the simulator serves control commands and the
// other token, and the command log shows what the token received.
TEST_F(PinApiSim, AHeldButtonKeepsVerifyWaitingUntilReleased) {
  const std::string pin = "905172";
  ASSERT_EQ(CloseDevice(m_ctx), 0);
  Control("provision 0 retry 3");
  ASSERT_EQ(OpenDevice(m_sim->DevicePath(0).c_str(), &m_ctx), 0);
  // A watchdog: no hold outlasts the test.
  m_sim->WithToken(0, [](merro::tokensim::Token& t) { t.Screen().SetHoldLimit(std::chrono::seconds(10)); });
  const auto factory = merro::tokensim::InProcessChannelFactory(m_sim);
  std::vector<std::uint8_t> log;
  ASSERT_EQ(merro::sim::SimCommandLog(factory, 0, &log, true), 0);
  EXPECT_FALSE(log.empty()) << "the open's reset and authentication";

  for (const auto& c : {std::make_pair("ok", HRESULT{0}), std::make_pair("cancel", kCancelled)}) {
    SCOPED_TRACE(c.first);
    Control("display 0 clear");
    Control("button 0 hold");
    std::atomic<bool> done{false};
    HRESULT result = 1;
    std::thread verifier([&] {
      result = VerifyPIN(m_ctx, 1, Bytes(pin), Len(pin));
      done = true;
    });
    bool shown = false;
    for (int i = 0; i < 500 && !shown; ++i) {
      shown = Control("display 0").find("VERIFY PIN") != std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(shown);
    DEV_CTX* other = OpenToken(1);
    BYTE sn[9];
    DWORD snLen = sizeof sn;
    EXPECT_EQ(mr_GetChipSN(other, sn, &snLen), 0) << "the other token works meanwhile";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done) << "no answer while the button is held";
    Control("button 0 release " + std::string(c.first));
    verifier.join();
    EXPECT_EQ(result, c.second);
  }
  ASSERT_EQ(merro::sim::SimCommandLog(factory, 0, &log, true), 0);
  EXPECT_EQ(log, (std::vector<std::uint8_t>{0x84, 0x20, 0x84, 0x20})) << "challenge, VERIFY, twice";

  // Not released: after the hold limit the token gives up (FF07).
  m_sim->WithToken(0, [](merro::tokensim::Token& t) {
    t.Screen().SetHoldLimit(std::chrono::milliseconds(200));
  });
  Control("button 0 hold");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(VerifyPIN(m_ctx, 1, Bytes(pin), Len(pin)), kNoAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
}

}  // namespace
