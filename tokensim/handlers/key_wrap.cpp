#include "tokensim/handlers/key_wrap.h"

#include <algorithm>

#include "tokensim/core/token.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/sm2_raw_cipher.h"

namespace merro::tokensim::keywrap {

std::uint16_t DecryptUnderTokenKey(Token& token, const std::uint8_t* c, size_t n, SecretBytes* pPlain) {
  std::uint16_t status = 0;
  const TokenFile* file = keystore::FindKeyFile(token, kUnwrapKeyFid, &status);
  std::uint8_t alg = keystore::kAlgSm2;
  const EvpPkeyPtr key = file != nullptr ? keystore::PrivateKey(*file, &alg) : nullptr;
  if (!key) {
    return sw::kConditionsNotSatisfied;
  }
  return Sm2DecryptRaw(key.get(), c, n, pPlain) ? sw::kOk : sw::kIncorrectData;
}

std::uint16_t UnwrapKey(Token& token, const std::uint8_t* block, size_t n, SecretBytes* pKey) {
  if (n < kWrappedWrapKeyLen ||
      !std::all_of(block + kWrappedWrapKeyLen, block + n, [](std::uint8_t b) { return b == 0; })) {
    return sw::kIncorrectData;
  }
  SecretBytes plain;
  const std::uint16_t status = DecryptUnderTokenKey(token, block, kWrappedWrapKeyLen, &plain);
  if (status != sw::kOk || plain.size() != kWrapKeyLen) {
    return status != sw::kOk ? status : sw::kIncorrectData;
  }
  pKey->bytes().swap(plain.bytes());
  return sw::kOk;
}

bool Sm4CbcDecrypt(const std::uint8_t* key, const std::uint8_t* in, size_t n, SecretBytes* pOut) {
  if (n == 0 || n % 16 != 0) {
    return false;
  }
  const EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  const std::uint8_t iv[16] = {};
  SecretBytes out(n);
  int len1 = 0;
  int len2 = 0;
  if (!ctx || EVP_DecryptInit_ex2(ctx.get(), EVP_sm4_cbc(), key, iv, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_DecryptUpdate(ctx.get(), out.data(), &len1, in, static_cast<int>(n)) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), out.data() + len1, &len2) != 1 ||
      static_cast<size_t>(len1 + len2) != n) {
    return false;
  }
  pOut->bytes().swap(out.bytes());
  return true;
}

}  // namespace merro::tokensim::keywrap
