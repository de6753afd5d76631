// mr_SendAPDUCmd and the status-word results, over a recording transport.
#include <gtest/gtest.h>

#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/send_apdu.h"
#include "tokenapi/apdu/status_words.h"

namespace {

using merro::testing::Bytes;

constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070004);

class SendApdu : public merro::testing::RecordingTest {
 protected:
  HRESULT Send(const Bytes& frame, BYTE* recv, DWORD* recvLen) {
    return mr_SendAPDUCmd(&m_ctx, frame.data(), static_cast<DWORD>(frame.size()), recv, recvLen, 2);
  }
};

TEST(StatusWords, EveryWordButSuccessIsFlaggedAsIs) {
  const struct {
    BYTE sw1, sw2;
    HRESULT result;
  } cases[] = {
      {0x90, 0x00, 0},
      {0x6A, 0x83, static_cast<HRESULT>(0x80006A83)},
      {0xFF, 0x06, static_cast<HRESULT>(0x8000FF06)},
      {0xFF, 0x07, static_cast<HRESULT>(0x8000FF07)},
      {0x63, 0xC5, static_cast<HRESULT>(0x800063C5)},
      {0x61, 0x10, static_cast<HRESULT>(0x80006110)},
  };
  for (const auto& c : cases) {
    const BYTE reply[3] = {c.sw1, c.sw2, 0};
    EXPECT_EQ(SW1SW2ToResult(reply), c.result);
  }
  const BYTE wrongPin[3] = {0x63, 0xC2, 0};
  EXPECT_EQ(static_cast<DWORD>(SW1SW2ToResult(wrongPin)) & 0xFFFFFFF0u, 0x800063C0u);
  EXPECT_STREQ(merro::apdu::StatusWordText(0x63C2), L"wrong PIN, tries left in the low nibble");
}

TEST_F(SendApdu, ProtectedClassGoesOutPlainWithoutSessionKey) {
  const Bytes frame = {0xB4, 0x36, 0x01, 0x02, 0x01, 0x10, 0x77};
  DWORD len = 0x10;
  BYTE recv[0x10];
  ASSERT_EQ(Send(frame, recv, &len), 0);
  ASSERT_EQ(m_transport->Frames().size(), 1u);
  EXPECT_EQ(m_transport->Frames()[0], (Bytes{0xB0, 0x36, 0x01, 0x02, 0x01, 0x10, 0x77}));
}

TEST_F(SendApdu, ReplyDataMustFitTheCallersBuffer) {
  const Bytes frame = {0xB0, 0x93, 0x00, 0x00, 0x00, 0x08};
  const Bytes sn = {1, 2, 3, 4, 5, 6, 7, 8};
  BYTE recv[8] = {};

  m_transport->QueueReply(0x9000, sn);
  DWORD len = 7;
  EXPECT_EQ(Send(frame, recv, &len), kBufferTooSmall);
  EXPECT_EQ(len, 7u);

  m_transport->QueueReply(0x9000, sn);
  len = 8;
  ASSERT_EQ(Send(frame, recv, &len), 0);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(Bytes(recv, recv + 8), sn);

  // A failing status word returns no data even when some came along.
  m_transport->QueueReply(0x6A82, sn);
  len = 8;
  EXPECT_EQ(Send(frame, recv, &len), static_cast<HRESULT>(0x80006A82));
  EXPECT_EQ(len, 8u);
}

TEST_F(SendApdu, MalformedFramesAreNeverSent) {
  Bytes longest(261, 0);
  longest[0] = 0xB0;
  longest[4] = 255;
  Bytes tooLong(262, 0);
  tooLong[0] = 0xB0;
  tooLong[4] = 255;
  const Bytes cases[] = {
      {0xB0, 0x12, 0x00, 0x00, 0x00},              // 5 bytes
      {0xB0, 0x33, 0x00, 0x00, 0x03, 0x00, 0x01},  // Lc says 3, one byte follows
      {0xB0, 0x33, 0x00, 0x00, 0x00, 0x00, 0x01},  // data beyond Lc
      tooLong,
  };
  for (const Bytes& frame : cases) {
    DWORD len = 0;
    EXPECT_EQ(Send(frame, nullptr, &len), kBadLength);
  }
  EXPECT_TRUE(m_transport->Frames().empty());
  DWORD len = 0;
  EXPECT_EQ(Send(longest, nullptr, &len), 0);
  EXPECT_EQ(m_transport->Frames().size(), 1u);
}

TEST_F(SendApdu, WithSessionKeyProtectedFramesNeverLeaveInClear) {
  m_ctx.bySMState = MR_SM_STATE_SESSION_KEY;
  const Bytes frame = {0xB4, 0x33, 0x00, 0x00, 0x02, 0x00, 0xAA, 0xBB};
  DWORD len = 0;
  const HRESULT hr = Send(frame, nullptr, &len);
  if (FAILED(hr)) {
    EXPECT_TRUE(m_transport->Frames().empty());
  } else {
    ASSERT_EQ(m_transport->Frames().size(), 1u);
    EXPECT_EQ(m_transport->Frames()[0][0], MR_CLA_PROTECTED);
    EXPECT_NE(m_transport->Frames()[0], frame);
  }
  // Nothing to protect: no data, no reply expected; it goes out plain.
  m_transport->Clear();
  const Bytes bare = {0xB4, 0x99, 0x00, 0x00, 0x00, 0x00};
  ASSERT_EQ(Send(bare, nullptr, &len), 0);
  EXPECT_EQ(m_transport->Frames()[0], (Bytes{0xB0, 0x99, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(SendApdu, TransportFailuresPassUp) {
  m_transport->FailNextSend(static_cast<HRESULT>(0x8007048F));
  DWORD len = 0;
  EXPECT_EQ(Send({0xB0, 0x99, 0, 0, 0, 0}, nullptr, &len), static_cast<HRESULT>(0x8007048F));
}

TEST(ApduBuilder, BuildsHeaderLcLeAndData) {
  const BYTE data[2] = {0x00, 0xC0};
  merro::apdu::Frame frame;
  DWORD len = 0;
  ASSERT_EQ(merro::apdu::BuildFrame({MR_CLA_PLAIN, 0xA4, 0x20, 0x00, 0x10, data, 2}, &frame, &len), 0);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + len), (Bytes{0xB0, 0xA4, 0x20, 0x00, 0x02, 0x10, 0x00, 0xC0}));
  EXPECT_EQ(merro::apdu::BuildFrame({MR_CLA_PLAIN, 0x33, 0, 0, 0, data, 256}, &frame, &len), kBadLength);
  EXPECT_EQ(merro::apdu::BuildFrame({MR_CLA_PLAIN, 0x33, 0, 0, 0, nullptr, 2}, &frame, &len),
            static_cast<HRESULT>(0x80070001));
}

}  // namespace
