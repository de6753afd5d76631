// Key-pair generation of the simulated token (OpenSSL EVP). RSA generation
// is slow under the sanitizers: with the key cache on, each RSA size is
// generated once per process and reused (tests only; set by the
// environment variable MERRO_TOKENSIM_KEY_CACHE=1 or by UseKeyCache).
#pragma once

#include <cstdint>

#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim::keygen {

// A new key pair of the token's algorithm (1 RSA-1024, 7 RSA-2048, 0x11
// SM2; RSA with exponent 65537); null for another algorithm or a failure.
EvpPkeyPtr Generate(std::uint8_t alg);

void UseKeyCache(bool on);

}  // namespace merro::tokensim::keygen
