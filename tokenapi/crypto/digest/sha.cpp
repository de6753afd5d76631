#include "tokenapi/crypto/digest/sha.h"

namespace merro::crypto {

namespace {

int Init(const EVP_MD* md, ShaState** ppState) {
  if (ppState == nullptr) {
    return 0;
  }
  ShaStatePtr state(EVP_MD_CTX_new());
  if (!state || EVP_DigestInit_ex(state.get(), md, nullptr) != 1) {
    return 0;
  }
  *ppState = state.release();
  return 1;
}

bool IsOf(const ShaState* state, const EVP_MD* md) {
  const EVP_MD* own = EVP_MD_CTX_get0_md(state);
  return own != nullptr && EVP_MD_get_type(own) == EVP_MD_get_type(md);
}

int Update(const EVP_MD* md, ShaState* state, const std::uint8_t* data, std::uint32_t len) {
  if (state == nullptr || !IsOf(state, md) || (data == nullptr && len != 0)) {
    return 0;
  }
  return len == 0 ? 1 : EVP_DigestUpdate(state, data, len);
}

int Final(const EVP_MD* md, ShaState* state, std::uint8_t* digest) {
  if (state == nullptr) {
    return 0;
  }
  const ShaStatePtr owner(state);
  if (digest == nullptr || !IsOf(state, md)) {
    return 0;
  }
  unsigned int len = 0;
  return EVP_DigestFinal_ex(state, digest, &len);
}

}  // namespace

int SHA1Init(ShaState** ppState) { return Init(EVP_sha1(), ppState); }
int SHA256Init(ShaState** ppState) { return Init(EVP_sha256(), ppState); }
int SHA512Init(ShaState** ppState) { return Init(EVP_sha512(), ppState); }

int SHA1Update(ShaState* state, const std::uint8_t* data, std::uint32_t len) {
  return Update(EVP_sha1(), state, data, len);
}
int SHA256Update(ShaState* state, const std::uint8_t* data, std::uint32_t len) {
  return Update(EVP_sha256(), state, data, len);
}
int SHA512Update(ShaState* state, const std::uint8_t* data, std::uint32_t len) {
  return Update(EVP_sha512(), state, data, len);
}

int SHA1Final(ShaState* state, std::uint8_t* digest) { return Final(EVP_sha1(), state, digest); }
int SHA256Final(ShaState* state, std::uint8_t* digest) {
  return Final(EVP_sha256(), state, digest);
}
int SHA512Final(ShaState* state, std::uint8_t* digest) {
  return Final(EVP_sha512(), state, digest);
}

}  // namespace merro::crypto
