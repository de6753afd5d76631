// The library against the merro-tokensim daemon over TCP, natively and from
// the Windows build under Wine. Run by run-with-tokensim, which starts the
// daemon with two tokens and sets MERRO_TOKEN_SIM.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/tokenapi/support/file_description.h"
#include "tests/tokenapi/support/test_context.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/flash_commands.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/sim/sim_transport.h"

namespace {

using Bytes = std::vector<BYTE>;
using merro::testing::CloseTestContext;
using merro::testing::FileDescription;
using merro::testing::ListTokens;
using merro::testing::OpenTestContext;

constexpr WORD kSharedFile = 0x0A01;
constexpr char kChildStart[16] = "child-start";
constexpr char kChildEnd[16] = "child-end";

std::string Control(const std::string& command) {
  std::string answer;
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  EXPECT_EQ(merro::sim::SimControl(merro::sim::TcpChannelFactory(sim ? sim : ""), command, &answer), 0)
      << command << ": " << answer;
  return answer;
}

HRESULT SelectShared(DEV_CTX* ctx) {
  BYTE info[MR_FILE_INFO_LEN];
  DWORD len = sizeof info;
  return mr_SelectFile(ctx, MR_SELECT_BY_ID, kSharedFile, info, &len);
}

class TokenSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    m_tokens = ListTokens();
    ASSERT_EQ(m_tokens.size(), 2u);
  }
  std::vector<std::string> m_tokens;
};

TEST_F(TokenSim, ListsTwoDistinctTokens) {
  EXPECT_NE(m_tokens[0], m_tokens[1]);
  for (const std::string& name : m_tokens) {
    DWORD high = 0, low = 0;
    EXPECT_EQ(mr_IsMERRO(name.c_str(), &high, &low), 0) << name;
    DEV_CTX ctx;
    ASSERT_EQ(OpenTestContext(name, &ctx), 0);
    CloseTestContext(&ctx);
  }
}

TEST_F(TokenSim, DeviceInformationFilesAndFlash) {
  DEV_CTX ctx;
  ASSERT_EQ(OpenTestContext(m_tokens[0], &ctx), 0);

  DEVICE_INFO info{};
  info.Mask = MR_DEVINFO_COS_VERSION | MR_DEVINFO_PART10;
  ASSERT_EQ(mr_GetDevInfo(&ctx, 0, &info), 0);
  EXPECT_STREQ(info.szCosVersion, "V3.02");
  EXPECT_EQ(info.wPart10, 2048);
  BYTE sn[9];
  DWORD snLen = sizeof sn;
  ASSERT_EQ(mr_GetChipSN(&ctx, sn, &snLen), 0);
  EXPECT_EQ(snLen, 8u);

  const BYTE label[] = "Test token";
  ASSERT_EQ(mr_SetTokenSN(&ctx, label, sizeof label - 1), 0);
  BYTE back[128];
  DWORD backLen = sizeof back;
  ASSERT_EQ(mr_GetTokenSN(&ctx, back, &backLen), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back), backLen), "Test token");

  Bytes data(600);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<BYTE>(i * 13);
  }
  ASSERT_EQ(mr_CreateFile(&ctx, FileDescription(0x0B01, 600).data()), 0);
  ASSERT_EQ(mr_WriteFile(&ctx, 0, data.data(), 600), 0);
  Bytes read(600);
  DWORD readLen = 600;
  ASSERT_EQ(mr_ReadFile(&ctx, 0, read.data(), &readLen), 0);
  EXPECT_EQ(read, data);

  // Page 3 starts at unit 6; the rest of the last page reads 0xFF.
  ASSERT_EQ(mr_WriteFlash(&ctx, 3, data.data(), 600), 0);
  Bytes flash(768);
  ASSERT_EQ(mr_ReadFlash(&ctx, 6, flash.data(), 768), 0);
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 600), data);
  EXPECT_EQ(Bytes(flash.begin() + 600, flash.end()), Bytes(168, 0xFF));
  CloseTestContext(&ctx);
}

