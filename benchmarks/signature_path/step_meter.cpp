#include "benchmarks/signature_path/step_meter.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/sim_transport.h"

namespace merro::bench {
namespace {

merro::sim::ChannelFactory Simulator() {
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  return merro::sim::TcpChannelFactory(sim != nullptr ? sim : "");
}

std::string Hex(DWORD value) {
  char text[16] = {};
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace

bool StepMeter::ClearLog(const char* what, std::string* pError) const {
  const HRESULT hr =
      merro::sim::SimControl(Simulator(), "log " + std::to_string(m_token) + " clear", nullptr);
  if (FAILED(hr)) {
    *pError = std::string(what) + ": the simulator's command log cannot be cleared (" +
              Hex(static_cast<DWORD>(hr)) + ")";
    return false;
  }
  return true;
}

bool StepMeter::ReadLog(const char* what, size_t* pCommands, std::string* pError) const {
  std::vector<std::uint8_t> ins;
  const HRESULT hr = merro::sim::SimCommandLog(Simulator(), m_token, &ins);
  if (FAILED(hr)) {
    *pError = std::string(what) + ": the simulator's command log cannot be read (" +
              Hex(static_cast<DWORD>(hr)) + ")";
    return false;
  }
  *pCommands = ins.size();
  return true;
}

std::string StepMeter::Failure(const char* what, DWORD error) {
  return std::string(what) + " failed: " + Hex(error);
}

}  // namespace merro::bench
