#include "tokensim/daemon/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace merro::tokensim {
namespace {

constexpr int kSaveIntervalMs = 250;

bool ReadAll(int fd, std::uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

void SaveAndReport(Simulator& simulator, bool force) {
  std::string error;
  if (!simulator.SaveImage(force, &error)) {
    std::fprintf(stderr, "merro-tokensim: %s\n", error.c_str());
  }
}

}  // namespace

Server::~Server() {
  if (m_listen >= 0) {
    ::close(m_listen);
  }
}

bool Server::Listen(std::uint16_t port, std::string* pError) {
  m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listen < 0) {
    *pError = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listen, 64) != 0) {
    *pError = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof address;
  ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &len);
  m_port = ntohs(address.sin_port);
  return true;
}

void Server::Run(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    pollfd pfd{m_listen, POLLIN, 0};
    const int rc = ::poll(&pfd, 1, kSaveIntervalMs);
    if (rc > 0) {
      const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([this, fd] { Serve(fd); }).detach();
      }
    }
    SaveAndReport(m_simulator, false);
  }
  SaveAndReport(m_simulator, false);
}

void Server::Serve(int fd) {
  Session session;
  for (;;) {
    merro::sim::Bytes message(merro::sim::kRequestHeaderLen);
    merro::sim::WireOp op;
    std::uint32_t len = 0;
    if (!ReadAll(fd, message.data(), message.size()) ||
        !merro::sim::ParseRequestHeader(message.data(), message.size(), &op, &len)) {
      break;  // closed, or not our protocol: drop the connection
    }
    message.resize(merro::sim::kRequestHeaderLen + len);
    if (!ReadAll(fd, message.data() + merro::sim::kRequestHeaderLen, len)) {
      break;
    }
    const merro::sim::Bytes response = m_simulator.HandleMessage(session, message.data(), message.size());
    if (response.empty() || !WriteAll(fd, response.data(), response.size())) {
      break;
    }
  }
  ::close(fd);
}

}  // namespace merro::tokensim
