// SimChannel over TCP to the merro-tokensim daemon: one connection per channel.
#include <cstdlib>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/stream_socket.h"

namespace merro::sim {
namespace {

constexpr DWORD kConnectTimeoutMs = 5000;
constexpr DWORD kErrorBadReply = 13;            // ERROR_INVALID_DATA
constexpr DWORD kErrorConnectionAborted = 1236;  // ERROR_CONNECTION_ABORTED

class TcpChannel final : public SimChannel {
 public:
  explicit TcpChannel(std::unique_ptr<StreamSocket> socket) : m_socket(std::move(socket)) {}

  HRESULT Call(const WireRequest& request, WireResponse* pResponse, DWORD nTimeoutMs) override {
  MR_TRACE("TcpChannel::Call");
    // A call that failed part-way (time-out, short read, foreign header)
    // leaves the stream at an unknown place: a late response would be
    // taken for the answer to the next request. The channel stays failed.
    if (m_broken) {
      return FoldWin32Error(kErrorConnectionAborted);
    }
    const HRESULT hr = Exchange(request, pResponse, nTimeoutMs);
    m_broken = FAILED(hr);
    return hr;
  }

 private:
  HRESULT Exchange(const WireRequest& request, WireResponse* pResponse, DWORD nTimeoutMs) {
    Bytes out = EncodeRequest(request);
    const merro::WipeOnExit wipeOut(out);  // the frame may hold a PIN digest or a key
    HRESULT hr = m_socket->SendAll(out.data(), out.size(), nTimeoutMs);
    std::uint8_t header[kResponseHeaderLen];
    if (SUCCEEDED(hr)) {
      hr = m_socket->RecvAll(header, sizeof header, nTimeoutMs);
    }
    if (FAILED(hr)) {
      return hr;
    }
    std::uint32_t len = 0;
    if (!ParseResponseHeader(header, sizeof header, &pResponse->op, &pResponse->result, &len) ||
        pResponse->op != request.op) {
      return FoldWin32Error(kErrorBadReply);
    }
    pResponse->payload.assign(len, 0);
    return len == 0 ? S_OK : m_socket->RecvAll(pResponse->payload.data(), len, nTimeoutMs);
  }

  std::unique_ptr<StreamSocket> m_socket;
  bool m_broken = false;
};

}  // namespace

std::unique_ptr<SimChannel> MakeStreamChannel(std::unique_ptr<StreamSocket> socket) {
  return std::make_unique<TcpChannel>(std::move(socket));
}

bool SplitHostPort(const std::string& hostPort, std::string* pHost, std::uint16_t* pPort) {
  const size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size() ||
      hostPort.size() - colon - 1 > 5) {
    return false;
  }
  unsigned long port = 0;
  for (size_t i = colon + 1; i < hostPort.size(); ++i) {
    const char c = hostPort[i];
    if (c < '0' || c > '9') {
      return false;
    }
    port = port * 10 + static_cast<unsigned long>(c - '0');
  }
  if (port == 0 || port > 65535) {
    return false;
  }
  *pHost = hostPort.substr(0, colon);
  *pPort = static_cast<std::uint16_t>(port);
  return true;
}

ChannelFactory TcpChannelFactory(const std::string& hostPort) {
  return [hostPort](std::unique_ptr<SimChannel>* pChannel) -> HRESULT {
    std::string host;
    std::uint16_t port = 0;
    if (!SplitHostPort(hostPort, &host, &port)) {
      return FoldWin32Error(ERROR_INVALID_PARAMETER);
    }
    std::unique_ptr<StreamSocket> socket;
    const HRESULT hr = StreamSocket::Connect(host, port, kConnectTimeoutMs, &socket);
    if (FAILED(hr)) {
      return hr;
    }
    *pChannel = MakeStreamChannel(std::move(socket));
    return S_OK;
  };
}

}  // namespace merro::sim
