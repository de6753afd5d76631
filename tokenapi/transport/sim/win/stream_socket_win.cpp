// StreamSocket over Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "foundation/result.h"
#include "tokenapi/transport/sim/stream_socket.h"

namespace merro::sim {
namespace {

constexpr LONG kErrorSemTimeout = 121;
constexpr LONG kErrorConnectionRefused = 1225;
constexpr LONG kErrorConnectionAborted = 1236;
constexpr size_t kMaxChunk = 0x10000;

bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

class WinSocket final : public StreamSocket {
 public:
  explicit WinSocket(SOCKET s) : m_socket(s) {}
  ~WinSocket() override { ::closesocket(m_socket); }

 protected:
  HRESULT WaitReady(bool readable, DWORD nTimeoutMs) override {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(m_socket, &set);
    timeval tv{static_cast<long>(nTimeoutMs / 1000), static_cast<long>((nTimeoutMs % 1000) * 1000)};
    const int rc = ::select(0, readable ? &set : nullptr, readable ? nullptr : &set, nullptr, &tv);
    if (rc > 0) {
      return S_OK;
    }
    return FoldWin32Error(rc == 0 ? kErrorSemTimeout : kErrorConnectionAborted);
  }

  long SendSome(const std::uint8_t* p, size_t n) override {
    return Outcome(::send(m_socket, reinterpret_cast<const char*>(p), Chunk(n), 0));
  }

  long RecvSome(std::uint8_t* p, size_t n) override {
    return Outcome(::recv(m_socket, reinterpret_cast<char*>(p), Chunk(n), 0));
  }

 private:
  static int Chunk(size_t n) { return static_cast<int>(n > kMaxChunk ? kMaxChunk : n); }
  static long Outcome(int moved) {
    if (moved > 0) {
      return moved;
    }
    return moved == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK ? kRetry : kBroken;
  }

  SOCKET m_socket;
};

}  // namespace

HRESULT StreamSocket::Connect(const std::string& host, std::uint16_t port, DWORD nTimeoutMs,
                              std::unique_ptr<StreamSocket>* pSocket) {
  if (!StartWinsock()) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  const SOCKET s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (s == INVALID_SOCKET) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  auto socket = std::make_unique<WinSocket>(s);
  const DWORD timeout = nTimeoutMs;
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  if (::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == SOCKET_ERROR) {
    return FoldWin32Error(kErrorConnectionRefused);
  }
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  *pSocket = std::move(socket);
  return S_OK;
}

}  // namespace merro::sim
