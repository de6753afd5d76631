// The simulator client's channel over a stream, on a scripted stream: a
// response that arrives after its call gave up must never answer a later
// request.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "foundation/result.h"
#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/stream_socket.h"

namespace {

using merro::sim::Bytes;
using merro::sim::WireOp;
using merro::sim::WireRequest;
using merro::sim::WireResponse;

constexpr HRESULT kTimedOut = static_cast<HRESULT>(0x80070079);  // ERROR_SEM_TIMEOUT
constexpr HRESULT kAborted = static_cast<HRESULT>(0x800704D4);   // ERROR_CONNECTION_ABORTED

// The peer's side of the stream: what it has sent so far, and what the
// client wrote. A read with nothing to deliver times out.
class ScriptedSocket final : public merro::sim::StreamSocket {
 public:
  Bytes incoming;
  Bytes written;

 protected:
  HRESULT WaitReady(bool readable, DWORD) override {
    return readable && m_read == incoming.size() ? kTimedOut : S_OK;
  }
  long SendSome(const std::uint8_t* p, size_t n) override {
    written.insert(written.end(), p, p + n);
    return static_cast<long>(n);
  }
  long RecvSome(std::uint8_t* p, size_t n) override {
    const size_t k = std::min(n, incoming.size() - m_read);
    std::copy_n(incoming.begin() + static_cast<std::ptrdiff_t>(m_read), k, p);
    m_read += k;
    return static_cast<long>(k);
  }

 private:
  size_t m_read = 0;
};

void Append(Bytes* stream, const WireResponse& response) {
  const Bytes encoded = merro::sim::EncodeResponse(response);
  stream->insert(stream->end(), encoded.begin(), encoded.end());
}

TEST(StreamChannel, AFailedCallLeavesTheChannelFailed) {
  auto owned = std::make_unique<ScriptedSocket>();
  ScriptedSocket* socket = owned.get();
  const std::unique_ptr<merro::sim::SimChannel> channel =
      merro::sim::MakeStreamChannel(std::move(owned));
  const WireRequest dataOut{WireOp::DataOut, Bytes(16, 0xAB)};

  // An answered call.
  Append(&socket->incoming, {WireOp::DataOut, 0, {}});
  WireResponse response{};
  ASSERT_EQ(channel->Call(dataOut, &response, 100), 0);

  // The next answer is late: the call times out. When it and the answer to
  // the following request have arrived, the late one must not be taken for
  // the following request's answer (it carries the other result).
  EXPECT_EQ(channel->Call(dataOut, &response, 100), kTimedOut);
  Append(&socket->incoming, {WireOp::DataOut, 31, {}});
  Append(&socket->incoming, {WireOp::DataOut, 0, {}});
  const size_t writtenBefore = socket->written.size();
  EXPECT_EQ(channel->Call(dataOut, &response, 100), kAborted);
  EXPECT_EQ(socket->written.size(), writtenBefore) << "nothing more is sent on a failed channel";

  // A foreign answer fails a fresh channel the same way.
  auto other = std::make_unique<ScriptedSocket>();
  other->incoming = Bytes(merro::sim::kResponseHeaderLen, 0x55);
  Append(&other->incoming, {WireOp::DataOut, 0, {}});
  const std::unique_ptr<merro::sim::SimChannel> second =
      merro::sim::MakeStreamChannel(std::move(other));
  EXPECT_EQ(second->Call(dataOut, &response, 100), static_cast<HRESULT>(0x8007000D));
  EXPECT_EQ(second->Call(dataOut, &response, 100), kAborted);
}

}  // namespace
