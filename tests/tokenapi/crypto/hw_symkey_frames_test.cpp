// The token's symmetric operation over a recording transport: the key
// frame, the data pieces and their replies, and the failure paths.
#include <gtest/gtest.h>

#include "tests/tokenapi/crypto/test_bytes.h"
#include "tests/tokenapi/crypto/trace_capture.h"
#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/commands/symkey_commands.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"

namespace merro::crypto::test {
namespace {

using merro::testing::Sequence;

class HwSymKeyFrames : public merro::testing::RecordingTest {};

TEST_F(HwSymKeyFrames, KeyThenPiecesOfAtMost128Bytes) {
  const Bytes key = Sequence(16, 0xA0);
  const Bytes in = Sequence(300, 0);
  // The token answers each piece with its bytes plus 0x80.
  m_transport->QueueReply(0x9000);
  size_t at = 0;
  for (size_t piece : {128u, 128u, 44u}) {
    Bytes reply(in.begin() + at, in.begin() + at + piece);
    for (auto& b : reply) {
      b = static_cast<std::uint8_t>(b + 0x80);
    }
    m_transport->QueueReply(0x9000, reply);
    at += piece;
  }
  Bytes out(300);
  DWORD outLen = 300;
  ASSERT_EQ(0, mr_HWSymKeyCrypto(&m_ctx, MR_ALG_SM4, 0x02, key.data(), in.data(), 300, out.data(), &outLen));
  EXPECT_EQ(300u, outLen);
  for (size_t i = 0; i < 300; ++i) {
    ASSERT_EQ(static_cast<std::uint8_t>(in[i] + 0x80), out[i]) << i;
  }
  const auto& frames = m_transport->Frames();
  ASSERT_EQ(4u, frames.size());
  // No session key: class 0xB4 goes out as 0xB0.
  EXPECT_EQ(Concat({{0xB0, 0x24, 0x00, 0x00, 0x10, 0x00}, key}), frames[0]);
  at = 0;
  for (size_t i = 0; i < 3; ++i) {
    const size_t piece = i < 2 ? 128 : 44;
    const Bytes header{0xB0, 0x24, 0x01, 0x02, static_cast<std::uint8_t>(piece),
                       static_cast<std::uint8_t>(piece)};
    EXPECT_EQ(Concat({header, Bytes(in.begin() + at, in.begin() + at + piece)}), frames[i + 1]) << i;
    at += piece;
  }
  for (DWORD t : m_transport->Timeouts()) {
    EXPECT_EQ(2u, t);
  }
}

TEST_F(HwSymKeyFrames, TokenOnlyAlgorithmTakesA32ByteKey) {
  const Bytes key = Sequence(32, 1);
  const Bytes in = Sequence(16, 9);
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000, in);
  Bytes out(16);
  DWORD outLen = 16;
  ASSERT_EQ(0, mr_HWSymKeyCrypto(&m_ctx, MR_ALG_TOKEN_SYM, 0x81, key.data(), in.data(), 16, out.data(), &outLen));
  EXPECT_EQ(Concat({{0xB0, 0x23, 0x00, 0x00, 0x20, 0x00}, key}), m_transport->Frames()[0]);
  EXPECT_EQ(0x81, m_transport->Frames()[1][3]) << "the mode goes out as P2 unchanged";
}

TEST_F(HwSymKeyFrames, EmptyInputSendsTheKeyOnly) {
  const Bytes key(16, 7);
  BYTE out[1];
  DWORD outLen = 0;
  const BYTE none = 0;
  ASSERT_EQ(0, mr_HWSymKeyCrypto(&m_ctx, MR_ALG_SM4, 1, key.data(), &none, 0, out, &outLen));
  EXPECT_EQ(0u, outLen);
  EXPECT_EQ(1u, m_transport->Frames().size());
}

TEST_F(HwSymKeyFrames, RefusalsAndFailures) {
  const Bytes key(32, 7);
  const Bytes in(40, 1);
  Bytes out(40);
  DWORD outLen = 40;
  {
    // Software-only algorithms are not the token's: nothing is sent.
    TraceCapture trace;
    EXPECT_EQ(kResultBadCryptFlag, mr_HWSymKeyCrypto(&m_ctx, MR_ALG_3DES, 1, key.data(), in.data(), 40, out.data(), &outLen));
    std::uint32_t result = 0;
    EXPECT_TRUE(trace.FindFailure(u"mr_SymKeyCrypto - CHECK nAlgType", &result));
    EXPECT_TRUE(trace.FindFailure(u"mr_HWSymKeyCrypto - mr_SymKeyCrypto", &result));
    EXPECT_EQ(static_cast<std::uint32_t>(kResultBadCryptFlag), result);
  }
  EXPECT_TRUE(m_transport->Frames().empty());
  // Short output room: the needed length, nothing sent.
  outLen = 39;
  EXPECT_EQ(kResultBufferTooSmall, mr_HWSymKeyCrypto(&m_ctx, MR_ALG_SM4, 1, key.data(), in.data(), 40, out.data(), &outLen));
  EXPECT_EQ(40u, outLen);
  EXPECT_TRUE(m_transport->Frames().empty());

  // The key refused: its status word, no data sent.
  outLen = 40;
  m_transport->QueueReply(0x6A80);
  EXPECT_EQ(static_cast<HRESULT>(0x80006A80), mr_HWSymKeyCrypto(&m_ctx, MR_ALG_SM4, 1, key.data(), in.data(), 40, out.data(), &outLen));
  EXPECT_EQ(1u, m_transport->Frames().size());
  EXPECT_EQ(40u, outLen) << "the output length is not written on failure";

  // A data piece answered short: refused rather than reporting bytes the
  // token never wrote.
  m_transport->Clear();
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000, Bytes(39, 2));
  EXPECT_EQ(static_cast<HRESULT>(0x8007000D), mr_HWSymKeyCrypto(&m_ctx, MR_ALG_SM4, 1, key.data(), in.data(), 40, out.data(), &outLen));
  EXPECT_EQ(40u, outLen);

  // A data piece refused by the token.
  m_transport->Clear();
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x6985);
  EXPECT_EQ(static_cast<HRESULT>(0x80006985), mr_HWSymKeyCrypto(&m_ctx, MR_ALG_SM4, 1, key.data(), in.data(), 40, out.data(), &outLen));
}

}  // namespace
}  // namespace merro::crypto::test
