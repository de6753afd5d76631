#include "tools/cryptoapi_demo/signature_judge.h"

#include <algorithm>

#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::demo {
namespace {

constexpr std::size_t kSm2Half = 32;

using merro::testing::PkeyPtr;

}  // namespace

bool VerifySignature(const PublicKey& key, const std::string& message, const Bytes& signature,
                     std::string* pWhy) {
  const Bytes data(message.begin(), message.end());
  Bytes value = signature;  // into the big-endian order OpenSSL reads
  if (key.kind == PublicKey::Kind::Rsa) {
    std::reverse(value.begin(), value.end());
    const PkeyPtr pkey = merro::testing::RsaPublicKey(key.n, key.e);
    if (!pkey) {
      *pWhy = "OpenSSL took no RSA key from the blob";
      return false;
    }
    const Bytes digest = merro::testing::Digest(EVP_sha1(), data);
    if (!merro::testing::RsaVerifyDigest(pkey.get(), EVP_sha1(), digest, value)) {
      *pWhy = "OpenSSL refused the RSA signature";
      return false;
    }
    return true;
  }
  if (value.size() != 2 * kSm2Half) {
    *pWhy = std::to_string(value.size()) + " bytes are no SM2 signature r || s";
    return false;
  }
  std::reverse(value.begin(), value.begin() + kSm2Half);
  std::reverse(value.begin() + kSm2Half, value.end());
  const PkeyPtr pkey = merro::testing::Sm2PublicKey(key.xy);
  if (!pkey) {
    *pWhy = "OpenSSL took no SM2 key from the blob (a point off the curve?)";
    return false;
  }
  if (!merro::testing::Sm2VerifyMessage(pkey.get(), data, value)) {
    *pWhy = "OpenSSL refused the SM2 signature";
    return false;
  }
  return true;
}

}  // namespace merro::demo
