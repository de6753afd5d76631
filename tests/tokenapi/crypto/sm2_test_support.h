// Keys, OpenSSL's own SM2 as an oracle, and ciphertext form conversions for
// the SM2 tests.
#pragma once

#include <openssl/evp.h>

#include <optional>
#include <string>

#include "tests/tokenapi/crypto/test_bytes.h"
#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/sm2/sm2_curve.h"

namespace merro::crypto::test {

// 32-byte big-endian private scalar and public coordinates.
struct Sm2KeyBytes {
  Bytes d, x, y;
};

// The public point d*G of a private scalar (hex), computed with OpenSSL.
Sm2KeyBytes KeyFromPrivate(Sm2Curve curve, const std::string& dHex);
// A fresh random key pair.
Sm2KeyBytes RandomKey(Sm2Curve curve);

// An OpenSSL key of the given type ("SM2" or "EC") on the curve: by name for
// the recommended curve, by explicit parameters for the example curve. An
// empty d makes a public key only.
EvpPkeyPtr MakePkey(const char* type, Sm2Curve curve, const Sm2KeyBytes& key);
// The one key type OpenSSL 3 accepts on the curve: an EC-type key on the
// recommended curve is refused (named or explicit), and an SM2-type key must
// name the recommended curve.
const char* KeyTypeFor(Sm2Curve curve);
// A fresh prime256v1 key.
EvpPkeyPtr MakeP256Key();

// e = SM3(Z || M) with Z over the identity, the curve values and the key.
Bytes DigestE(Sm2Curve curve, const Bytes& id, const Sm2KeyBytes& key, const Bytes& msg);
Bytes DefaultId();

// OpenSSL's SM2 (the key must be of type "SM2"): DER signatures of messages
// under an identity, DER ciphertexts.
Bytes OpenSslSign(EVP_PKEY* pkey, const Bytes& id, const Bytes& msg);
bool OpenSslVerify(EVP_PKEY* pkey, const Bytes& id, const Bytes& msg, const Bytes& derSig);
Bytes OpenSslEncrypt(EVP_PKEY* pkey, const Bytes& plain);
std::optional<Bytes> OpenSslDecrypt(EVP_PKEY* pkey, const Bytes& der);

// Raw 0x04 || x1 || y1 || C2 || C3 to DER SEQUENCE { x1, y1, C3, C2 } and
// back, through the SM2Cipher item.
Bytes RawToDer(const Bytes& raw);
Bytes DerToRaw(const Bytes& der);

// DER ECDSA-Sig-Value to r || s (32 bytes each) and back.
Bytes DerSigToRaw(const Bytes& der);
Bytes RawSigToDer(const Bytes& raw);

}  // namespace merro::crypto::test
