// Scenarios of a token session against a simulated token: open (reset and
// external authentication), session key, PINs under secure messaging, the
// display button, reset. The same scenarios run against the in-process
// simulator and against the merro-tokensim daemon (natively and under Wine).
#pragma once

#include <functional>
#include <string>

#include "tests/tokenapi/support/frame_log_transport.h"

namespace merro::testing {

struct SessionEnv {
  // Sends a control command to the simulator; the test fails when it is
  // refused.
  std::function<std::string(const std::string&)> control;
  std::string deviceName;   // device path of the token used
  std::string tokenIndex;   // its index in control commands
  FrameLogTransport* log;   // the transport in force, logging frames
};

// Open, session key, VERIFY travelling protected, wrong PINs counting down
// to blocked, UNLOCK, CHANGE, STATUS bytes, close.
void PinLifecycle(const SessionEnv& env);
// The button wait of VERIFY and CHANGE with few tries left: C, no answer, OK.
void ButtonAnswers(const SessionEnv& env);
// A reset drops the token's session: a protected command fails until the
// host authenticates again and sets a new session key.
void ResetDropsSession(const SessionEnv& env);
// A recorded proof is worthless: the token takes each challenge once.
void ProofsAreSingleUse(const SessionEnv& env);
// Before external authentication the token refuses PIN commands and the
// session key; wrong cryptograms count the key's tries down to blocked.
void AuthenticationGuardsAndTries(const SessionEnv& env);
// A context reads its token's chip serial number and temporary public key
// once; a token whose key pair was made anew under an open context, and a
// token pulled out and put back, get sessions under their own key.
void TokenFactsPerContext(const SessionEnv& env);
// A token without keys refuses the open; nothing is handed out and the
// device mutex is free afterwards.
void UnprovisionedTokenRefusesOpen(const SessionEnv& env);

}  // namespace merro::testing
