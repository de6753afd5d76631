// The token name in the token-information file, against the in-process
// simulator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/tokenapi/api/api_test_support.h"
#include "tests/tokenapi/support/file_description.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/commands/file_commands.h"

namespace {

using Bytes = std::vector<BYTE>;
using merro::apitest::TraceLines;

class TokenNameSim : public merro::testing::SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    m_ctx = OpenToken(0);
    // The token-information file as initialisation makes it, with a
    // pattern in bytes 0-159.
    const Bytes desc = merro::testing::FileDescription(MR_TOKEN_INFO_FID, 512);
    ASSERT_EQ(CreateCosFile(m_ctx, desc.data()), 0);
    m_pattern.resize(MR_TOKEN_INFO_LEN);
    for (size_t i = 0; i < m_pattern.size(); ++i) {
      m_pattern[i] = static_cast<BYTE>(0x80 + i);
    }
    WriteInfo(m_pattern);
  }

  void WriteInfo(const Bytes& data) {
    BYTE info[MR_FILE_INFO_LEN];
    ASSERT_EQ(SelectFile(m_ctx, MR_SELECT_BY_ID, MR_TOKEN_INFO_FID, info), 0);
    ASSERT_EQ(WriteCosFile(m_ctx, 0, data.data(), static_cast<DWORD>(data.size())), 0);
  }

  Bytes ReadInfo() {
    BYTE info[MR_FILE_INFO_LEN];
    EXPECT_EQ(SelectFile(m_ctx, MR_SELECT_BY_ID, MR_TOKEN_INFO_FID, info), 0);
    Bytes data(MR_TOKEN_INFO_LEN);
    DWORD len = MR_TOKEN_INFO_LEN;
    EXPECT_EQ(ReadCosFile(m_ctx, 0, data.data(), &len), 0);
    data.resize(len);
    return data;
  }

  DEV_CTX* m_ctx = nullptr;
  Bytes m_pattern;
};

// A two-byte name: bytes 0-31 become the name and 30 spaces, bytes 32-159
// stay; reading it back gives the two bytes.
TEST_F(TokenNameSim, SetThenGetKeepsTheRestOfTheFile) {
  const BYTE name[] = {'M', 'e'};
  ASSERT_EQ(SetTokenName(m_ctx, name, sizeof name), 0);
  const Bytes info = ReadInfo();
  ASSERT_EQ(info.size(), MR_TOKEN_INFO_LEN);
  Bytes expected = m_pattern;
  std::memset(expected.data(), ' ', MR_TOKEN_NAME_MAX);
  expected[0] = 'M';
  expected[1] = 'e';
  EXPECT_EQ(info, expected);

  DWORD len = 0;
  ASSERT_EQ(GetTokenName(m_ctx, nullptr, &len), 0);  // size query
  EXPECT_EQ(len, 2u);
  BYTE out[MR_TOKEN_NAME_MAX] = {};
  len = sizeof out;
  ASSERT_EQ(GetTokenName(m_ctx, out, &len), 0);
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(std::memcmp(out, name, 2), 0);
}

// The routines enter SelectFile, ReadCosFile and WriteCosFile while their
// entry point holds the mutex; afterwards the mutex is free again.
TEST_F(TokenNameSim, NestedEntryPointsReenterTheMutex) {
  TraceLines trace;
  const BYTE name[] = {'A'};
  ASSERT_EQ(SetTokenName(m_ctx, name, 1), 0);
  EXPECT_TRUE(trace.Has("SelectFile - MerroWaitDevMutex"));
  EXPECT_TRUE(trace.Has("ReadCosFile - mr_ReadFile"));
  EXPECT_TRUE(trace.Has("WriteCosFile - mr_WriteFile"));
  EXPECT_TRUE(trace.Has("SetTokenName - mr_SetTokenName"));
  EXPECT_TRUE(merro::apitest::MutexFreeForOtherThread(m_ctx->szMutexName));
}

struct LengthCase {
  DWORD setLen;    // bytes given to SetTokenName
  DWORD expected;  // name length read back
};

// 32 bytes fill the field; trailing spaces are not part of the name, so a
// name of spaces only (or of none) reads back as length 0.
TEST_F(TokenNameSim, NameLengths) {
  const LengthCase cases[] = {{32, 32}, {1, 1}, {0, 0}, {31, 31}};
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(c.setLen);
    const Bytes name(MR_TOKEN_NAME_MAX, 'n');  // only setLen bytes are taken
    ASSERT_EQ(SetTokenName(m_ctx, name.data(), c.setLen), 0);
    DWORD len = 0;
    ASSERT_EQ(GetTokenName(m_ctx, nullptr, &len), 0);
    EXPECT_EQ(len, c.expected);
  }
  const Bytes spaces(5, ' ');
  ASSERT_EQ(SetTokenName(m_ctx, spaces.data(), 5), 0);
  DWORD len = 99;
  ASSERT_EQ(GetTokenName(m_ctx, nullptr, &len), 0);
  EXPECT_EQ(len, 0u);
}

// A name longer than the 32-byte field is refused before anything is read
// or written.
TEST_F(TokenNameSim, OverlongNameIsRefused) {
  TraceLines trace;
  const Bytes name(33, 'x');
  EXPECT_EQ(static_cast<std::uint32_t>(SetTokenName(m_ctx, name.data(), 33)), 0x80070004u);
  EXPECT_FALSE(trace.Has("SelectFile - mr_SelectFile"));
  EXPECT_EQ(ReadInfo(), m_pattern);
}

// A buffer shorter than the name: 0x80070003 and the length needed.
TEST_F(TokenNameSim, ShortBufferGetsTheNeededLength) {
  const BYTE name[] = {'a', 'b', 'c', 'd'};
  ASSERT_EQ(SetTokenName(m_ctx, name, sizeof name), 0);
  BYTE out[8] = {};
  DWORD len = 3;
  EXPECT_EQ(static_cast<std::uint32_t>(GetTokenName(m_ctx, out, &len)), 0x80070003u);
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(out[0], 0) << "nothing copied";
}

// When the file cannot be read the name routines fail: the getter answers
// length 0, the setter writes nothing.
TEST_F(TokenNameSim, FailedReadLeavesTheFileAlone) {
  // The read's first piece comes back empty.
  Control("fault 0 short 0 ins 36 count 1");
  DWORD len = 7;
  BYTE out[32];
  EXPECT_LT(GetTokenName(m_ctx, out, &len), 0);
  EXPECT_EQ(len, 0u);

  Control("fault 0 short 0 ins 36 count 1");
  const BYTE name[] = {'z'};
  EXPECT_LT(SetTokenName(m_ctx, name, 1), 0);
  EXPECT_EQ(ReadInfo(), m_pattern);

  // No token-information file at all.
  BYTE info[MR_FILE_INFO_LEN];
  ASSERT_EQ(SelectFile(m_ctx, MR_SELECT_BY_ID, MR_TOKEN_INFO_FID, info), 0);
  ASSERT_EQ(DeleteCosFile(m_ctx, 0x00, MR_TOKEN_INFO_FID), 0);
  len = 7;
  EXPECT_EQ(static_cast<std::uint32_t>(GetTokenName(m_ctx, out, &len)), 0x80006A82u);
  EXPECT_EQ(len, 0u);
}

}  // namespace
