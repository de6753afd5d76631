// A GoogleTest fixture with an in-process simulator installed as the
// transport, and device contexts opened on its tokens.
//
//   class MyTest : public merro::testing::SimulatorTest {};
//   TEST_F(MyTest, X) { DEV_CTX* ctx = OpenToken(0); ... mr_GetChipSN(ctx, ...); }
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tokenapi/transport/device_ctx.h"
#include "tokensim/core/simulator.h"

namespace merro::testing {

class SimulatorTest : public ::testing::Test {
 protected:
  // Number of tokens of the simulator made in SetUp.
  virtual size_t TokenCount() const { return 2; }

  void SetUp() override;
  void TearDown() override;

  // A context on token i: device opened, mutex name derived, mutex created.
  // Closed again in TearDown.
  DEV_CTX* OpenToken(size_t i);
  // Sends a control command; fails the test when it is refused.
  std::string Control(const std::string& command);

  std::shared_ptr<merro::tokensim::Simulator> m_sim;

 private:
  std::vector<std::unique_ptr<DEV_CTX>> m_contexts;
};

}  // namespace merro::testing
