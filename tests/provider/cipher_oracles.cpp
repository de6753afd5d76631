#include "tests/provider/cipher_oracles.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::testing {
namespace {

// A verification context of rsaenh; released with its keys.
class RsaenhContext {
 public:
  RsaenhContext() {
    EXPECT_TRUE(::CryptAcquireContextW(&m_hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                       CRYPT_VERIFYCONTEXT))
        << std::hex << ::GetLastError();
  }
  ~RsaenhContext() {
    if (m_hKey != 0) {
      ::CryptDestroyKey(m_hKey);
    }
    if (m_hProv != 0) {
      ::CryptReleaseContext(m_hProv, 0);
    }
  }
  RsaenhContext(const RsaenhContext&) = delete;
  RsaenhContext& operator=(const RsaenhContext&) = delete;

  bool Import(const Bytes& blob) {
    const bool ok =
        m_hProv != 0 &&
        ::CryptImportKey(m_hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &m_hKey);
    EXPECT_TRUE(ok) << "CryptImportKey " << std::hex << ::GetLastError();
    return ok;
  }
  HCRYPTKEY key() const { return m_hKey; }

  // One CryptEncrypt with the final flag; empty on failure.
  Bytes EncryptFinal(const Bytes& plain) {
    DWORD needed = static_cast<DWORD>(plain.size());
    if (!::CryptEncrypt(m_hKey, 0, TRUE, 0, nullptr, &needed, 0)) {
      ADD_FAILURE() << "CryptEncrypt (size) " << std::hex << ::GetLastError();
      return {};
    }
    Bytes buffer(std::max<size_t>(needed, plain.size()));
    std::copy(plain.begin(), plain.end(), buffer.begin());
    DWORD length = static_cast<DWORD>(plain.size());
    if (!::CryptEncrypt(m_hKey, 0, TRUE, 0, buffer.data(), &length,
                        static_cast<DWORD>(buffer.size()))) {
      ADD_FAILURE() << "CryptEncrypt " << std::hex << ::GetLastError();
      return {};
    }
    buffer.resize(length);
    return buffer;
  }

 private:
  HCRYPTPROV m_hProv = 0;
  HCRYPTKEY m_hKey = 0;
};

template <typename T>
void Append(Bytes* out, const T& value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  out->insert(out->end(), p, p + sizeof value);
}

Bytes BigNumber(const ASN1_TYPE* item, size_t width) {
  Bytes out(width);
  if (item == nullptr || item->type != V_ASN1_INTEGER) {
    ADD_FAILURE() << "SM2 ciphertext: no INTEGER";
    return out;
  }
  BIGNUM* bn = ASN1_INTEGER_to_BN(item->value.integer, nullptr);
  BN_bn2binpad(bn, out.data(), static_cast<int>(width));
  BN_free(bn);
  return out;
}

Bytes Octets(const ASN1_TYPE* item) {
  if (item == nullptr || item->type != V_ASN1_OCTET_STRING) {
    ADD_FAILURE() << "SM2 ciphertext: no OCTET STRING";
    return {};
  }
  const unsigned char* p = ASN1_STRING_get0_data(item->value.octet_string);
  return Bytes(p, p + ASN1_STRING_length(item->value.octet_string));
}

struct SequenceFree {
  void operator()(ASN1_SEQUENCE_ANY* p) const { sk_ASN1_TYPE_pop_free(p, ASN1_TYPE_free); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};

// EVP_PKEY_encrypt after the context was set up by `configure`.
template <typename Configure>
Bytes PkeyEncrypt(EVP_PKEY* key, const Bytes& in, Configure configure) {
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key, nullptr));
  size_t length = 0;
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 || !configure(ctx.get()) ||
      EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in.data(), in.size()) != 1) {
    ADD_FAILURE() << "EVP_PKEY_encrypt set-up";
    return {};
  }
  Bytes out(length);
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, in.data(), in.size()) != 1) {
    ADD_FAILURE() << "EVP_PKEY_encrypt";
    return {};
  }
  out.resize(length);
  return out;
}

}  // namespace

Bytes RsaenhPublicEncrypt(const Bytes& n, const Bytes& e, const Bytes& plain) {
  Bytes blob;
  const BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_KEYX};
  Append(&blob, header);
  DWORD exponent = 0;
  for (std::uint8_t b : e) {
    exponent = (exponent << 8) | b;
  }
  const RSAPUBKEY rsa{0x31415352 /* "RSA1" */, static_cast<DWORD>(n.size() * 8), exponent};
  Append(&blob, rsa);
  blob.insert(blob.end(), n.rbegin(), n.rend());  // little-endian in the blob
  RsaenhContext context;
  if (!context.Import(blob)) {
    return {};
  }
  Bytes cipher = context.EncryptFinal(plain);
  std::reverse(cipher.begin(), cipher.end());
  return cipher;
}

Bytes RsaenhSessionEncrypt(ALG_ID alg, DWORD mode, const Bytes& key, const Bytes& plain) {
  Bytes blob;
  const BLOBHEADER header{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, alg};
  Append(&blob, header);
  Append(&blob, static_cast<DWORD>(key.size()));
  blob.insert(blob.end(), key.begin(), key.end());
  RsaenhContext context;
  if (!context.Import(blob)) {
    return {};
  }
  if (mode != 0 &&
      !::CryptSetKeyParam(context.key(), KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0)) {
    ADD_FAILURE() << "KP_MODE " << std::hex << ::GetLastError();
    return {};
  }
  return context.EncryptFinal(plain);
}

Bytes RawRsaPublic(const Bytes& n, const Bytes& e, const Bytes& block) {
  const PkeyPtr key = RsaPublicKey(n, e);
  if (!key) {
    ADD_FAILURE() << "RSA public key";
    return {};
  }
  return PkeyEncrypt(key.get(), block, [](EVP_PKEY_CTX* ctx) {
    return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) > 0;
  });
}

Bytes Sm2Parts::XyC2C3() const {
  Bytes out = x;
  for (const Bytes* part : {&y, &c2, &c3}) {
    out.insert(out.end(), part->begin(), part->end());
  }
  return out;
}

Bytes Sm2Parts::XyC3C2() const {
  Bytes out = x;
  for (const Bytes* part : {&y, &c3, &c2}) {
    out.insert(out.end(), part->begin(), part->end());
  }
  return out;
}

Sm2Parts OpenSslSm2Encrypt(const Bytes& xy, const Bytes& plain) {
  Sm2Parts parts;
  const PkeyPtr key = Sm2PublicKey(xy);
  if (!key) {
    ADD_FAILURE() << "SM2 public key";
    return parts;
  }
  const Bytes der = PkeyEncrypt(key.get(), plain, [](EVP_PKEY_CTX*) { return true; });
  const unsigned char* p = der.data();
  std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree> seq(
      d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size())));
  if (!seq || sk_ASN1_TYPE_num(seq.get()) != 4) {
    ADD_FAILURE() << "SM2 ciphertext: not a SEQUENCE of four";
    return parts;
  }
  parts.x = BigNumber(sk_ASN1_TYPE_value(seq.get(), 0), 32);
  parts.y = BigNumber(sk_ASN1_TYPE_value(seq.get(), 1), 32);
  parts.c3 = Octets(sk_ASN1_TYPE_value(seq.get(), 2));
  parts.c2 = Octets(sk_ASN1_TYPE_value(seq.get(), 3));
  return parts;
}

}  // namespace merro::testing
