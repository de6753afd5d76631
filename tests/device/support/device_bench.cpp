#include "tests/device/support/device_bench.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "tokenapi/api/token_api.h"
#include "tokenapi/transport/sim/sim_channel.h"
#include "tokenapi/transport/sim/sim_transport.h"

namespace merro::testing {
::testing::AssertionResult DeviceBench::Open(int i, OpenToken* pToken) {
  DEV_CTX* ctx = nullptr;
  const HRESULT hr = OpenDevice(DeviceBench::DeviceName(i).c_str(), &ctx);
  pToken->reset(ctx);
  if (hr != S_OK || ctx == nullptr) {
    return ::testing::AssertionFailure() << "OpenDevice of token " << i << ": " << HexResult(hr);
  }
  return ::testing::AssertionSuccess();
}

std::string DeviceBench::Control(const std::string& command) {
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  std::string answer;
  const HRESULT hr =
      merro::sim::SimControl(merro::sim::TcpChannelFactory(sim != nullptr ? sim : ""), command, &answer);
  EXPECT_EQ(hr, S_OK) << command << ": " << answer;
  return answer;
}

std::vector<BYTE> DeviceBench::CommandLog(int i, bool clear) {
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  std::vector<std::uint8_t> ins;
  EXPECT_EQ(merro::sim::SimCommandLog(merro::sim::TcpChannelFactory(sim != nullptr ? sim : ""),
                                      static_cast<size_t>(i), &ins, clear),
            S_OK);
  return std::vector<BYTE>(ins.begin(), ins.end());
}

std::string DeviceBench::DeviceName(int i) {
  std::istringstream list(Control("list"));
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream words(line);
    int number = -1;
    std::string state, path;
    if (words >> number >> state >> path && number == i) {
      return path;
    }
  }
  ADD_FAILURE() << "no token " << i;
  return std::string();
}

std::vector<std::string> DeviceBench::ListedNames() {
  std::vector<std::string> names;
  DWORD size = 0;
  if (EnumDevice(nullptr, &size) != S_OK || size == 0) {
    return names;
  }
  std::vector<BYTE> list(size + 1, 0);
  if (EnumDevice(list.data(), &size) != S_OK) {
    return names;
  }
  for (size_t at = 0; at < size && list[at] != 0;) {
    names.emplace_back(reinterpret_cast<const char*>(&list[at]));
    at += names.back().size() + 1;
  }
  return names;
}

::testing::AssertionResult DeviceBench::Prepare(int i) {
  Control("provision " + std::to_string(i));
  OpenToken token;
  if (auto opened = Open(i, &token); !opened) {
    return opened;
  }
  BENCH_STEP(EraseMF(token.get()));
  // Reads PinFile.ini beside the test program.
  BENCH_STEP(InitTokenFile(token.get()));
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DeviceBench::Prepare(int i, const std::string& userPin) {
  if (auto prepared = Prepare(i); !prepared) {
    return prepared;
  }
  const std::string pins =
      " user " + userPin + " admin " + std::string(kFactoryPin) + " unlock " + kFactoryPin;
  if (Control("provision " + std::to_string(i) + pins) != "ok") {
    return ::testing::AssertionFailure() << "provision of token " << i << " refused";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DeviceBench::ProvisionOnly(int i) {
  if (auto gone = Unprovision(i); !gone) {
    return gone;
  }
  if (Control("provision " + std::to_string(i)) != "ok") {
    return ::testing::AssertionFailure() << "provision of token " << i << " refused";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DeviceBench::Unprovision(int i) {
  Control("provision " + std::to_string(i));
  OpenToken token;
  if (auto opened = Open(i, &token); !opened) {
    return opened;
  }
  // Erasing takes the external-authentication keys with everything else.
  BENCH_STEP(EraseMF(token.get()));
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DeviceBench::CreateContainers(int i, const std::vector<std::string>& names,
                                                         const std::string& userPin) {
  OpenToken token;
  if (auto opened = Open(i, &token); !opened) {
    return opened;
  }
  BENCH_STEP(SetSessionKey(token.get()));
  BENCH_STEP(VerifyPIN(token.get(), 1, reinterpret_cast<const BYTE*>(userPin.data()),
                       static_cast<BYTE>(userPin.size())));
  for (const std::string& name : names) {
    CONTAINER_RECORD record;
    std::memset(&record, 0, sizeof record);
    std::strncpy(record.szContainerName, name.c_str(), sizeof record.szContainerName);
    BENCH_STEP(CreateContainer(token.get(), &record));
    // Available, so that the next creation does not reclaim it as unfinished.
    BENCH_STEP(EnableContainer(token.get(), name.c_str(), static_cast<DWORD>(name.size())));
  }
  BENCH_STEP(ResetDevice(token.get()));
  return ::testing::AssertionSuccess();
}

}  // namespace merro::testing
