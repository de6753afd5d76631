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

}  // namespace merro::sim
