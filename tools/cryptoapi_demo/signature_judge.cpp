#include "tools/cryptoapi_demo/signature_judge.h"

#include <openssl/core_names.h>

#include <algorithm>

#include "tests/csp/public_key_blob_oracle.h"

namespace merro::demo {
namespace {

constexpr std::size_t kSm2Half = 32;

bool IsSm2(EVP_PKEY* key) { return EVP_PKEY_is_a(key, "SM2") == 1; }

std::string Hex(const Bytes& value, std::size_t most) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < value.size() && i < most; ++i) {
    out += kDigits[value[i] >> 4];
    out += kDigits[value[i] & 0x0F];
  }
  return value.size() > most ? out + "..." : out;
}

}  // namespace

PkeyPtr KeyOfBlob(const Bytes& blob, std::string* pText) {
  PkeyPtr key = merro::testing::csp::KeyFromBlob(blob);
  if (!key) {
    *pText = "no RSA or SM2 public key OpenSSL takes";
    return key;
  }
  if (IsSm2(key.get())) {
    *pText = "SM2 point x || y " + Hex(merro::testing::Sm2PublicXY(key.get()), 8);
    return key;
  }
  BIGNUM* exponent = nullptr;
  std::string e = "?";
  if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &exponent) == 1) {
    char* text = BN_bn2dec(exponent);
    e = text != nullptr ? text : "?";
    OPENSSL_free(text);
  }
  BN_free(exponent);
  *pText = "RSA, " + std::to_string(EVP_PKEY_get_bits(key.get())) + "-bit modulus, exponent " + e;
  return key;
}

bool VerifySignature(EVP_PKEY* key, const std::string& message, const Bytes& signature) {
  const Bytes data(message.begin(), message.end());
  Bytes value = signature;  // into the big-endian order OpenSSL reads
  if (!IsSm2(key)) {
    std::reverse(value.begin(), value.end());
    return merro::testing::RsaVerifyDigest(key, EVP_sha1(), merro::testing::Digest(EVP_sha1(), data),
                                           value);
  }
  if (value.size() != 2 * kSm2Half) {
    return false;
  }
  std::reverse(value.begin(), value.begin() + kSm2Half);
  std::reverse(value.begin() + kSm2Half, value.end());
  return merro::testing::Sm2VerifyMessage(key, data, value);
}

std::string VerificationName(EVP_PKEY* key) {
  return IsSm2(key) ? "SM2 with SM3, ID 1234567812345678" : "RSA PKCS#1 v1.5 with SHA-1";
}

}  // namespace merro::demo
