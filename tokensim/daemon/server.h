// The daemon's TCP server: loopback only, one thread per connection, each
// connection one session of the simulator.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tokensim/core/simulator.h"

namespace merro::tokensim {

class Server {
 public:
  explicit Server(Simulator& simulator) : m_simulator(simulator) {}
  ~Server();

  // Binds 127.0.0.1:port (0: a free port). False and *pError on failure.
  bool Listen(std::uint16_t port, std::string* pError);
  std::uint16_t Port() const { return m_port; }

  // Serves until *stop becomes true; saves the image when tokens changed,
  // every few hundred milliseconds and once more at the end.
  void Run(const std::atomic<bool>& stop);

 private:
  void Serve(int fd);

  Simulator& m_simulator;
  int m_listen = -1;
  std::uint16_t m_port = 0;
};

}  // namespace merro::tokensim
