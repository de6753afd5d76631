#include "tokenapi/crypto/sm2/sm2_asn1.h"

#include <openssl/asn1t.h>

namespace merro::crypto {

ASN1_SEQUENCE(SM2Cipher) = {
    ASN1_SIMPLE(SM2Cipher, XCoordinate, BIGNUM),
    ASN1_SIMPLE(SM2Cipher, YCoordinate, BIGNUM),
    ASN1_SIMPLE(SM2Cipher, HASH, ASN1_OCTET_STRING),
    ASN1_SIMPLE(SM2Cipher, cipherText, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SM2Cipher)

SM2Cipher* SM2Cipher_new() {
  return reinterpret_cast<SM2Cipher*>(ASN1_item_new(ASN1_ITEM_rptr(SM2Cipher)));
}

void SM2Cipher_free(SM2Cipher* a) {
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(a), ASN1_ITEM_rptr(SM2Cipher));
}

SM2Cipher* d2i_SM2Cipher(SM2Cipher** a, const unsigned char** in, long len) {
  return reinterpret_cast<SM2Cipher*>(ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(a), in, len,
                                                    ASN1_ITEM_rptr(SM2Cipher)));
}

int i2d_SM2Cipher(const SM2Cipher* a, unsigned char** out) {
  return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(a), out, ASN1_ITEM_rptr(SM2Cipher));
}

}  // namespace merro::crypto
