#include "tokenapi/crypto/rc4/rc4.h"

#include <utility>

#include "tokenapi/crypto/common/bytes.h"

namespace merro::crypto {

MR_RC4_KEY::~MR_RC4_KEY() { SecureWipe(s, sizeof(s)); }

int rc4key(const std::uint8_t* key, DWORD keyLen, MR_RC4_KEY* state) {
  if (key == nullptr || state == nullptr || keyLen == 0 || keyLen > kRc4MaxKeyBytes) {
    return 0;
  }
  for (unsigned n = 0; n < 256; ++n) {
    state->s[n] = static_cast<std::uint8_t>(n);
  }
  std::uint8_t j = 0;
  for (unsigned n = 0; n < 256; ++n) {
    j = static_cast<std::uint8_t>(j + state->s[n] + key[n % keyLen]);
    std::swap(state->s[n], state->s[j]);
  }
  state->i = 0;
  state->j = 0;
  state->keyed = true;
  return 1;
}

int rc4update(MR_RC4_KEY* state, const std::uint8_t* in, DWORD len, std::uint8_t* out,
              DWORD* pOutLen) {
  if (pOutLen == nullptr) {
    return 0;
  }
  if (state == nullptr || !state->keyed || in == nullptr || out == nullptr) {
    *pOutLen = 0;
    return 0;
  }
  if (*pOutLen < len) {
    *pOutLen = len;
    return 0;
  }
  std::uint8_t i = state->i;
  std::uint8_t j = state->j;
  std::uint8_t* s = state->s;
  for (std::uint32_t n = 0; n < len; ++n) {
    i = static_cast<std::uint8_t>(i + 1);
    const std::uint8_t si = s[i];
    j = static_cast<std::uint8_t>(j + si);
    const std::uint8_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    out[n] = static_cast<std::uint8_t>(in[n] ^ s[static_cast<std::uint8_t>(si + sj)]);
  }
  state->i = i;
  state->j = j;
  *pOutLen = len;
  return 1;
}

int rc4final(MR_RC4_KEY* state, DWORD* pOutLen) {
  if (state == nullptr || pOutLen == nullptr) {
    return 0;
  }
  *pOutLen = 0;
  return 1;
}

}  // namespace merro::crypto
