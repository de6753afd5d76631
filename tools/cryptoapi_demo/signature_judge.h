// OpenSSL's verdict on what the provider signed: the signature in
// CryptoAPI's byte order (RSA reversed whole, SM2 r and s each reversed),
// checked against the exported public key over the message itself. No
// Windows header here: wincrypt.h and OpenSSL's headers do not mix.
#pragma once

#include <string>

#include "tools/cryptoapi_demo/public_key_blob.h"

namespace merro::demo {

// RSA: PKCS#1 v1.5 with SHA-1's DigestInfo over SHA-1(message).
// SM2: over SM3(Z || message), Z with the identity "1234567812345678".
// false, with the reason in *pWhy, when OpenSSL does not accept it.
bool VerifySignature(const PublicKey& key, const std::string& message, const Bytes& signature,
                     std::string* pWhy);

}  // namespace merro::demo
