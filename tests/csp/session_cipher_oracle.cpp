// Triple DES goes through EVP's default provider. Single DES and RC4 live
// in OpenSSL's legacy provider, which the static Windows libcrypto does not
// carry; its low-level DES and RC4 functions, which every build has, stand
// in for it (declared only for callers that ask for the 1.1 interface).
#undef OPENSSL_API_COMPAT
#define OPENSSL_API_COMPAT 10101
#define OPENSSL_SUPPRESS_DEPRECATED
#include "tests/csp/session_cipher_oracle.h"

#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/rc4.h>

#include <algorithm>
#include <memory>

namespace merro::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr size_t kDesBlock = 8;

// PKCS#5: 1 to 8 bytes of their own count.
Bytes Padded(const Bytes& plain) {
  Bytes out(plain);
  const size_t pad = kDesBlock - plain.size() % kDesBlock;
  out.insert(out.end(), pad, static_cast<std::uint8_t>(pad));
  return out;
}

Bytes TripleDesCbc(const Bytes& key, const Bytes& plain) {
  const std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                       EVP_CIPHER_CTX_free);
  const std::uint8_t iv[kDesBlock] = {};
  Bytes out(plain.size() + 2 * kDesBlock);
  int n = 0;
  int m = 0;
  if (!ctx || key.size() != 24 ||
      EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key.data(), iv) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(), static_cast<int>(plain.size())) !=
          1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &m) != 1) {
    return {};
  }
  out.resize(static_cast<size_t>(n + m));
  return out;
}

Bytes DesCbc(const Bytes& key, const Bytes& plain) {
  if (key.size() != kDesBlock) {
    return {};
  }
  DES_cblock keyBlock;
  std::copy(key.begin(), key.end(), keyBlock);
  DES_key_schedule schedule;
  DES_set_key_unchecked(&keyBlock, &schedule);
  DES_cblock iv = {};
  const Bytes in = Padded(plain);
  Bytes out(in.size());
  DES_ncbc_encrypt(in.data(), out.data(), static_cast<long>(in.size()), &schedule, &iv,
                   DES_ENCRYPT);
  return out;
}

Bytes Rc4(const Bytes& key, const Bytes& plain) {
  RC4_KEY schedule;
  RC4_set_key(&schedule, static_cast<int>(key.size()), key.data());
  Bytes out(plain.size());
  RC4(&schedule, plain.size(), plain.data(), out.data());
  return out;
}

}  // namespace

std::vector<std::uint8_t> OpenSslSessionEncrypt(SessionCipher cipher,
                                                const std::vector<std::uint8_t>& key,
                                                const std::vector<std::uint8_t>& plain) {
  switch (cipher) {
    case SessionCipher::kDes:
      return DesCbc(key, plain);
    case SessionCipher::kTripleDes:
      return TripleDesCbc(key, plain);
    case SessionCipher::kRc4:
      return Rc4(key, plain);
  }
  return {};
}

}  // namespace merro::testing
