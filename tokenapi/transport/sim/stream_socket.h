// A connected TCP stream with whole-buffer send and receive under a
// deadline. POSIX sockets natively (posix/), Winsock on Windows (win/).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/platform.h"

namespace merro::sim {

class StreamSocket {
 public:
  virtual ~StreamSocket() = default;
  // 0, or a folded Windows error (ERROR_SEM_TIMEOUT when time ran out,
  // ERROR_CONNECTION_ABORTED 1236 when the peer closed the stream).
  virtual HRESULT SendAll(const std::uint8_t* p, size_t n, DWORD nTimeoutMs) = 0;
  virtual HRESULT RecvAll(std::uint8_t* p, size_t n, DWORD nTimeoutMs) = 0;

  // Connects to host:port (a numeric or named host, IPv4).
  static HRESULT Connect(const std::string& host, std::uint16_t port, DWORD nTimeoutMs,
                         std::unique_ptr<StreamSocket>* pSocket);
};

// Splits "host:port"; false when the port is missing or not 1..65535.
bool SplitHostPort(const std::string& hostPort, std::string* pHost, std::uint16_t* pPort);

}  // namespace merro::sim
