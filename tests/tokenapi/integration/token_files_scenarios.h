// Scenarios of the token's file layout against a simulated token:
// initialisation of a blank token up to a verified PIN, then containers,
// keys and certificates. The same scenarios run against the in-process
// simulator and against the merro-tokensim daemon (natively and under Wine).
#pragma once

#include <string>

namespace merro::testing {

struct TokenFilesEnv {
  std::string deviceName;  // device path of a token that may be erased
};

// Erase, initialise (no PinFile.ini beside the program: default PINs),
// open with the derived key, set a session key, verify "905172".
void InitialiseBlankToken(const TokenFilesEnv& env);
// On an initialised token: an SM2 container built from a generated sign
// pair, an imported exchange pair and two certificates becomes available by
// itself; an RSA-2048 container is generated, exported and deleted.
void ContainersKeysCertificates(const TokenFilesEnv& env);

}  // namespace merro::testing
