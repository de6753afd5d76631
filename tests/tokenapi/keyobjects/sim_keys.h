// Key pairs placed straight into a token of the in-process simulator, as
// key generation would leave them.
#pragma once

#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokensim/core/simulator.h"

namespace merro::testing {

// Creates key file fid (1024 bytes) on token i when it is missing and
// stores a new key pair of alg (MR_ALG_RSA1024, MR_ALG_RSA2048, MR_ALG_SM2)
// in it. Returns the key pair; RSA keys come from a per-process cache.
PkeyPtr PlaceKey(merro::tokensim::Simulator& sim, size_t i, WORD fid, BYTE alg);

}  // namespace merro::testing
