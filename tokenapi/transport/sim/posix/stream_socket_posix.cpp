// StreamSocket over POSIX sockets.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "foundation/result.h"
#include "tokenapi/transport/sim/stream_socket.h"

namespace merro::sim {
namespace {

constexpr LONG kErrorSemTimeout = 121;
constexpr LONG kErrorConnectionRefused = 1225;
constexpr LONG kErrorConnectionAborted = 1236;

using Clock = std::chrono::steady_clock;

class PosixSocket final : public StreamSocket {
 public:
  explicit PosixSocket(int fd) : m_fd(fd) {}
  ~PosixSocket() override { ::close(m_fd); }

  HRESULT SendAll(const std::uint8_t* p, size_t n, DWORD nTimeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (n > 0) {
      const HRESULT hr = WaitFor(POLLOUT, deadline);
      if (FAILED(hr)) {
        return hr;
      }
      const ssize_t sent = ::send(m_fd, p, n, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR || errno == EAGAIN) {
          continue;
        }
        return FoldWin32Error(kErrorConnectionAborted);
      }
      p += sent;
      n -= static_cast<size_t>(sent);
    }
    return S_OK;
  }

  HRESULT RecvAll(std::uint8_t* p, size_t n, DWORD nTimeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (n > 0) {
      const HRESULT hr = WaitFor(POLLIN, deadline);
      if (FAILED(hr)) {
        return hr;
      }
      const ssize_t got = ::recv(m_fd, p, n, 0);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        continue;
      }
      if (got <= 0) {
        return FoldWin32Error(kErrorConnectionAborted);
      }
      p += got;
      n -= static_cast<size_t>(got);
    }
    return S_OK;
  }

 private:
  HRESULT WaitFor(short events, Clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        return FoldWin32Error(kErrorSemTimeout);
      }
      pollfd pfd{m_fd, events, 0};
      const int rc = ::poll(&pfd, 1, static_cast<int>(left.count()));
      if (rc > 0) {
        return S_OK;
      }
      if (rc == 0) {
        return FoldWin32Error(kErrorSemTimeout);
      }
      if (errno != EINTR) {
        return FoldWin32Error(kErrorConnectionAborted);
      }
    }
  }

  int m_fd;
};

}  // namespace

HRESULT StreamSocket::Connect(const std::string& host, std::uint16_t port, DWORD nTimeoutMs,
                              std::unique_ptr<StreamSocket>* pSocket) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  if (fd < 0) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  auto socket = std::make_unique<PosixSocket>(fd);
  timeval tv{static_cast<time_t>(nTimeoutMs / 1000), static_cast<suseconds_t>((nTimeoutMs % 1000) * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *pSocket = std::move(socket);
  return S_OK;
}

}  // namespace merro::sim
