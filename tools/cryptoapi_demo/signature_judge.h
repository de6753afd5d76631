// OpenSSL as the judge of what the provider signed: the exported
// PUBLICKEYBLOB read into OpenSSL's key, and the signature, in CryptoAPI's
// byte order (RSA reversed whole, SM2 r and s each reversed), checked with
// it over the message itself.
#pragma once

#include <string>

#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::demo {

using merro::testing::Bytes;
using merro::testing::PkeyPtr;

// The key in the blob; null when it holds none. *pText describes the key,
// or says why there is none.
PkeyPtr KeyOfBlob(const Bytes& blob, std::string* pText);

// RSA: PKCS#1 v1.5 with SHA-1's DigestInfo over SHA-1(message).
// SM2: over SM3(Z || message), Z with the identity "1234567812345678".
bool VerifySignature(EVP_PKEY* key, const std::string& message, const Bytes& signature);

// What VerifySignature checks for that key, for the step's line.
std::string VerificationName(EVP_PKEY* key);

}  // namespace merro::demo
