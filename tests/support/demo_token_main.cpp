// merro-demo-token: prepares token <i> (default 0) of the running simulator
// (MERRO_TOKEN_SIM) for scripts/run and the demos, and pulls every other
// token of the simulator out, so that the programs that follow see this
// one alone. A simulator started with --image keeps it in its image.
//
//   merro-demo-token [i]            the token fixture's standard token: an
//                                   RSA-2048 and an SM2 container with their
//                                   certificates, a container with keys only,
//                                   and the name "Probe Key" (what the
//                                   certificate manager shows)
//   merro-demo-token --factory [i]  the token as a bank hands it out:
//                                   initialised with the PINs of the
//                                   PinFile.ini beside this program (user PIN
//                                   "47193628", never changed), no
//                                   containers; its holder will press OK on
//                                   the next confirmation on its display
//   merro-demo-token --display [i]  prints what token i's display showed
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "tests/device/support/device_bench.h"
#include "tests/support/token_fixture.h"
#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/sim_transport.h"

int main(int argc, char** argv) {
  int arg = 1;
  const bool factory = argc > arg && std::strcmp(argv[arg], "--factory") == 0;
  const bool display = argc > arg && std::strcmp(argv[arg], "--display") == 0;
  if (factory || display) {
    ++arg;
  }
  const int i = argc > arg ? std::atoi(argv[arg]) : 0;
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  const auto control = [sim](const std::string& command) {
    std::string answer;
    merro::sim::SimControl(merro::sim::TcpChannelFactory(sim != nullptr ? sim : ""), command, &answer);
    return answer;
  };
  if (display) {
    std::istringstream lines(control("display " + std::to_string(i)));
    std::string line;
    while (std::getline(lines, line)) {
      std::printf("token %d display: %s\n", i, line.c_str());
    }
    return 0;
  }
  const ::testing::AssertionResult filled =
      factory ? merro::testing::DeviceBench::Prepare(i)
              : merro::testing::TokenFixture::Fill(i, merro::testing::TokenFixture::Standard());
  if (!filled) {
    std::fprintf(stderr, "merro-demo-token: %s\n", filled.message());
    return 1;
  }
  std::istringstream list(control("list"));
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream words(line);
    int number = -1;
    if (words >> number && number >= 0 && number != i) {
      control("pull " + std::to_string(number));
    }
  }
  if (factory) {
    // Nothing shown yet, and the holder's answer to the token's next
    // confirmation queued now.
    control("display " + std::to_string(i) + " clear");
    const std::string answer = control("button " + std::to_string(i) + " ok");
    if (answer != "ok") {
      std::fprintf(stderr, "merro-demo-token: button refused: %s\n", answer.c_str());
      return 1;
    }
  }
  // Written at once when the simulator keeps an image; refused (and of no
  // matter) when it keeps none.
  control("save");
  if (factory) {
    std::printf("token %d: as the bank hands it out (user PIN from PinFile.ini, never changed, "
                "no containers); OK will be pressed on its display\n",
                i);
  } else {
    std::printf("token %d: containers rsa-both, sm2-both, keys-only; name \"Probe Key\"\n", i);
  }
  return 0;
}
