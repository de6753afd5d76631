// merro-simplug.exe: pulls a simulated token out or plugs it back in while
// the certificate manager runs, and tells the manager as the system would.
//
//   merro-simplug (insert | pull) <i>
//
// It sends "insert <i>" / "pull <i>" to the simulator that MERRO_TOKEN_SIM
// names, then WM_DEVICECHANGE (arrival / removal) with the token's USB
// device-interface name to the manager's main dialog. Exit status 0 when
// both were done, 1 when one failed, 2 for a usage error.
#include <windows.h>
#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/sim_transport.h"
#include "tools/simplug/device_broadcast.h"

namespace {

// The manager refreshes its tree and the store before it answers.
constexpr DWORD kAnswerTimeoutMs = 60000;

int Fail(const std::string& what) {
  std::fprintf(stderr, "merro-simplug: %s\n", what.c_str());
  return 1;
}

bool Control(const std::string& command, std::string* pAnswer) {
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  return merro::sim::SimControl(merro::sim::TcpChannelFactory(sim != nullptr ? sim : ""), command,
                                pAnswer) == S_OK;
}

// The device path of token i in the simulator's list.
std::string DevicePath(int i) {
  std::string list;
  if (!Control("list", &list)) {
    return {};
  }
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    int number = -1;
    std::string state, path;
    if (words >> number >> state >> path && number == i) {
      return path;
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "insert" && std::string(argv[1]) != "pull")) {
    std::fprintf(stderr, "usage: merro-simplug (insert | pull) <token number>\n");
    return 2;
  }
  const std::string verb = argv[1];
  char* end = nullptr;
  const long i = std::strtol(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0' || i < 0) {
    std::fprintf(stderr, "usage: merro-simplug (insert | pull) <token number>\n");
    return 2;
  }
  const std::string path = DevicePath(static_cast<int>(i));
  const std::string serial = merro::simplug::ChipSerialOfDevicePath(path);
  if (serial.empty()) {
    return Fail("no token " + std::to_string(i) + " at the simulator (MERRO_TOKEN_SIM)");
  }
  std::string answer;
  if (!Control(verb + " " + std::to_string(i), &answer) || answer != "ok") {
    return Fail(verb + " refused: " + answer);
  }
  std::printf("token %ld %s\n", i, verb == "insert" ? "inserted" : "pulled out");
  HWND manager = merro::simplug::FindManagerMainDialog();
  if (manager == nullptr) {
    return Fail("no certificate manager runs");
  }
  const WPARAM event = verb == "insert" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  if (!merro::simplug::SendDeviceChange(manager, event, merro::simplug::UsbInterfaceName(serial),
                                        kAnswerTimeoutMs)) {
    return Fail("the manager did not answer the device change");
  }
  std::printf("the manager was told\n");
  return 0;
}
