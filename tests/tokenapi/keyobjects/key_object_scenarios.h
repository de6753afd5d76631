// Scenarios of the device key objects against a simulated token, run
// against the in-process simulator and against the merro-tokensim daemon
// (natively and under Wine). OpenSSL judges every signature.
#pragma once

#include <functional>
#include <string>

#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::testing {

struct KeyObjectEnv {
  DEV_CTX* ctx;           // an open context on the token
  std::string tokenIndex; // the token's number in control commands
  // Sends a control command; the test fails when it is refused.
  std::function<std::string(const std::string&)> control;
  // Puts a new key pair of type into key file fid and returns (at least)
  // its public key.
  std::function<PkeyPtr(WORD fid, BYTE type)> makeKey;
};

// SM2 hashed on the token, with external authentication, session key and
// VERIFY PIN between the digest and the signature (the token must be
// provisioned with the factory PINs).
void Sm2HashedAcrossAuthSessionAndPin(const KeyObjectEnv& env);
// SM2 and RSA-1024/2048 signatures of a digest and with hashing on the
// token, checked by OpenSSL and by PubkeyVerify.
void DigestSignatures(const KeyObjectEnv& env);
// Two hashing sequences on one token, interleaved as two processes would
// interleave them: a digest or signature over the other sequence's data is
// refused (MR_E_SIGN_DATA_MISMATCH) with the output wiped and no length,
// while the context whose sequence the token kept still signs; SM2 and
// RSA-1024.
void InterleavedSequencesAreRefused(const KeyObjectEnv& env);
// Display signing: OK (the display showed the message), C, time-out.
void DisplaySigning(const KeyObjectEnv& env);
// PubkeyEnc on the host, PrikeyDec on the token, for SM2 and RSA.
void EncryptDecrypt(const KeyObjectEnv& env);

}  // namespace merro::testing
