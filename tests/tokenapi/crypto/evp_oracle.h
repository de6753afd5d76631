// OpenSSL's EVP ciphers and digests as the independent oracle of the crypto
// tests. Single DES and RC4 live in OpenSSL's legacy provider, which is
// loaded (next to the default provider) on first use.
#pragma once

#include <openssl/evp.h>

#include <optional>

#include "foundation/platform.h"
#include "tests/tokenapi/crypto/test_bytes.h"

namespace merro::crypto::test {

// The EVP cipher of one of our algorithm numbers and modes; null when the
// provider that has it cannot be loaded.
const EVP_CIPHER* OracleCipher(BYTE algorithm, BYTE mode);

// Whole-message encryption or decryption with PKCS#7 padding (the raw
// transform when pad is false); nullopt when EVP reports a failure (for
// decryption: bad length or bad padding).
std::optional<Bytes> OracleCrypt(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key,
                                 const Bytes& iv, const Bytes& in, bool pad = true);

// The digest of one of our hash types (type 14: SHA-1 then MD5).
Bytes OracleDigest(BYTE hashType, const Bytes& in);

}  // namespace merro::crypto::test
