// The token file-layout scenarios against the in-process simulator.
#include <gtest/gtest.h>

#include "tests/tokenapi/integration/token_files_scenarios.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokensim/handlers/key_generation.h"

namespace {

class TokenFilesInProcess : public merro::testing::SimulatorTest {
 protected:
  size_t TokenCount() const override { return 1; }
  merro::testing::TokenFilesEnv Env() {
    merro::tokensim::keygen::UseKeyCache(true);
    return {m_sim->DevicePath(0)};
  }
};

TEST_F(TokenFilesInProcess, InitialiseBlankToken) { merro::testing::InitialiseBlankToken(Env()); }
TEST_F(TokenFilesInProcess, ContainersKeysCertificates) {
  merro::testing::ContainersKeysCertificates(Env());
}

}  // namespace