TEST_F(TokenSim, InjectedFaultsAndAPulledToken) {
  DEV_CTX ctx;
  ASSERT_EQ(OpenTestContext(m_tokens[1], &ctx), 0);
  BYTE sn[9];
  DWORD snLen = sizeof sn;

  Control("fault 1 sw 6A88 ins 93");
  EXPECT_EQ(mr_GetChipSN(&ctx, sn, &snLen), static_cast<HRESULT>(0x80006A88));
  Control("fault 1 drop");
  snLen = sizeof sn;
  EXPECT_EQ(mr_GetChipSN(&ctx, sn, &snLen), static_cast<HRESULT>(0x80070079));
  Control("fault 1 short 4");
  snLen = sizeof sn;
  ASSERT_EQ(mr_GetChipSN(&ctx, sn, &snLen), 0);
  EXPECT_EQ(snLen, 4u);

  Control("pull 1");
  EXPECT_EQ(ListTokens().size(), 1u);
  snLen = sizeof sn;
  EXPECT_EQ(mr_GetChipSN(&ctx, sn, &snLen), static_cast<HRESULT>(0x8007048F));
  CloseTestContext(&ctx);
  Control("insert 1");
  ASSERT_EQ(ListTokens().size(), 2u);
  ASSERT_EQ(OpenTestContext(m_tokens[1], &ctx), 0);
  snLen = sizeof sn;
  EXPECT_EQ(mr_GetChipSN(&ctx, sn, &snLen), 0);
  CloseTestContext(&ctx);
}

// The command log shows what reached the token, and that a call refused on
// the host sent nothing.
TEST_F(TokenSim, TheCommandLogShowsWhatReachedTheToken) {
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  const auto factory = merro::sim::TcpChannelFactory(sim ? sim : "");
  DEV_CTX ctx;
  ASSERT_EQ(OpenTestContext(m_tokens[0], &ctx), 0);
  std::vector<std::uint8_t> log;
  ASSERT_EQ(merro::sim::SimCommandLog(factory, 0, &log, true), 0);
  BYTE sn[9];
  DWORD snLen = sizeof sn;
  ASSERT_EQ(mr_GetChipSN(&ctx, sn, &snLen), 0);
  ASSERT_EQ(merro::sim::SimCommandLog(factory, 0, &log, true), 0);
  EXPECT_EQ(log, std::vector<std::uint8_t>{0x93});
  DWORD tooLong = 0x20000;
  BYTE buf[16];
  EXPECT_NE(mr_ReadFile(&ctx, 0, buf, &tooLong), 0);
  ASSERT_EQ(merro::sim::SimCommandLog(factory, 0, &log), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_NE(merro::sim::SimCommandLog(factory, 7, &log), 0) << "no token 7";
  CloseTestContext(&ctx);
}

// The other process: takes the device mutex, writes the shared file twice
// with a pause between, and releases the mutex.
int ChildHold(const std::string& marker) {
  const std::vector<std::string> tokens = ListTokens();
  DEV_CTX ctx;
  if (tokens.size() != 2 || OpenTestContext(tokens[0], &ctx) != 0 ||
      MerroWaitDevMutex(ctx.szMutexName) != 0 || SelectShared(&ctx) != 0 ||
      mr_WriteFile(&ctx, 0, reinterpret_cast<const BYTE*>(kChildStart), 16) != 0) {
    return 2;
  }
  std::ofstream(marker) << "held";
  Sleep(700);
  const bool written = mr_WriteFile(&ctx, 0, reinterpret_cast<const BYTE*>(kChildEnd), 16) == 0;
  MerroReleaseMutex(ctx.szMutexName);
  CloseTestContext(&ctx);
  return written ? 0 : 3;
}

TEST_F(TokenSim, TwoProcessesSerialiseOnTheDeviceMutex) {
  DEV_CTX ctx;
  ASSERT_EQ(OpenTestContext(m_tokens[0], &ctx), 0);
  if (SelectShared(&ctx) != 0) {
    ASSERT_EQ(mr_CreateFile(&ctx, FileDescription(kSharedFile, 16).data()), 0);
  }
  const std::string marker =
      (std::filesystem::temp_directory_path() / ("merro-t3-hold-" + std::to_string(
          std::chrono::steady_clock::now().time_since_epoch().count()))).string();
  merro::testing::ChildProcess child = merro::testing::ChildProcess::StartSelf({"--child-hold", marker});
  EXPECT_TRUE(child.Started());
  ASSERT_TRUE(merro::testing::WaitForFile(marker));

  // The child holds the mutex in the middle of its two writes: once this
  // wait returns, its second write must be there.
  ASSERT_EQ(MerroWaitDevMutex(ctx.szMutexName), 0);
  BYTE seen[16] = {};
  DWORD seenLen = sizeof seen;
  EXPECT_EQ(SelectShared(&ctx), 0);
  EXPECT_EQ(mr_ReadFile(&ctx, 0, seen, &seenLen), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(seen), kChildEnd);
  EXPECT_EQ(MerroReleaseMutex(ctx.szMutexName), 0);
  EXPECT_EQ(child.Join(), 0);
  std::filesystem::remove(marker);
  CloseTestContext(&ctx);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--child-hold") == 0) {
    return ChildHold(argv[2]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
