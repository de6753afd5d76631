#include "tests/tokenapi/support/sim_fixture.h"

#include "tests/tokenapi/support/test_context.h"
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
    CloseTestContext(ctx.get());
  }
  m_contexts.clear();
  merro::transport::SetTransportOverride(nullptr);
}

DEV_CTX* SimulatorTest::OpenToken(size_t i) {
  auto ctx = std::make_unique<DEV_CTX>();
  EXPECT_EQ(OpenTestContext(m_sim->DevicePath(i), ctx.get()), 0);
  m_contexts.push_back(std::move(ctx));
  return m_contexts.back().get();
}

std::string SimulatorTest::Control(const std::string& command) {
  std::string answer;
  EXPECT_TRUE(m_sim->Control(command, &answer)) << command << ": " << answer;
  return answer;
}

}  // namespace merro::testing
