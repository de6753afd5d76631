#include "tests/tokenapi/support/sim_fixture.h"

#include <cstring>

#include "tokenapi/transport/device_names.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/transport.h"
#include "tokensim/inproc/inproc_channel.h"

namespace merro::testing {

void SimulatorTest::SetUp() {
  std::string error;
  m_sim = std::shared_ptr<merro::tokensim::Simulator>(
      merro::tokensim::Simulator::Create({TokenCount(), ""}, &error));
  ASSERT_TRUE(m_sim) << error;
  merro::transport::SetTransportOverride(merro::tokensim::MakeInProcessTransport(m_sim));
}

void SimulatorTest::TearDown() {
  for (auto& ctx : m_contexts) {
    MerroCloseDevice(ctx->hDevice);
    MerroCloseMutex(ctx.get());
  }
  m_contexts.clear();
  merro::transport::SetTransportOverride(nullptr);
}

DEV_CTX* SimulatorTest::OpenToken(size_t i) {
  auto ctx = std::make_unique<DEV_CTX>();
  std::memset(ctx.get(), 0, sizeof(DEV_CTX));
  const std::string path = m_sim->DevicePath(i);
  EXPECT_EQ(MerroOpenDevice(path.c_str(), ctx.get()), 0);
  std::string name;
  EXPECT_EQ(merro::transport::DeviceMutexNameFromPath(path, &name),
            merro::transport::MutexNameError::None);
  std::memcpy(ctx->szMutexName, name.c_str(), name.size() + 1);
  EXPECT_EQ(MerroCreateMutex(ctx.get()), 0);
  m_contexts.push_back(std::move(ctx));
  return m_contexts.back().get();
}

std::string SimulatorTest::Control(const std::string& command) {
  std::string answer;
  EXPECT_TRUE(m_sim->Control(command, &answer)) << command << ": " << answer;
  return answer;
}

}  // namespace merro::testing
