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
  HRESULT SendAll(const std::uint8_t* p, size_t n, DWORD nTimeoutMs);
  HRESULT RecvAll(std::uint8_t* p, size_t n, DWORD nTimeoutMs);

  // Connects to host:port (a numeric or named host, IPv4).
  static HRESULT Connect(const std::string& host, std::uint16_t port, DWORD nTimeoutMs,
                         std::unique_ptr<StreamSocket>* pSocket);

 protected:
  // What one send or receive call of the platform did.
  static constexpr long kRetry = -1;   // interrupted or would block: wait again
  static constexpr long kBroken = 0;   // closed by the peer or failed
  // Waits until the socket can be read (or written) for at most nTimeoutMs:
  // 0, or ERROR_SEM_TIMEOUT / ERROR_CONNECTION_ABORTED folded.
  virtual HRESULT WaitReady(bool readable, DWORD nTimeoutMs) = 0;
  // One platform call: the number of bytes moved, kRetry or kBroken.
  virtual long SendSome(const std::uint8_t* p, size_t n) = 0;
  virtual long RecvSome(std::uint8_t* p, size_t n) = 0;

 private:
  template <class Io>
  HRESULT Loop(bool readable, size_t n, DWORD nTimeoutMs, Io io);
};

// Splits "host:port"; false when the port is missing or not 1..65535.
bool SplitHostPort(const std::string& hostPort, std::string* pHost, std::uint16_t* pPort);

}  // namespace merro::sim
