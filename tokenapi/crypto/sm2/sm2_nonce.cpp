#include "tokenapi/crypto/sm2/sm2_nonce.h"

#if defined(MERRO_SM2_NONCE_HOOK)
#include <deque>
#include <mutex>
#endif

namespace merro::crypto {

#if defined(MERRO_SM2_NONCE_HOOK)
namespace {
std::mutex g_fixedMutex;
std::deque<std::string> g_fixed;

bool TakeFixedNonce(BIGNUM* k) {
  std::lock_guard<std::mutex> lock(g_fixedMutex);
  if (g_fixed.empty()) {
    return false;
  }
  const std::string hex = g_fixed.front();
  g_fixed.pop_front();
  return BN_hex2bn(&k, hex.c_str()) != 0;
}
}  // namespace

namespace testing {
void QueueFixedNonces(std::vector<std::string> hexValues) {
  std::lock_guard<std::mutex> lock(g_fixedMutex);
  g_fixed.insert(g_fixed.end(), hexValues.begin(), hexValues.end());
}
void ClearFixedNonces() {
  std::lock_guard<std::mutex> lock(g_fixedMutex);
  g_fixed.clear();
}
}  // namespace testing
#endif

int SM2_DrawScalar(BIGNUM* k, const BIGNUM* n, BN_CTX* ctx) {
  if (k == nullptr || n == nullptr) {
    return 0;
  }
#if defined(MERRO_SM2_NONCE_HOOK)
  if (TakeFixedNonce(k)) {
    return 1;
  }
#endif
  // A zero draw is redrawn; the loop ends with overwhelming probability
  // after one round, and a generator that keeps returning zero is a failure.
  for (int attempt = 0; attempt < 64; ++attempt) {
    if (!BN_priv_rand_range_ex(k, n, 0, ctx)) {
      return 0;
    }
    if (!BN_is_zero(k)) {
      return 1;
    }
  }
  return 0;
}

}  // namespace merro::crypto
