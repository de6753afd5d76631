#include "tokensim/handlers/auth_crypto.h"

#include <openssl/crypto.h>

#include "tokenapi/commands/extern_auth_keys.h"

namespace merro::tokensim {
namespace {

bool RunCbc(const EVP_CIPHER* cipher, bool encrypt, const std::uint8_t* key, const std::uint8_t* in,
            size_t n, SecretBytes* pOut) {
  const std::uint8_t iv[EVP_MAX_IV_LENGTH] = {};
  const EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  SecretBytes out(n + static_cast<size_t>(EVP_CIPHER_get_block_size(cipher)));
  int len1 = 0, len2 = 0;
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), cipher, key, iv, encrypt ? 1 : 0, nullptr) != 1 ||
      EVP_CipherUpdate(ctx.get(), out.data(), &len1, in, static_cast<int>(n)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + len1, &len2) != 1) {
    return false;
  }
  pOut->Wipe();
  pOut->bytes().assign(out.data(), out.data() + len1 + len2);
  return true;
}

}  // namespace

bool CbcEncrypt(const EVP_CIPHER* cipher, const std::uint8_t* key, const std::uint8_t* in,
                size_t n, SecretBytes* pOut) {
  return RunCbc(cipher, true, key, in, n, pOut);
}

bool CbcDecrypt(const EVP_CIPHER* cipher, const std::uint8_t* key, const std::uint8_t* in,
                size_t n, SecretBytes* pOut) {
  return RunCbc(cipher, false, key, in, n, pOut);
}

bool Md5Pair(const std::uint8_t* first, size_t firstLen, const std::uint8_t* second,
             size_t secondLen, std::uint8_t (&out)[kMd5Len]) {
  const std::unique_ptr<EVP_MD_CTX, EvpDeleter<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
  unsigned len = 0;
  return ctx && EVP_DigestInit_ex2(ctx.get(), EVP_md5(), nullptr) == 1 &&
         EVP_DigestUpdate(ctx.get(), first, firstLen) == 1 &&
         EVP_DigestUpdate(ctx.get(), second, secondLen) == 1 &&
         EVP_DigestFinal_ex(ctx.get(), out, &len) == 1 && len == kMd5Len;
}

bool Md5(const std::uint8_t* in, size_t n, std::uint8_t (&out)[kMd5Len]) {
  return Md5Pair(in, n, nullptr, 0, out);
}

bool DeriveExternKey(const std::array<std::uint8_t, kChipSnLen>& chipSn,
                     std::uint8_t (&key)[kAuthKeyLen]) {
  std::uint8_t digest[kMd5Len];
  SecretBytes encrypted;
  const bool ok = Md5(chipSn.data(), chipSn.size(), digest) &&
                  CbcEncrypt(EVP_des_ede_cbc(), MR_EXTERN_CFG_KEY, digest, sizeof digest, &encrypted) &&
                  encrypted.size() >= kAuthKeyLen;
  if (ok) {
    std::copy(encrypted.data(), encrypted.data() + kAuthKeyLen, key);
  }
  OPENSSL_cleanse(digest, sizeof digest);
  return ok;
}

bool TakeChallenge(Token& token, size_t n, Bytes* pChallenge) {
  Bytes& current = token.Challenge();
  const bool ok = current.size() == n;
  pChallenge->swap(current);
  current.clear();
  return ok;
}

}  // namespace merro::tokensim
