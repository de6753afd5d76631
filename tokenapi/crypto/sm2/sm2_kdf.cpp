#include "tokenapi/crypto/sm2/sm2_kdf.h"

#include <algorithm>
#include <cstring>

#include "tokenapi/crypto/sm3/sm3.h"

namespace merro::crypto {

int SM2_KDF(const std::uint8_t Z[kSm2KdfInputBytes], std::uint8_t* out, size_t klen) {
  const size_t bytes = klen / 8;
  if (Z == nullptr || (out == nullptr && bytes != 0)) {
    return 0;
  }
  const size_t blocks = (bytes + kSm3DigestBytes - 1) / kSm3DigestBytes;
  if (blocks > 0xFFFFFFFFu) {
    return 0;  // ct is 32 bits wide
  }
  std::uint8_t h[kSm3DigestBytes];
  for (size_t i = 0; i < blocks; ++i) {
    const std::uint32_t ct = static_cast<std::uint32_t>(i + 1);
    const std::uint8_t ctBytes[4] = {static_cast<std::uint8_t>(ct >> 24),
                                     static_cast<std::uint8_t>(ct >> 16),
                                     static_cast<std::uint8_t>(ct >> 8),
                                     static_cast<std::uint8_t>(ct)};
    SM3_CTX sm3;
    SM3_Init(&sm3);
    SM3_Update(&sm3, Z, kSm2KdfInputBytes);
    SM3_Update(&sm3, ctBytes, sizeof(ctBytes));
    SM3_FinalDigest(&sm3, h);
    OPENSSL_cleanse(&sm3, sizeof(sm3));
    const size_t take = std::min(kSm3DigestBytes, bytes - i * kSm3DigestBytes);
    std::memcpy(out + i * kSm3DigestBytes, h, take);
  }
  OPENSSL_cleanse(h, sizeof(h));
  return 1;
}

}  // namespace merro::crypto
