// The token file-layout scenarios against the merro-tokensim daemon over
// TCP, natively and from the Windows build under Wine. Run by
// run-with-tokensim, which starts the daemon and sets MERRO_TOKEN_SIM.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/tokenapi/integration/token_files_scenarios.h"
#include "tests/tokenapi/support/test_context.h"

namespace {

class TokenFilesDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    const std::vector<std::string> tokens = merro::testing::ListTokens();
    ASSERT_FALSE(tokens.empty());
    m_env.deviceName = tokens[0];
  }
  merro::testing::TokenFilesEnv m_env;
};

TEST_F(TokenFilesDaemon, InitialiseBlankToken) { merro::testing::InitialiseBlankToken(m_env); }
TEST_F(TokenFilesDaemon, ContainersKeysCertificates) {
  merro::testing::ContainersKeysCertificates(m_env);
}

}  // namespace
