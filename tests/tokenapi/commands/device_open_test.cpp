// Opening and closing a token over a recording transport: the frames of the
// open, the device mutex, and that no failure leaves a handle, a held mutex
// or a context behind.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/tokenapi/support/frame_log_transport.h"
#include "tests/tokenapi/support/mutex_probe.h"
#include "tests/tokenapi/support/recording_transport.h"
#include "tokenapi/commands/device_open.h"
#include "tokenapi/transport/device_mutex_hold.h"

namespace {

using merro::testing::OtherThreadAcquires;
using merro::testing::Bytes;
using merro::testing::FrameLogTransport;
using merro::testing::RecordingTransport;

constexpr char kInstance[] = "7&2f1c9a0&0";
const std::string kName = std::string("\\\\?\\usbstor#cdrom&ven_merro&prod_token&rev_1.00#") + kInstance +
                          "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr HRESULT kBadName = static_cast<HRESULT>(0x80070057);


class DeviceOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    m_token = std::make_shared<RecordingTransport>();
    m_log = std::make_shared<FrameLogTransport>(m_token);
    merro::transport::SetTransportOverride(m_log);
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  // The replies of a token that accepts the reset and the authentication.
  void QueueGoodOpen() {
    m_token->QueueReply(0x9000, Bytes(20, 0x30));
    m_token->QueueReply(0x9000, Bytes(8, 0x01));
    m_token->QueueReply(0x9000, Bytes(8, 0x02));
    m_token->QueueReply(0x9000);
  }

  std::shared_ptr<RecordingTransport> m_token;
  std::shared_ptr<FrameLogTransport> m_log;
};

TEST_F(DeviceOpen, ResetsAndAuthenticatesUnderTheMutex) {
  QueueGoodOpen();
  DEV_CTX* ctx = nullptr;
  ASSERT_EQ(mr_OpenDevice(kName.c_str(), &ctx), 0);
  ASSERT_NE(ctx, nullptr);
  EXPECT_STREQ(ctx->szMutexName, kInstance);
  EXPECT_EQ(ctx->bySMState, MR_SM_STATE_NONE);
  EXPECT_EQ(ctx->dwSessionKeyLen, 0u);
  const auto& frames = m_token->Frames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0], (Bytes{0xB0, 0x12, 0x01, 0x00, 0x00, 0x14}));
  EXPECT_EQ(frames[1], (Bytes{0xB0, 0x93, 0x00, 0x00, 0x00, 0x08}));
  EXPECT_EQ(frames[2], (Bytes{0xB0, 0x84, 0x00, 0x00, 0x00, 0x08}));
  EXPECT_EQ(Bytes(frames[3].begin(), frames[3].begin() + 6), (Bytes{0xB0, 0x82, 0x00, 0x00, 0x10, 0x00}));
  EXPECT_TRUE(OtherThreadAcquires(kInstance));
  EXPECT_EQ(mr_CloseDevice(ctx), 0);
  EXPECT_EQ(m_log->ClosesPassed(), 1);
}

TEST_F(DeviceOpen, NamesWithoutInstancePartAreRefused) {
  const std::string guid = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  const std::string names[] = {
      "\\\\?\\usbstor#cdrom&ven_merro&prod_token#7&abc&0#" + guid,  // no rev_
      "\\\\?\\usbstor#cdrom&ven_merro&prod_token&rev_1.00",           // no # after rev_
      "\\\\?\\usbstor#cdrom&ven_merro&prod_token&rev_1.00#7&abc&0",   // one # after rev_
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const int closesBefore = m_log->ClosesPassed();
    DEV_CTX* ctx = reinterpret_cast<DEV_CTX*>(0x1);
    EXPECT_EQ(mr_OpenDevice(name.c_str(), &ctx), kBadName);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(m_log->ClosesPassed(), closesBefore + 1) << "the opened device must be closed";
  }
  EXPECT_TRUE(m_token->Frames().empty());
}

TEST_F(DeviceOpen, LateFailuresHandOutNothing) {
  const struct {
    const char* name;
    std::vector<std::pair<std::uint16_t, Bytes>> replies;
    HRESULT expected;
  } cases[] = {
      {"reset refused", {{0x6F00, {}}}, static_cast<HRESULT>(0x80006F00)},
      {"chip serial refused", {{0x9000, Bytes(20, 0)}, {0x6D00, {}}}, static_cast<HRESULT>(0x80006D00)},
      {"authentication refused",
       {{0x9000, Bytes(20, 0)}, {0x9000, Bytes(8, 1)}, {0x9000, Bytes(8, 2)}, {0x63C5, {}}},
       static_cast<HRESULT>(0x800063C5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_token->Clear();
    for (const auto& reply : c.replies) {
      m_token->QueueReply(reply.first, reply.second);
    }
    const int closesBefore = m_log->ClosesPassed();
    DEV_CTX* ctx = reinterpret_cast<DEV_CTX*>(0x1);
    EXPECT_EQ(mr_OpenDevice(kName.c_str(), &ctx), c.expected);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(m_log->ClosesPassed(), closesBefore + 1);
    EXPECT_TRUE(OtherThreadAcquires(kInstance)) << "the device mutex stayed held";
  }
}

TEST_F(DeviceOpen, FailedCloseReleasesTheMutexAndRetries) {
  QueueGoodOpen();
  DEV_CTX* ctx = nullptr;
  ASSERT_EQ(mr_OpenDevice(kName.c_str(), &ctx), 0);
  m_log->FailNextClose(static_cast<HRESULT>(0x80070006));
  EXPECT_EQ(mr_CloseDevice(ctx), static_cast<HRESULT>(0x80070202));
  EXPECT_TRUE(OtherThreadAcquires(kInstance));
  EXPECT_EQ(m_log->ClosesPassed(), 0);
  // The context is still there: the retry closes the device once.
  EXPECT_EQ(mr_CloseDevice(ctx), 0);
  EXPECT_EQ(m_log->ClosesPassed(), 1);
  EXPECT_EQ(mr_CloseDevice(nullptr), 0);
}

TEST_F(DeviceOpen, TwoOpensShareOneMutex) {
  QueueGoodOpen();
  QueueGoodOpen();
  DEV_CTX* first = nullptr;
  DEV_CTX* second = nullptr;
  ASSERT_EQ(mr_OpenDevice(kName.c_str(), &first), 0);
  ASSERT_EQ(mr_OpenDevice(kName.c_str(), &second), 0);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first->szMutexName, second->szMutexName);
  {
    // A command through the first holds what the second must wait for.
    merro::transport::DevMutexHold hold;
    ASSERT_EQ(hold.Wait(first->szMutexName), 0);
    ASSERT_TRUE(hold.Held());
    EXPECT_FALSE(OtherThreadAcquires(second->szMutexName));
  }
  EXPECT_TRUE(OtherThreadAcquires(second->szMutexName));
  EXPECT_EQ(mr_CloseDevice(first), 0);
  EXPECT_EQ(mr_CloseDevice(second), 0);
}

TEST_F(DeviceOpen, NullArguments) {
  DEV_CTX* ctx = nullptr;
  EXPECT_EQ(mr_OpenDevice(nullptr, &ctx), kBadName);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(mr_OpenDevice(kName.c_str(), nullptr), kBadName);
  EXPECT_TRUE(m_token->Frames().empty());
}

}  // namespace
