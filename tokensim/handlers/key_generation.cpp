#include "tokensim/handlers/key_generation.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "tokensim/handlers/key_store.h"

namespace merro::tokensim::keygen {
namespace {

std::atomic<int> g_cacheSetting{-1};  // -1: from the environment

bool CacheOn() {
  const int setting = g_cacheSetting.load();
  if (setting >= 0) {
    return setting != 0;
  }
  const char* env = std::getenv("MERRO_TOKENSIM_KEY_CACHE");
  return env != nullptr && std::strcmp(env, "1") == 0;
}

EvpPkeyPtr Fresh(std::uint8_t alg) {
  const bool sm2 = alg == keystore::kAlgSm2;
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, sm2 ? "SM2" : "RSA", nullptr));
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1) {
    return nullptr;
  }
  if (!sm2 && EVP_PKEY_CTX_set_rsa_keygen_bits(
                  ctx.get(), static_cast<int>(keystore::ModulusLen(alg) * 8)) != 1) {
    return nullptr;
  }
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &key) != 1) {
    return nullptr;
  }
  return EvpPkeyPtr(key);
}

}  // namespace

void UseKeyCache(bool on) { g_cacheSetting.store(on ? 1 : 0); }

EvpPkeyPtr Generate(std::uint8_t alg) {
  if (alg != keystore::kAlgSm2 && keystore::ModulusLen(alg) == 0) {
    return nullptr;
  }
  if (alg == keystore::kAlgSm2 || !CacheOn()) {
    return Fresh(alg);
  }
  static std::mutex lock;
  static std::map<std::uint8_t, EvpPkeyPtr> cache;
  std::lock_guard<std::mutex> hold(lock);
  EvpPkeyPtr& cached = cache[alg];
  if (!cached) {
    cached = Fresh(alg);
    if (!cached) {
      return nullptr;
    }
  }
  EVP_PKEY_up_ref(cached.get());
  return EvpPkeyPtr(cached.get());
}

}  // namespace merro::tokensim::keygen
