// Prepares simulated tokens for the tests of the device layer and of the
// layers above it, against the merro-tokensim daemon that run-with-tokensim
// started (MERRO_TOKEN_SIM). Token numbers are the simulator's.
//
// Prepare(i) gives token i what the factory gives a token: provisioned,
// erased and initialised with the PINs of the PinFile.ini that the build
// writes beside the test programs (User, Manager and Unlock all
// "47193628"), never changed, no containers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/platform.h"
#include "tests/device/support/bench_steps.h"

struct DEV_CTX;

namespace merro::testing {

// A token context opened through the token API, closed with the object.
struct DevCtxCloser {
  void operator()(DEV_CTX* ctx) const;
};
using OpenedToken = std::unique_ptr<DEV_CTX, DevCtxCloser>;

// An HRESULT as "0x8000ffff", for failure messages.
std::string HexResult(HRESULT hr);

// In a function that returns ::testing::AssertionResult: a call that does
// not give S_OK ends it with a failure naming the call, `where` (anything a
// stream takes) and the result.
#define MERRO_BENCH_STEP(call, where)                                                 \
  do {                                                                                \
    const HRESULT hrStep = (call);                                                    \
    if (hrStep != S_OK) {                                                             \
      return ::testing::AssertionFailure()                                            \
             << #call << " (" << where << "): " << ::merro::testing::HexResult(hrStep); \
    }                                                                                 \
  } while (0)

class DeviceBench {
 public:
  static constexpr char kFactoryPin[] = "47193628";

  // Opens token i through the token API (its own context, not the device
  // object's).
  static ::testing::AssertionResult Open(int i, OpenedToken* pToken);

  // Sends a control command; the answer. A refusal fails the test.
  static std::string Control(const std::string& command);
  // The device name of token i (inserted or not), as the token API lists it.
  static std::string DeviceName(int i);
  // The names the token API lists now, in its order.
  static std::vector<std::string> ListedNames();

  // Provisioned, erased, initialised (PINs "47193628"), no containers.
  static ::testing::AssertionResult Prepare(int i);
  // The same, then the user PIN replaced by another never-changed one.
  static ::testing::AssertionResult Prepare(int i, const std::string& userPin);
  // Provisioned only: it opens, but has no file system (listing fails).
  static ::testing::AssertionResult ProvisionOnly(int i);
  // Not provisioned: it cannot be opened.
  static ::testing::AssertionResult Unprovision(int i);
  // Creates containers on a prepared token, with its user PIN verified,
  // each made available (no keys yet).
  static ::testing::AssertionResult CreateContainers(int i, const std::vector<std::string>& names,
                                                     const std::string& userPin = kFactoryPin);

  // Opens token i in a context of the caller's own (closed with *pToken).
  static ::testing::AssertionResult Open(int i, OpenToken* pToken);

  // The INS bytes token i received since its log was last cleared; with
  // clear, the log is cleared after it was read.
  static std::vector<BYTE> CommandLog(int i, bool clear = false);

  static void Pull(int i) { Control("pull " + std::to_string(i)); }
  static void Insert(int i) { Control("insert " + std::to_string(i)); }
};

}  // namespace merro::testing
