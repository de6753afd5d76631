#include "tokensim/inproc/inproc_channel.h"

#include "foundation/result.h"
#include "tokenapi/transport/sim/sim_transport.h"

namespace merro::tokensim {
namespace {

class InProcessChannel final : public merro::sim::SimChannel {
 public:
  explicit InProcessChannel(std::shared_ptr<Simulator> simulator) : m_simulator(std::move(simulator)) {}

  HRESULT Call(const merro::sim::WireRequest& request, merro::sim::WireResponse* pResponse,
               DWORD) override {
    const merro::sim::Bytes in = merro::sim::EncodeRequest(request);
    const merro::sim::Bytes out = m_simulator->HandleMessage(m_session, in.data(), in.size());
    std::uint32_t len = 0;
    if (!merro::sim::ParseResponseHeader(out.data(), out.size(), &pResponse->op, &pResponse->result,
                                         &len) ||
        out.size() != merro::sim::kResponseHeaderLen + len) {
      return FoldWin32Error(ERROR_INVALID_PARAMETER);
    }
    pResponse->payload.assign(out.begin() + merro::sim::kResponseHeaderLen, out.end());
    return S_OK;
  }

 private:
  std::shared_ptr<Simulator> m_simulator;
  Session m_session;
};

}  // namespace

merro::sim::ChannelFactory InProcessChannelFactory(std::shared_ptr<Simulator> simulator) {
  return [simulator](std::unique_ptr<merro::sim::SimChannel>* pChannel) -> HRESULT {
    *pChannel = std::make_unique<InProcessChannel>(simulator);
    return S_OK;
  };
}

std::shared_ptr<merro::transport::Transport> MakeInProcessTransport(std::shared_ptr<Simulator> simulator) {
  return merro::sim::MakeSimTransport(InProcessChannelFactory(std::move(simulator)));
}

}  // namespace merro::tokensim
