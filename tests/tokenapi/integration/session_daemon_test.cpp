// The session scenarios against the merro-tokensim daemon over TCP,
// natively and from the Windows build under Wine. Run by run-with-tokensim,
// which starts the daemon with two tokens and sets MERRO_TOKEN_SIM.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "tests/tokenapi/integration/session_scenarios.h"
#include "tests/tokenapi/support/test_context.h"
#include "tokenapi/transport/sim/sim_transport.h"
#include "tokenapi/transport/transport.h"

namespace {

using merro::testing::SessionEnv;

class SessionDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* sim = std::getenv("MERRO_TOKEN_SIM");
    ASSERT_NE(sim, nullptr) << "run under run-with-tokensim";
    m_address = sim;
    m_log = std::make_shared<merro::testing::FrameLogTransport>(merro::sim::MakeTcpSimTransport(m_address));
    merro::transport::SetTransportOverride(m_log);
    m_tokens = merro::testing::ListTokens();
    ASSERT_EQ(m_tokens.size(), 2u);
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  // Token 0 is provisioned by the scenarios; token 1 never is.
  SessionEnv Env(size_t token) {
    SessionEnv env;
    env.control = [this](const std::string& command) {
      std::string answer;
      EXPECT_EQ(merro::sim::SimControl(merro::sim::TcpChannelFactory(m_address), command, &answer), 0)
          << command << ": " << answer;
      return answer;
    };
    env.deviceName = m_tokens.at(token);
    env.tokenIndex = std::to_string(token);
    env.log = m_log.get();
    return env;
  }

  std::string m_address;
  std::shared_ptr<merro::testing::FrameLogTransport> m_log;
  std::vector<std::string> m_tokens;
};

TEST_F(SessionDaemon, PinLifecycle) { merro::testing::PinLifecycle(Env(0)); }
TEST_F(SessionDaemon, ButtonAnswers) { merro::testing::ButtonAnswers(Env(0)); }
TEST_F(SessionDaemon, ResetDropsSession) { merro::testing::ResetDropsSession(Env(0)); }
TEST_F(SessionDaemon, TokenFactsPerContext) { merro::testing::TokenFactsPerContext(Env(0)); }
TEST_F(SessionDaemon, ProofsAreSingleUse) { merro::testing::ProofsAreSingleUse(Env(0)); }
TEST_F(SessionDaemon, AuthenticationGuardsAndTries) { merro::testing::AuthenticationGuardsAndTries(Env(0)); }
TEST_F(SessionDaemon, UnprovisionedTokenRefusesOpen) {
  merro::testing::UnprovisionedTokenRefusesOpen(Env(1));
}

}  // namespace
