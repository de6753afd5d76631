// The transport backend that talks to a simulator over SimChannels: TCP to
// merro-tokensim, or the in-process simulator of the tests.
#pragma once

#include <memory>
#include <string>

#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/transport.h"

namespace merro::sim {

std::shared_ptr<transport::Transport> MakeSimTransport(ChannelFactory factory);

// The backend selected by MERRO_TOKEN_SIM=host:port.
std::shared_ptr<transport::Transport> MakeTcpSimTransport(const std::string& hostPort);

// Sends one control command to the simulator and returns its answer; 0 or
// the folded error the simulator reported (its text in *pAnswer).
HRESULT SimControl(const ChannelFactory& factory, const std::string& command, std::string* pAnswer);

}  // namespace merro::sim
