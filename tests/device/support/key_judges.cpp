#include "tests/device/support/key_judges.h"

#include <openssl/asn1.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

#include "foundation/secure_wipe.h"

namespace merro::testing {
namespace {

struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// The little-endian value of a big-endian one, zero-padded to width bytes.
void PutLittleEndian(const Bytes& bigEndian, size_t width, Bytes* pOut) {
  Bytes le = Reversed(bigEndian);
  le.resize(width, 0);
  pOut->insert(pOut->end(), le.begin(), le.end());
}

// One element of a DER sequence, as bytes: an INTEGER as 32 bytes, an
// OCTET STRING as it stands.
bool ElementBytes(const ASN1_TYPE* element, Bytes* pOut) {
  if (element->type == V_ASN1_INTEGER) {
    BIGNUM* bn = ASN1_INTEGER_to_BN(element->value.integer, nullptr);
    Bytes v(32);
    const bool ok = bn != nullptr && BN_bn2binpad(bn, v.data(), 32) == 32;
    BN_free(bn);
    *pOut = v;
    return ok;
  }
  if (element->type == V_ASN1_OCTET_STRING) {
    const ASN1_OCTET_STRING* s = element->value.octet_string;
    pOut->assign(ASN1_STRING_get0_data(s), ASN1_STRING_get0_data(s) + ASN1_STRING_length(s));
    return true;
  }
  return false;
}

}  // namespace

std::optional<Bytes> RsaRecoverBlock(const TokenPublicKey& key, const Bytes& signature) {
  const PkeyPtr pub = RsaPublicKey(key.n, key.e);
  PkeyCtxPtr ctx(pub ? EVP_PKEY_CTX_new(pub.get(), nullptr) : nullptr);
  Bytes block(key.n.size());
  size_t len = block.size();
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
      EVP_PKEY_verify_recover(ctx.get(), block.data(), &len, signature.data(), signature.size()) != 1) {
    return std::nullopt;
  }
  block.resize(len);
  return block;
}

std::optional<Bytes> Sm2EncryptForToken(const TokenPublicKey& key, const Bytes& plain) {
  const PkeyPtr pub = Sm2PublicKey(key.xy);
  PkeyCtxPtr ctx(pub ? EVP_PKEY_CTX_new(pub.get(), nullptr) : nullptr);
  size_t len = 0;
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), nullptr, &len, plain.data(), plain.size()) != 1) {
    return std::nullopt;
  }
  Bytes der(len);
  if (EVP_PKEY_encrypt(ctx.get(), der.data(), &len, plain.data(), plain.size()) != 1) {
    return std::nullopt;
  }
  // SEQUENCE { x INTEGER, y INTEGER, C3 OCTET STRING, C2 OCTET STRING }
  const unsigned char* p = der.data();
  ASN1_SEQUENCE_ANY* seq = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(len));
  if (seq == nullptr) {
    return std::nullopt;
  }
  Bytes parts[4];
  bool ok = sk_ASN1_TYPE_num(seq) == 4;
  for (int i = 0; ok && i < 4; ++i) {
    ok = ElementBytes(sk_ASN1_TYPE_value(seq, i), &parts[i]);
  }
  sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
  if (!ok) {
    return std::nullopt;
  }
  Bytes raw = {0x04};
  for (const int i : {0, 1, 3, 2}) {
    raw.insert(raw.end(), parts[i].begin(), parts[i].end());
  }
  return raw;
}

Rsaenh::Rsaenh() {
  if (!::CryptAcquireContextW(&m_prov, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
    m_prov = 0;
  }
}

Rsaenh::~Rsaenh() {
  if (m_generated != 0) {
    ::CryptDestroyKey(m_generated);
  }
  if (m_prov != 0) {
    ::CryptReleaseContext(m_prov, 0);
  }
}

HCRYPTKEY Rsaenh::ImportPublic(const TokenPublicKey& key, ALG_ID keyAlg) {
  // PUBLICKEYBLOB: BLOBHEADER, RSAPUBKEY, the modulus little-endian.
  Bytes blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY));
  auto* header = reinterpret_cast<BLOBHEADER*>(blob.data());
  header->bType = PUBLICKEYBLOB;
  header->bVersion = CUR_BLOB_VERSION;
  header->aiKeyAlg = keyAlg;
  auto* rsa = reinterpret_cast<RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
  rsa->magic = 0x31415352;  // "RSA1"
  rsa->bitlen = static_cast<DWORD>(key.n.size() * 8);
  rsa->pubexp = 0;
  for (const std::uint8_t b : key.e) {
    rsa->pubexp = (rsa->pubexp << 8) | b;
  }
  PutLittleEndian(key.n, key.n.size(), &blob);
  HCRYPTKEY hKey = 0;
  if (!::CryptImportKey(m_prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey)) {
    return 0;
  }
  return hKey;
}

