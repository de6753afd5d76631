// A channel to a simulator: one request out, its response back. A channel
// is one session of the simulator; opening a device binds it to a token.
#pragma once

#include <functional>
#include <memory>

#include "foundation/platform.h"
#include "tokenapi/transport/sim/sim_wire.h"

namespace merro::sim {

class SimChannel {
 public:
  virtual ~SimChannel() = default;
  // 0, or a folded Windows error when the simulator cannot be reached or
  // does not answer within nTimeoutMs.
  virtual HRESULT Call(const WireRequest& request, WireResponse* pResponse, DWORD nTimeoutMs) = 0;
};

// Makes a new channel (a new session), or fails with a folded error.
using ChannelFactory = std::function<HRESULT(std::unique_ptr<SimChannel>*)>;

// Channels to the daemon over TCP; hostPort is "host:port".
ChannelFactory TcpChannelFactory(const std::string& hostPort);

class StreamSocket;
// The channel over one connected stream that TcpChannelFactory makes. After
// a call that failed part-way every later call fails with
// ERROR_CONNECTION_ABORTED: the stream's place is unknown, so the device is
// opened again (a new session) rather than read out of step.
std::unique_ptr<SimChannel> MakeStreamChannel(std::unique_ptr<StreamSocket> socket);

}  // namespace merro::sim
