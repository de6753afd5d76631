// The in-process simulator backend for unit tests: the transport of tokenapi
// talks to a Simulator in the same process, through the same wire messages
// as to the daemon.
//
//   auto sim = std::shared_ptr<Simulator>(Simulator::Create({2, ""}, &error));
//   merro::transport::SetTransportOverride(merro::tokensim::MakeInProcessTransport(sim));
#pragma once

#include <memory>

#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/transport.h"
#include "tokensim/core/simulator.h"

namespace merro::tokensim {

merro::sim::ChannelFactory InProcessChannelFactory(std::shared_ptr<Simulator> simulator);
std::shared_ptr<merro::transport::Transport> MakeInProcessTransport(std::shared_ptr<Simulator> simulator);

}  // namespace merro::tokensim
