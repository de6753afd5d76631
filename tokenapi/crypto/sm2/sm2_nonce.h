// The random scalars of SM2: the per-operation k of signing and encryption,
// and the private scalar of a new key.
#pragma once

#include <openssl/bn.h>

#include <string>
#include <vector>

namespace merro::crypto {

// Draws k uniformly in [1, n - 1] from OpenSSL's private random generator.
// Returns 1, or 0 when the generator fails.
int SM2_DrawScalar(BIGNUM* k, const BIGNUM* n, BN_CTX* ctx);

#if defined(MERRO_SM2_NONCE_HOOK)
// Test builds only: the next draws return these values (hexadecimal), in
// order, so that the standard's worked examples can be reproduced; once the
// queue is empty the draws are random again.
namespace testing {
void QueueFixedNonces(std::vector<std::string> hexValues);
void ClearFixedNonces();
}  // namespace testing
#endif

}  // namespace merro::crypto
