// Enumeration, the token test and the command exchange, over a recording
// transport.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/tokenapi/support/recording_transport.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/usb_ids.h"

namespace {

using merro::testing::Bytes;
using merro::testing::RecordingTransport;

constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kNotAToken = static_cast<HRESULT>(0x80070200);

const std::string kTokenA = "\\\\?\\usbstor#cdrom&rev_1#7&aa&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kTokenB = "\\\\?\\usbstor#cdrom&rev_1#7&bb&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kOtherDrive = "\\\\?\\ide#cdrom&rev_2#5&cc&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

class Enumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    m_transport = std::make_shared<RecordingTransport>();
    merro::transport::SetTransportOverride(m_transport);
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  void ListTokensAndOthers() {
    m_transport->devices = {
        {kTokenA, u"USB\\VID_2F3D&PID_0301\\A"},
        {kOtherDrive, u"USB\\VID_1234&PID_0301\\C"},    // another vendor's drive
        {"\\\\?\\broken", u"USB\\VID_2F3D"},             // malformed parent ID
        {kTokenB, u"USB\\VID_2F3D&PID_0301\\B"},
    };
  }

  std::shared_ptr<RecordingTransport> m_transport;
};

Bytes ListOf(std::initializer_list<std::string> names) {
  Bytes list;
  for (const std::string& n : names) {
    list.insert(list.end(), n.begin(), n.end());
    list.push_back(0);
  }
  list.push_back(0);
  return list;
}

TEST_F(Enumeration, ListsOnlyTheTokensDrives) {
  ListTokensAndOthers();
  const Bytes expected = ListOf({kTokenA, kTokenB});

  DWORD needed = 0;
  ASSERT_EQ(mr_EnumDevice(nullptr, &needed), 0);
  EXPECT_EQ(needed, expected.size());

  Bytes buf(needed - 1, 0);
  DWORD len = needed - 1;
  EXPECT_EQ(mr_EnumDevice(buf.data(), &len), kBufferTooSmall);
  EXPECT_EQ(len, needed);

  buf.assign(needed, 0xEE);
  len = needed;
  ASSERT_EQ(mr_EnumDevice(buf.data(), &len), 0);
  EXPECT_EQ(len, needed);
  EXPECT_EQ(buf, expected);
}

TEST_F(Enumeration, NoTokenIsAnEmptyList) {
  m_transport->devices = {{kOtherDrive, u"USB\\VID_1234&PID_0301\\C"}};
  DWORD len = 99;
  EXPECT_EQ(mr_EnumDevice(nullptr, &len), 0);
  EXPECT_EQ(len, 0u);
}

TEST_F(Enumeration, IsMerroChecksVendorAndProductBits) {
  m_transport->devices = {
      {kTokenA, u"USB\\VID_2F3D&PID_8301\\A"},  // product ID with one more bit set
      {kTokenB, u"USB\\VID_2F3D&PID_0300\\B"},  // a product bit missing
      {kOtherDrive, u"USB\\VID_1234&PID_0301\\C"},
  };
  DWORD high = 0, low = 0;
  EXPECT_EQ(mr_IsMERRO(kTokenA.c_str(), &high, &low), 0);
  EXPECT_EQ(high, merro::transport::kTokenIdentityHigh);
  EXPECT_EQ(low, merro::transport::kTokenIdentityLow);
  EXPECT_EQ(mr_IsMERRO(kTokenB.c_str(), &high, &low), kNotAToken);
  EXPECT_EQ(mr_IsMERRO(kOtherDrive.c_str(), &high, &low), kNotAToken);
  EXPECT_EQ(mr_IsMERRO("\\\\?\\not-listed", &high, &low), kNotAToken);
}

TEST_F(Enumeration, SendCommandChecksFrameAndReplyLengths) {
  DEV_CTX ctx = RecordingTransport::Context();
  const BYTE frame[6] = {0xB0, 0x12, 0x00, 0x00, 0x00, 0x14};
  BYTE reply[256];
  DWORD replyLen = 0;

  EXPECT_EQ(MerroSendCommand(nullptr, frame, 6, reply, &replyLen, 2), static_cast<HRESULT>(0x80070205));
  EXPECT_EQ(MerroSendCommand(ctx.hDevice, frame, 0, reply, &replyLen, 2),
            static_cast<HRESULT>(0x80070057));
  const Bytes huge(1025, 0xB0);
  EXPECT_EQ(MerroSendCommand(ctx.hDevice, huge.data(), 1025, reply, &replyLen, 2),
            static_cast<HRESULT>(0x80070057));
  EXPECT_TRUE(m_transport->Frames().empty());

  // N = 253 fills the transfer; N = 254 cannot be carried by it.
  m_transport->QueueReply(0x9000, Bytes(253, 0x5A));
  ASSERT_EQ(MerroSendCommand(ctx.hDevice, frame, 6, reply, &replyLen, 2), 0);
  EXPECT_EQ(replyLen, 256u);
  EXPECT_EQ(reply[255], 0x5A);
  m_transport->QueueRawReply({0x90, 0x00, 254});
  EXPECT_EQ(MerroSendCommand(ctx.hDevice, frame, 6, reply, &replyLen, 2),
            static_cast<HRESULT>(0x8007000D));

  m_transport->FailNextReceive(static_cast<HRESULT>(0x80070079));
  EXPECT_EQ(MerroSendCommand(ctx.hDevice, frame, 6, reply, &replyLen, 2),
            static_cast<HRESULT>(0x80070079));
  EXPECT_EQ(m_transport->Frames().size(), 3u);
}

}  // namespace
