// Device entry points against the in-process simulator.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/tokenapi/api/api_test_support.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/api/token_api.h"

namespace {

using Bytes = std::vector<BYTE>;
using merro::apitest::TraceLines;

class DeviceApiSim : public merro::testing::SimulatorTest {
 protected:
  Bytes TokenChallenge(size_t i) {
    Bytes c;
    m_sim->WithToken(i, [&](merro::tokensim::Token& t) { c = t.Challenge(); });
    return c;
  }
};

// RANDOM_FLAG_KEY asks the token (its GET CHALLENGE answer comes back);
// every other flag draws on the host (bytes 1 to 254, the token untouched).
// The device mutex is taken for both sources; 1 and 128 bytes are accepted.
TEST_F(DeviceApiSim, GenerateRandomChoosesItsSourceByFlag) {
  DEV_CTX* ctx = OpenToken(0);
  struct Case {
    BYTE flag;
    BYTE len;
    bool fromToken;
  } const cases[] = {
      {RANDOM_FLAG_KEY, 1, true},   {RANDOM_FLAG_KEY, 128, true},   {0, 128, false},
      {RANDOM_FLAG_SOFT, 1, false}, {RANDOM_FLAG_SOFT, 128, false}, {0xFF, 16, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flag " << int(c.flag) << " len " << int(c.len));
    m_sim->WithToken(0, [](merro::tokensim::Token& t) { t.Challenge().clear(); });
    TraceLines trace;
    Bytes out(c.len + 1, 0);
    ASSERT_EQ(GenerateRandom(ctx, c.flag, c.len, out.data()), 0);
    EXPECT_EQ(out[c.len], 0) << "nothing written past the bytes asked for";
    out.resize(c.len);
    EXPECT_TRUE(trace.Has("GenerateRandom - MerroWaitDevMutex"));
    EXPECT_TRUE(trace.Has("GenerateRandom - mr_GenRandom"));
    if (c.fromToken) {
      EXPECT_EQ(out, TokenChallenge(0));
    } else {
      EXPECT_TRUE(TokenChallenge(0).empty());
      for (BYTE b : out) {
        EXPECT_TRUE(b >= 1 && b <= 254);
      }
    }
  }
}

TEST_F(DeviceApiSim, SerialNumbersInfoAndRawFrames) {
  DEV_CTX* ctx = OpenToken(1);
  BYTE sn[MR_CHIP_SN_LEN + 1] = {};
  DWORD snLen = sizeof sn;
  ASSERT_EQ(GetChipSN(ctx, sn, &snLen), 0);
  EXPECT_EQ(snLen, MR_CHIP_SN_LEN);

  // The same command as a caller-built frame: GET CHIP SN, Le 8.
  const BYTE frame[6] = {0xB0, 0x93, 0x00, 0x00, 0x00, 0x08};
  BYTE reply[256];
  DWORD replyLen = sizeof reply;
  ASSERT_EQ(SendAPDUCommand(ctx, frame, sizeof frame, reply, &replyLen), 0);
  ASSERT_EQ(replyLen, MR_CHIP_SN_LEN);
  EXPECT_EQ(std::memcmp(reply, sn, MR_CHIP_SN_LEN), 0);

  DEVICE_INFO info{};
  info.Mask = MR_DEVINFO_PART01 | MR_DEVINFO_COS_VERSION;
  ASSERT_EQ(GetDeviceInfo(ctx, &info), 0);
  EXPECT_EQ(info.dwPart01Len, 4u);
  EXPECT_STRNE(info.szCosVersion, "");
  EXPECT_EQ(ResetDevice(ctx), 0);
  EXPECT_EQ(AdjustClock(ctx), 0);
}

// The label forwards behave exactly as what they forward to.
TEST_F(DeviceApiSim, DevLabelForwardsToTokenSN) {
  DEV_CTX* ctx = OpenToken(0);
  const BYTE first[] = {'L', 'A', 'B', '1'};
  ASSERT_EQ(SetDevLabel(ctx, first, sizeof first), 0);
  BYTE a[MR_TOKEN_SN_MAX + 1] = {};
  BYTE b[MR_TOKEN_SN_MAX + 1] = {};
  DWORD aLen = sizeof a;
  DWORD bLen = sizeof b;
  ASSERT_EQ(GetTokenSN(ctx, a, &aLen), 0);
  ASSERT_EQ(GetDevLabel(ctx, b, &bLen), 0);
  EXPECT_EQ(aLen, sizeof first);
  EXPECT_EQ(bLen, aLen);
  EXPECT_EQ(std::memcmp(a, first, sizeof first), 0);
  EXPECT_EQ(std::memcmp(a, b, aLen), 0);

  // Both refuse a short buffer alike.
  DWORD shortA = 2;
  DWORD shortB = 2;
  const HRESULT hrA = GetTokenSN(ctx, a, &shortA);
  EXPECT_EQ(GetDevLabel(ctx, b, &shortB), hrA);
  EXPECT_EQ(static_cast<std::uint32_t>(hrA), 0x80070003u);
  EXPECT_EQ(shortA, shortB);

  const BYTE second[] = {'X', 'Y'};
  ASSERT_EQ(SetTokenSN(ctx, second, sizeof second), 0);
  bLen = sizeof b;
  ASSERT_EQ(GetDevLabel(ctx, b, &bLen), 0);
  EXPECT_EQ(bLen, sizeof second);
}

// A status word from the token reaches the caller as it is; the device
// mutex is free again after the failure.
TEST_F(DeviceApiSim, FailedRoutineReleasesTheMutex) {
  DEV_CTX* ctx = OpenToken(0);
  Control("fault 0 sw 6A82 count 1");
  TraceLines trace;
  BYTE sn[16];
  DWORD snLen = sizeof sn;
  EXPECT_EQ(static_cast<std::uint32_t>(GetChipSN(ctx, sn, &snLen)), 0x80006A82u);
  const auto* failure = trace.FirstFailure("GetChipSN");
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->text, "GetChipSN - mr_GetChipSN");
  EXPECT_TRUE(merro::apitest::MutexFreeForOtherThread(ctx->szMutexName));
}

}  // namespace
