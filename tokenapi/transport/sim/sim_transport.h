// The transport backend that talks to a simulator over SimChannels: TCP to
// merro-tokensim, or the in-process simulator of the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/transport.h"

namespace merro::sim {

std::shared_ptr<transport::Transport> MakeSimTransport(ChannelFactory factory);

// The backend selected by MERRO_TOKEN_SIM=host:port.
std::shared_ptr<transport::Transport> MakeTcpSimTransport(const std::string& hostPort);

// Sends one control command to the simulator and returns its answer; 0 or
// the folded error the simulator reported (its text in *pAnswer).
HRESULT SimControl(const ChannelFactory& factory, const std::string& command, std::string* pAnswer);

// The INS bytes of the commands token `token` received since its log was
// last cleared (control command "log <i>"), oldest first; with clear, the
// log is cleared after it was read ("log <i> clear"). 0, the folded error
// the simulator reported, or ERROR_INVALID_DATA for an answer that is not
// a list of bytes.
HRESULT SimCommandLog(const ChannelFactory& factory, size_t token, std::vector<std::uint8_t>* pIns,
                      bool clear = false);

}  // namespace merro::sim
