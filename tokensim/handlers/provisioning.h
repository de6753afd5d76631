// Provisioning a simulated token for tests: what token initialisation gives
// a blank token, written straight into the token's state.
//
//   ProvisionToken(token, {}, &error);             // factory PINs "905172"
//   control channel: "provision 0 user 1234 retry 5"
#pragma once

#include <string>
#include <vector>

#include "tokensim/core/token.h"

namespace merro::tokensim {

constexpr char kFactoryPin[] = "905172";
constexpr std::uint8_t kDefaultRetry = 6;

struct Provisioning {
  std::string userPin = kFactoryPin;
  std::string adminPin = kFactoryPin;
  std::string unlockPin = kFactoryPin;
  std::uint8_t pinRetry = kDefaultRetry;  // tries of each PIN (1 to 15)
};

// Creates the PIN file (0x0000) and the temporary key file (0x0012) when
// missing; writes the user, administrator and unlock PINs (MD5 digests, not
// changed, full tries) and both external-authentication keys (0x34 the
// configuration key, 0x33 derived from the chip serial number, 6 tries);
// generates a fresh temporary SM2 key pair. Clears the security state.
// False and *pError when something cannot be written.
bool ProvisionToken(Token& token, const Provisioning& what, std::string* pError);

// The control command "provision <i> [user PIN] [admin PIN] [unlock PIN]
// [retry N]": words as split by the control channel, words[1] the token.
bool ProvisionCommand(Token& token, const std::vector<std::string>& words, std::string* pAnswer);

}  // namespace merro::tokensim
