#include "tests/tokenapi/crypto/evp_oracle.h"

#include <openssl/provider.h>

#include <map>
#include <memory>
#include <string>

#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/openssl_ptr.h"

namespace merro::crypto::test {

namespace {

using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX_free>>;

// Loads the legacy and default providers once for the process.
bool LegacyLoaded() {
  static OSSL_PROVIDER* const legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER* const fallback = OSSL_PROVIDER_load(nullptr, "default");
  return legacy != nullptr && fallback != nullptr;
}

// Fetched once each and kept for the life of the process.
const EVP_CIPHER* Fetch(const char* name) {
  static std::map<std::string, std::unique_ptr<EVP_CIPHER, OpenSslDeleter<EVP_CIPHER_free>>> cache;
  auto& slot = cache[name];
  if (!slot) {
    slot.reset(EVP_CIPHER_fetch(nullptr, name, nullptr));
  }
  return slot.get();
}

}  // namespace

const EVP_CIPHER* OracleCipher(BYTE algorithm, BYTE mode) {
  const bool ecb = mode == MR_MODE_ECB;
  switch (algorithm) {
    case MR_ALG_DES:
      return LegacyLoaded() ? Fetch(ecb ? "DES-ECB" : "DES-CBC") : nullptr;
    case MR_ALG_3DES_2KEY:
      return Fetch(ecb ? "DES-EDE-ECB" : "DES-EDE-CBC");
    case MR_ALG_3DES:
      return Fetch(ecb ? "DES-EDE3-ECB" : "DES-EDE3-CBC");
    case MR_ALG_SM4:
      return Fetch(ecb ? "SM4-ECB" : "SM4-CBC");
    case MR_ALG_RC4:
      return LegacyLoaded() ? Fetch("RC4") : nullptr;
    default:
      return nullptr;
  }
}

std::optional<Bytes> OracleCrypt(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key,
                                 const Bytes& iv, const Bytes& in, bool pad) {
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
      EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv.empty() ? nullptr : iv.data(), -1,
                         nullptr) != 1) {
    return std::nullopt;
  }
  EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0);
  Bytes out(in.size() + 32);
  int n = 0;
  int m = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + n, &m) != 1) {
    return std::nullopt;
  }
  out.resize(static_cast<size_t>(n + m));
  return out;
}

Bytes OracleDigest(BYTE hashType, const Bytes& in) {
  const EVP_MD* md = nullptr;
  switch (hashType) {
    case MR_ALG_MD5:
      md = EVP_md5();
      break;
    case MR_ALG_SHA1:
      md = EVP_sha1();
      break;
    case MR_ALG_SHA256:
      md = EVP_sha256();
      break;
    case MR_ALG_SHA512:
      md = EVP_sha512();
      break;
    case MR_ALG_SM3:
      md = EVP_sm3();
      break;
    case MR_ALG_SHA1_MD5:
      return Concat({OracleDigest(MR_ALG_SHA1, in), OracleDigest(MR_ALG_MD5, in)});
    default:
      return {};
  }
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (EVP_Digest(in.data(), in.size(), out.data(), &len, md, nullptr) != 1) {
    return {};
  }
  out.resize(len);
  return out;
}

}  // namespace merro::crypto::test
