// StreamSocket over POSIX sockets.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/result.h"
#include "tokenapi/transport/sim/stream_socket.h"

namespace merro::sim {
namespace {

constexpr LONG kErrorSemTimeout = 121;
constexpr LONG kErrorConnectionRefused = 1225;
constexpr LONG kErrorConnectionAborted = 1236;

class PosixSocket final : public StreamSocket {
 public:
  explicit PosixSocket(int fd) : m_fd(fd) {}
  ~PosixSocket() override { ::close(m_fd); }

 protected:
  HRESULT WaitReady(bool readable, DWORD nTimeoutMs) override {
    pollfd pfd{m_fd, static_cast<short>(readable ? POLLIN : POLLOUT), 0};
    const int rc = ::poll(&pfd, 1, static_cast<int>(nTimeoutMs));
    if (rc > 0 || (rc < 0 && errno == EINTR)) {
      return S_OK;  // ready, or interrupted: the loop looks at the clock again
    }
    return FoldWin32Error(rc == 0 ? kErrorSemTimeout : kErrorConnectionAborted);
  }

  long SendSome(const std::uint8_t* p, size_t n) override {
    return Outcome(::send(m_fd, p, n, MSG_NOSIGNAL));
  }

  long RecvSome(std::uint8_t* p, size_t n) override { return Outcome(::recv(m_fd, p, n, 0)); }

 private:
  static long Outcome(ssize_t moved) {
    if (moved > 0) {
      return static_cast<long>(moved);
    }
    return moved < 0 && (errno == EINTR || errno == EAGAIN) ? kRetry : kBroken;
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
