// merro-demo-token: gives token <i> (default 0) of the running simulator
// (MERRO_TOKEN_SIM) the token fixture's standard token: an RSA-2048 and an
// SM2 container with their certificates, a container with keys only, and
// the name "Probe Key". Every other token of the simulator is pulled out, so
// that the manager shows this one alone. A simulator started with --image
// keeps it in its image. scripts/run uses it to show the certificate manager
// a real token.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/support/token_fixture.h"
#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/sim_transport.h"

int main(int argc, char** argv) {
  const int i = argc > 1 ? std::atoi(argv[1]) : 0;
  const ::testing::AssertionResult filled =
      merro::testing::TokenFixture::Fill(i, merro::testing::TokenFixture::Standard());
  if (!filled) {
    std::fprintf(stderr, "merro-demo-token: %s\n", filled.message());
    return 1;
  }
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  const auto control = [sim](const std::string& command) {
    std::string answer;
    merro::sim::SimControl(merro::sim::TcpChannelFactory(sim != nullptr ? sim : ""), command, &answer);
    return answer;
  };
  std::istringstream list(control("list"));
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream words(line);
    int number = -1;
    if (words >> number && number >= 0 && number != i) {
      control("pull " + std::to_string(number));
    }
  }
  // Written at once when the simulator keeps an image; refused (and of no
  // matter) when it keeps none.
  control("save");
  std::printf("token %d: containers rsa-both, sm2-both, keys-only; name \"Probe Key\"\n", i);
  return 0;
}