bool Rsaenh::Verify(const TokenPublicKey& key, ALG_ID hashAlg, const Bytes& hash,
                    const Bytes& signature) {
  const HCRYPTKEY hKey = ImportPublic(key, CALG_RSA_SIGN);
  HCRYPTHASH hHash = 0;
  bool ok = hKey != 0 && ::CryptCreateHash(m_prov, hashAlg, 0, 0, &hHash) &&
            ::CryptSetHashParam(hHash, HP_HASHVAL, hash.data(), 0);
  if (ok) {
    const Bytes le = Reversed(signature);
    ok = ::CryptVerifySignatureW(hHash, le.data(), static_cast<DWORD>(le.size()), hKey, nullptr, 0);
  }
  if (hHash != 0) {
    ::CryptDestroyHash(hHash);
  }
  if (hKey != 0) {
    ::CryptDestroyKey(hKey);
  }
  return ok;
}

std::optional<Bytes> Rsaenh::Encrypt(const TokenPublicKey& key, const Bytes& plain) {
  const HCRYPTKEY hKey = ImportPublic(key, CALG_RSA_KEYX);
  if (hKey == 0) {
    return std::nullopt;
  }
  Bytes buffer(plain);
  buffer.resize(key.n.size());
  DWORD len = static_cast<DWORD>(plain.size());
  const BOOL ok = ::CryptEncrypt(hKey, 0, TRUE, 0, buffer.data(), &len,
                                 static_cast<DWORD>(buffer.size()));
  ::CryptDestroyKey(hKey);
  if (!ok) {
    return std::nullopt;
  }
  buffer.resize(len);
  return Reversed(buffer);
}

bool Rsaenh::GenerateSignatureKey(RSA_KEY* pPair) {
  if (m_generated != 0) {
    ::CryptDestroyKey(m_generated);
    m_generated = 0;
  }
  if (!::CryptGenKey(m_prov, AT_SIGNATURE, (1024u << 16) | CRYPT_EXPORTABLE, &m_generated)) {
    return false;
  }
  DWORD len = 0;
  if (!::CryptExportKey(m_generated, 0, PRIVATEKEYBLOB, 0, nullptr, &len)) {
    return false;
  }
  Bytes blob(len);
  if (!::CryptExportKey(m_generated, 0, PRIVATEKEYBLOB, 0, blob.data(), &len)) {
    return false;
  }
  // BLOBHEADER, RSAPUBKEY, modulus, prime1, prime2, exponent1, exponent2,
  // coefficient, private exponent; little-endian, k or k/2 bytes each.
  const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
  const size_t k = rsa->bitlen / 8;
  const std::uint8_t* modulus = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  const std::uint8_t* d = modulus + k + 5 * (k / 2);
  if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + k + 5 * (k / 2) + k) {
    return false;
  }
  RSA_KEY pair{};
  std::reverse_copy(modulus, modulus + k, pair.n);
  pair.nLen = static_cast<DWORD>(k);
  std::reverse_copy(d, d + k, pair.d);
  pair.dLen = static_cast<DWORD>(k);
  Bytes e;
  for (DWORD v = rsa->pubexp; v != 0; v >>= 8) {
    e.insert(e.begin(), static_cast<std::uint8_t>(v));
  }
  std::copy(e.begin(), e.end(), pair.e);
  pair.eLen = static_cast<DWORD>(e.size());
  *pPair = pair;
  merro::SecureWipe(blob.data(), blob.size());
  merro::SecureWipe(&pair, sizeof pair);
  return true;
}

std::optional<Bytes> Rsaenh::SignWithGeneratedKey(ALG_ID hashAlg, const Bytes& hash) {
  HCRYPTHASH hHash = 0;
  if (m_generated == 0 || !::CryptCreateHash(m_prov, hashAlg, 0, 0, &hHash)) {
    return std::nullopt;
  }
  Bytes signature(512);
  DWORD len = static_cast<DWORD>(signature.size());
  const bool ok = ::CryptSetHashParam(hHash, HP_HASHVAL, hash.data(), 0) &&
                  ::CryptSignHashW(hHash, AT_SIGNATURE, nullptr, 0, signature.data(), &len);
  ::CryptDestroyHash(hHash);
  if (!ok) {
    return std::nullopt;
  }
  signature.resize(len);
  return Reversed(signature);
}

}  // namespace merro::testing
