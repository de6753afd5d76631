// OpenSSL as the judge of the provider's session-key ciphers: CBC with a
// zero IV and PKCS#5 padding for DES and three-key triple DES, RC4 as it
// is. No Windows header here: wincrypt.h and OpenSSL's headers do not mix.
#pragma once

#include <cstdint>
#include <vector>

namespace merro::testing {

enum class SessionCipher { kDes, kTripleDes, kRc4 };

// The whole message encrypted; empty when OpenSSL refuses.
std::vector<std::uint8_t> OpenSslSessionEncrypt(SessionCipher cipher,
                                                const std::vector<std::uint8_t>& key,
                                                const std::vector<std::uint8_t>& plain);

}  // namespace merro::testing
