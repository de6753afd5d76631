// merro-tokensim: the token simulator daemon.
//
//   merro-tokensim --port N [--tokens N] [--image FILE] [--port-file FILE]
//                  [--provision]
//
// Listens on 127.0.0.1 only. --port 0 takes a free port; --port-file then
// tells which (the number and a newline, written once listening). --image
// keeps the tokens across restarts. --provision gives every token at start
// what the factory would (PIN file with the factory PINs, the external
// authentication keys, a temporary SM2 key pair), as the control command
// "provision" does. SIGINT/SIGTERM save and stop.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tokensim/core/simulator.h"
#include "tokensim/daemon/server.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop.store(true); }

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "merro-tokensim: %s\n"
               "usage: merro-tokensim --port N [--tokens N] [--image FILE] [--port-file FILE]\n"
               "                      [--provision]\n"
               "  --port N       TCP port on 127.0.0.1 (0: any free port)\n"
               "  --tokens N     number of simulated tokens, 1 to 16 (default 2)\n"
               "  --image FILE   keep the tokens in FILE across restarts\n"
               "  --port-file F  write the port listened on to F\n"
               "  --provision    provision every token at start (factory PINs and keys)\n",
               why.c_str());
  return 2;
}

bool ParseUnsigned(const char* text, unsigned long max, unsigned long* pValue) {
  if (text == nullptr || *text < '0' || *text > '9') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (*end != '\0' || errno != 0 || v > max) {
    return false;
  }
  *pValue = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long port = 0, tokens = 2;
  bool havePort = false;
  bool provision = false;
  std::string image, portFile;
  // Every argument but --provision takes a value: --name value.
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--provision") {
      provision = true;
      --i;
    } else if (arg == "--port") {
      if (!ParseUnsigned(value, 65535, &port)) {
        return Usage("--port wants a number from 0 to 65535");
      }
      havePort = true;
    } else if (arg == "--tokens") {
      if (!ParseUnsigned(value, 16, &tokens) || tokens == 0) {
        return Usage("--tokens wants a number from 1 to 16");
      }
    } else if (arg == "--image") {
      if (value == nullptr || *value == '\0') {
        return Usage("--image wants a file name");
      }
      image = value;
    } else if (arg == "--port-file") {
      if (value == nullptr || *value == '\0') {
        return Usage("--port-file wants a file name");
      }
      portFile = value;
    } else {
      return Usage("unknown argument: " + arg);
    }
  }
  if (!havePort) {
    return Usage("--port is required");
  }

  std::string error;
  auto simulator = merro::tokensim::Simulator::Create({tokens, image}, &error);
  if (!simulator) {
    std::fprintf(stderr, "merro-tokensim: %s\n", error.c_str());
    return 1;
  }
  for (size_t i = 0; provision && i < simulator->TokenCount(); ++i) {
    std::string answer;
    if (!simulator->Control("provision " + std::to_string(i), &answer)) {
      std::fprintf(stderr, "merro-tokensim: provisioning token %zu: %s\n", i, answer.c_str());
      return 1;
    }
  }
  merro::tokensim::Server server(*simulator);
  if (!server.Listen(static_cast<std::uint16_t>(port), &error)) {
    std::fprintf(stderr, "merro-tokensim: %s\n", error.c_str());
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (!portFile.empty()) {
    const std::string temporary = portFile + ".tmp";
    std::ofstream(temporary) << server.Port() << "\n";
    std::rename(temporary.c_str(), portFile.c_str());
  }
  std::printf("merro-tokensim: %zu token(s) on 127.0.0.1:%u\n", simulator->TokenCount(),
              static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  server.Run(g_stop);
  // Connection threads may still be serving: end here, without running the
  // destructors of what they use. The image was saved by Run.
  std::fflush(nullptr);
  std::_Exit(0);
}
