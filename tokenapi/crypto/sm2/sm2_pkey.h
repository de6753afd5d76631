// Public-key operations over OpenSSL's EVP_PKEY that sign and verify with
// SM2 when the key lies on an SM2 curve (the recommended one or the
// standard's example curve) and with ECDSA otherwise, and that encrypt and
// decrypt with SM2 in the DER form SM2Cipher. These are the library's own
// functions: nothing is registered with OpenSSL.
//
// Signatures are the DER ECDSA-Sig-Value (SEQUENCE of r and s); the data to
// sign or verify is a digest (for SM2 keys the 32-byte SM3 value e).
// Lengths follow OpenSSL's convention: *siglen / *outlen give the room in the
// output buffer on entry and the length written on return.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace merro::crypto {

// With sig null: *siglen = the largest signature of the key, 1. A buffer
// below that: 0 (EC_R_BUFFER_TOO_SMALL on the error queue). Otherwise the
// SM2 or ECDSA signer; 1 on success, its result when that is 0 or below.
int pkey_ec_sign(EVP_PKEY* pkey, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
                 size_t tbslen);
// SM2 keys: 1 valid, -1 anything else. Other keys: OpenSSL's ECDSA result.
int pkey_ec_verify(EVP_PKEY* pkey, const unsigned char* sig, size_t siglen,
                   const unsigned char* tbs, size_t tbslen);

// SM2 only. 1 on success, -1 on any failure.
int pkey_sm2_sign(EVP_PKEY* pkey, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
                  size_t tbslen);
int pkey_sm2_verify(EVP_PKEY* pkey, const unsigned char* sig, size_t siglen,
                    const unsigned char* tbs, size_t tbslen);
int pkey_sm2_encrypt(EVP_PKEY* pkey, unsigned char* out, size_t* outlen, const unsigned char* in,
                     size_t inlen);
int pkey_sm2_decrypt(EVP_PKEY* pkey, unsigned char* out, size_t* outlen, const unsigned char* in,
                     size_t inlen);

}  // namespace merro::crypto
