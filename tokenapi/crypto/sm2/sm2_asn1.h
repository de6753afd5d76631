// The DER form of an SM2 ciphertext, the ASN.1 item SM2Cipher:
//   SM2Cipher ::= SEQUENCE {
//     XCoordinate INTEGER,       -- x1
//     YCoordinate INTEGER,       -- y1
//     HASH        OCTET STRING,  -- C3
//     cipherText  OCTET STRING } -- C2
// Note the order: C3 before C2 here, C2 before C3 in the raw layout.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bn.h>

#include <memory>

namespace merro::crypto {

struct SM2Cipher {
  BIGNUM* XCoordinate;
  BIGNUM* YCoordinate;
  ASN1_OCTET_STRING* HASH;
  ASN1_OCTET_STRING* cipherText;
};

// OpenSSL's template conventions: d2i decodes from *in and advances it, i2d
// encodes to *out (when out and *out are not null) and advances it, and
// returns the length (negative on failure).
SM2Cipher* SM2Cipher_new();
void SM2Cipher_free(SM2Cipher* a);
SM2Cipher* d2i_SM2Cipher(SM2Cipher** a, const unsigned char** in, long len);
int i2d_SM2Cipher(const SM2Cipher* a, unsigned char** out);

struct SM2CipherDeleter {
  void operator()(SM2Cipher* p) const { SM2Cipher_free(p); }
};
using SM2CipherPtr = std::unique_ptr<SM2Cipher, SM2CipherDeleter>;

}  // namespace merro::crypto
