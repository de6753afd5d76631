// The simulator client against a misbehaving daemon: a channel that answers
// from a queue of scripted responses. Every result other than 0 is a
// failure, and an empty data-in transfer is zero bytes received.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "tokenapi/transport/sim/sim_transport.h"

namespace {

using merro::sim::Bytes;
using merro::sim::ChannelFactory;
using merro::sim::SimChannel;
using merro::sim::WireOp;
using merro::sim::WireRequest;
using merro::sim::WireResponse;
using merro::transport::kReplyTransferLen;

constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

using Script = std::shared_ptr<std::deque<WireResponse>>;

// Answers each call with the next scripted response (its op set to the
// request's); an empty script is a daemon that does not answer.
class ScriptedChannel final : public SimChannel {
 public:
  explicit ScriptedChannel(Script script) : m_script(std::move(script)) {}
  HRESULT Call(const WireRequest& request, WireResponse* pResponse, DWORD) override {
    if (m_script->empty()) {
      return static_cast<HRESULT>(0x80070079);  // ERROR_SEM_TIMEOUT
    }
    *pResponse = m_script->front();
    m_script->pop_front();
    pResponse->op = request.op;
    return S_OK;
  }

 private:
  Script m_script;
};

class SimTransportScripted : public ::testing::Test {
 protected:
  ChannelFactory Factory() {
    return [script = m_script](std::unique_ptr<SimChannel>* pChannel) -> HRESULT {
      *pChannel = std::make_unique<ScriptedChannel>(script);
      return S_OK;
    };
  }
  void Answer(std::uint32_t result, Bytes payload = {}) {
    m_script->push_back({WireOp::Control, result, std::move(payload)});
  }
  // An opened device on a fresh transport, the script then empty.
  HANDLE OpenDevice(const std::shared_ptr<merro::transport::Transport>& transport) {
    Answer(0);
    HANDLE h = nullptr;
    EXPECT_EQ(transport->Open("\\\\?\\scripted", &h), 0);
    EXPECT_NE(h, nullptr);
    return h;
  }

  Script m_script = std::make_shared<std::deque<WireResponse>>();
};

TEST_F(SimTransportScripted, AnEmptyDataInIsZeroBytesReceived) {
  const auto transport = merro::sim::MakeSimTransport(Factory());
  const HANDLE h = OpenDevice(transport);
  const BYTE frame[6] = {0xB0, 0x12, 0x00, 0x00, 0x00, 0x14};
  Answer(0);
  ASSERT_EQ(transport->SendFrame(h, frame, sizeof frame, 2), 0);
  Answer(0);  // success with no reply bytes
  BYTE reply[kReplyTransferLen];
  std::fill(reply, reply + sizeof reply, 0xEE);
  ASSERT_EQ(transport->ReceiveReply(h, reply, 2), 0);
  EXPECT_EQ(std::count(reply, reply + sizeof reply, 0), static_cast<std::ptrdiff_t>(sizeof reply));
  EXPECT_EQ(transport->Close(h), 0);
}

// Results the daemon may send that are neither 0 nor a Win32 error value.
// A status-word-shaped value or -1 would be misread above the transport;
// an HRESULT with a facility keeps its code.
TEST_F(SimTransportScripted, EveryNonZeroResultIsAFailure) {
  const struct {
    std::uint32_t result;
    HRESULT expected;
  } cases[] = {
      {0x80000000u, kBadReply},
      {0x80000001u, kBadReply},
      {0xFFFFFFFFu, kBadReply},
      {0x8000FF07u, kBadReply},
      {0x80070005u, static_cast<HRESULT>(0x80070005)},
      {0x00000015u, static_cast<HRESULT>(0x80070015)},
  };
  const BYTE frame[6] = {0xB0, 0x84, 0x00, 0x00, 0x00, 0x08};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.result);
    const auto transport = merro::sim::MakeSimTransport(Factory());

    Answer(c.result);
    HANDLE h = nullptr;
    EXPECT_EQ(transport->Open("\\\\?\\scripted", &h), c.expected);
    EXPECT_EQ(h, nullptr) << "no channel handed out";

    h = OpenDevice(transport);
    Answer(c.result);
    EXPECT_EQ(transport->SendFrame(h, frame, sizeof frame, 2), c.expected);
    Answer(c.result, Bytes(kReplyTransferLen, 0x90));
    BYTE reply[kReplyTransferLen] = {};
    EXPECT_EQ(transport->ReceiveReply(h, reply, 2), c.expected);

    Answer(c.result, Bytes{'o', 'k'});
    std::string answer;
    EXPECT_EQ(merro::sim::SimControl(Factory(), "list", &answer), c.expected);
    EXPECT_TRUE(m_script->empty());
  }
}

}  // namespace
