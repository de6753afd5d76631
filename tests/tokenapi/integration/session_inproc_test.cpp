// The session scenarios against the in-process simulator.
#include <gtest/gtest.h>

#include <memory>

#include "tests/tokenapi/integration/session_scenarios.h"
#include "tokenapi/transport/transport.h"
#include "tokensim/core/simulator.h"
#include "tokensim/inproc/inproc_channel.h"

namespace {

using merro::testing::SessionEnv;

class SessionInProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    m_sim = std::shared_ptr<merro::tokensim::Simulator>(merro::tokensim::Simulator::Create({2, ""}, &error));
    ASSERT_TRUE(m_sim) << error;
    m_log = std::make_shared<merro::testing::FrameLogTransport>(merro::tokensim::MakeInProcessTransport(m_sim));
    merro::transport::SetTransportOverride(m_log);
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  SessionEnv Env(size_t token) {
    SessionEnv env;
    env.control = [this](const std::string& command) {
      std::string answer;
      EXPECT_TRUE(m_sim->Control(command, &answer)) << command << ": " << answer;
      return answer;
    };
    env.deviceName = m_sim->DevicePath(token);
    env.tokenIndex = std::to_string(token);
    env.log = m_log.get();
    return env;
  }

  std::shared_ptr<merro::tokensim::Simulator> m_sim;
  std::shared_ptr<merro::testing::FrameLogTransport> m_log;
};

TEST_F(SessionInProcess, PinLifecycle) { merro::testing::PinLifecycle(Env(0)); }
TEST_F(SessionInProcess, ButtonAnswers) { merro::testing::ButtonAnswers(Env(0)); }
TEST_F(SessionInProcess, ResetDropsSession) { merro::testing::ResetDropsSession(Env(0)); }
TEST_F(SessionInProcess, TokenFactsPerContext) { merro::testing::TokenFactsPerContext(Env(0)); }
TEST_F(SessionInProcess, ProofsAreSingleUse) { merro::testing::ProofsAreSingleUse(Env(0)); }
TEST_F(SessionInProcess, AuthenticationGuardsAndTries) { merro::testing::AuthenticationGuardsAndTries(Env(0)); }
TEST_F(SessionInProcess, UnprovisionedTokenRefusesOpen) {
  merro::testing::UnprovisionedTokenRefusesOpen(Env(1));
}

}  // namespace
