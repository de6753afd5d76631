// What the benches share when they set a simulated token up through the
// token API directly: a token context closed on scope exit, and the step
// macro that turns a failed call into a test failure naming the call.
//
// BENCH_STEP needs an int `i` (the token number) in scope and returns an
// AssertionFailure from the enclosing function.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "tokenapi/api/token_api.h"

namespace merro::testing {

struct TokenContextCloser {
  void operator()(DEV_CTX* ctx) const { CloseDevice(ctx); }
};
using OpenToken = std::unique_ptr<DEV_CTX, TokenContextCloser>;

inline std::string HexResult(HRESULT hr) {
  std::ostringstream out;
  out << "0x" << std::hex << static_cast<std::uint32_t>(hr);
  return out.str();
}

}  // namespace merro::testing

#define BENCH_STEP(call)                                                                     \
  do {                                                                                       \
    const HRESULT hrStep = (call);                                                           \
    if (hrStep != S_OK) {                                                                    \
      return ::testing::AssertionFailure() << #call << " on token " << i << ": "             \
                                           << ::merro::testing::HexResult(hrStep);           \
    }                                                                                        \
  } while (0)
