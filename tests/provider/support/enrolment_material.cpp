#include "tests/provider/support/enrolment_material.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/tokenapi/support/key_blobs.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/crypto/sm2/sm2_api.h"

namespace merro::testing {
namespace {

constexpr size_t kSm2C1Len = 65;  // 04 || x1 || y1
constexpr size_t kSm2C3Len = 32;
constexpr size_t kBlobHeaderLen = 8;   // BLOBHEADER
constexpr size_t kRsaPubKeyLen = 12;   // RSAPUBKEY: magic, bit length, exponent
constexpr size_t kWrappedKeyBlockLen = 128;

DWORD ReadLe32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

ByteVector DerLength(size_t n) {
  if (n < 0x80) {
    return {static_cast<BYTE>(n)};
  }
  ByteVector octets;
  for (size_t v = n; v != 0; v >>= 8) {
    octets.insert(octets.begin(), static_cast<BYTE>(v & 0xFF));
  }
  octets.insert(octets.begin(), static_cast<BYTE>(0x80 | octets.size()));
  return octets;
}

// A value's bytes reversed: the provider's blobs are least significant byte
// first, the token's values most significant byte first.
ByteVector Reversed(const BYTE* p, size_t n) {
  ByteVector out(p, p + n);
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace

Sm2Material MakeSm2Material(DEV_CTX* pDevCtx, Sm2Form form) {
  Sm2Material out;
  BYTE tokenPublic[64] = {};
  EXPECT_EQ(TokenWrapPublicKey(pDevCtx, tokenPublic), 0) << "the token's unwrapping key";
  BYTE xyd[96] = {};
  EXPECT_EQ(merro::crypto::SM2_GenKey(xyd), 0);
  std::memcpy(out.key.x, xyd, 32);
  std::memcpy(out.key.y, xyd + 32, 32);
  std::memcpy(out.key.d, xyd + 64, 32);
  if (form == Sm2Form::Wrapped) {
    BYTE sm4Key[16] = {};
    EXPECT_EQ(GenerateRandom(pDevCtx, RANDOM_FLAG_SOFT, sizeof sm4Key, sm4Key), 0);
    out.blob = WrappedSm2Pair(tokenPublic, sm4Key, out.key);
  } else {
    out.blob = EncryptedSm2Pair(tokenPublic, out.key);
    if (form == Sm2Form::EncryptedC1C3C2 && out.blob.size() > kSm2C1Len + kSm2C3Len) {
      // C1, then the 32-byte check value, then the encrypted pair.
      std::rotate(out.blob.begin() + kSm2C1Len, out.blob.end() - kSm2C3Len, out.blob.end());
    }
  }
  if (!out.blob.empty()) {
    out.material.assign(out.blob.begin() + 1, out.blob.end());
  }
  return out;
}

ByteVector DerElement(BYTE tag, const ByteVector& content) {
  ByteVector out{tag};
  const ByteVector length = DerLength(content.size());
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

ByteVector DerSequence(const std::vector<ByteVector>& elements) {
  ByteVector content;
  for (const ByteVector& e : elements) {
    content.insert(content.end(), e.begin(), e.end());
  }
  return DerElement(0x30, content);
}

std::vector<ByteVector> RsaEnvelopeElements(const ByteVector& keyBlock, const ByteVector& pair) {
  // Version 1, the wrapping cipher (SM4, 1.2.156.10197.1.104), 2048 bits:
  // the token reads none of them.
  return {DerElement(0x02, {0x01}),
          DerElement(0x06, {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x68}),
          DerElement(0x02, {0x08, 0x00}),
          DerElement(0x04, keyBlock),
          DerElement(0x04, pair)};
}

ByteVector RsaEnvelope(const ByteVector& keyBlock, const ByteVector& pair) {
  return DerSequence(RsaEnvelopeElements(keyBlock, pair));
}

struct PlatformRsaKey::Handles {
  HCRYPTPROV hProv = 0;
  HCRYPTKEY hKey = 0;
  ~Handles() {
    if (hKey != 0) {
      ::CryptDestroyKey(hKey);
    }
    if (hProv != 0) {
      ::CryptReleaseContext(hProv, 0);
    }
  }
};

PlatformRsaKey PlatformRsaKey::Generate(DWORD bits) {
  PlatformRsaKey out;
  auto handles = std::make_shared<Handles>();
  if (!::CryptAcquireContextW(&handles->hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
    ADD_FAILURE() << "the platform's RSA provider: 0x" << std::hex << ::GetLastError();
    return out;
  }
  if (!::CryptGenKey(handles->hProv, AT_KEYEXCHANGE, (bits << 16) | CRYPT_EXPORTABLE,
                     &handles->hKey)) {
    ADD_FAILURE() << "CryptGenKey " << bits << ": 0x" << std::hex << ::GetLastError();
    return out;
  }
  DWORD len = 0;
  if (!::CryptExportKey(handles->hKey, 0, PRIVATEKEYBLOB, 0, nullptr, &len)) {
    ADD_FAILURE() << "CryptExportKey: 0x" << std::hex << ::GetLastError();
    return out;
  }
  out.m_blob.resize(len);
  if (!::CryptExportKey(handles->hKey, 0, PRIVATEKEYBLOB, 0, out.m_blob.data(), &len)) {
    ADD_FAILURE() << "CryptExportKey: 0x" << std::hex << ::GetLastError();
    out.m_blob.clear();
    return out;
  }
  out.m_blob.resize(len);
  out.m_key = handles;
  return out;
}

ByteVector PlatformRsaKey::Body() const {
  if (m_blob.size() <= kBlobHeaderLen) {
    return {};
  }
  return ByteVector(m_blob.begin() + kBlobHeaderLen, m_blob.end());
}

ByteVector PlatformRsaKey::Modulus() const {
  if (m_blob.size() < kBlobHeaderLen + kRsaPubKeyLen) {
    return {};
  }
  const size_t bytes = ReadLe32(m_blob.data() + kBlobHeaderLen + 4) / 8;
  return Reversed(m_blob.data() + kBlobHeaderLen + kRsaPubKeyLen, bytes);
}

RSA_KEY PlatformRsaKey::ToRsaKey() const {
  RSA_KEY key{};
  const ByteVector n = Modulus();
  if (n.empty() || n.size() > sizeof key.n) {
    return key;
  }
  const BYTE* parts = m_blob.data() + kBlobHeaderLen + kRsaPubKeyLen;
  const size_t half = n.size() / 2;
  // modulus, prime 1, prime 2, exponent 1, exponent 2, coefficient, then
  // the private exponent.
  const ByteVector d = Reversed(parts + n.size() + 5 * half, n.size());
  std::memcpy(key.n, n.data(), n.size());
  key.nLen = static_cast<DWORD>(n.size());
  std::memcpy(key.d, d.data(), d.size());
  key.dLen = static_cast<DWORD>(d.size());
  DWORD exponent = ReadLe32(m_blob.data() + kBlobHeaderLen + 8);
  BYTE e[4] = {static_cast<BYTE>(exponent >> 24), static_cast<BYTE>(exponent >> 16),
               static_cast<BYTE>(exponent >> 8), static_cast<BYTE>(exponent)};
  size_t skip = 0;
  while (skip < 3 && e[skip] == 0) {
    ++skip;
  }
  key.eLen = static_cast<DWORD>(4 - skip);
  std::memcpy(key.e, e + skip, key.eLen);
  return key;
}

ByteVector PlatformRsaKey::Encrypt(const ByteVector& plain) const {
  const size_t modulusLen = Modulus().size();
  if (!m_key || plain.size() > modulusLen) {
    ADD_FAILURE() << "nothing to encrypt with";
    return {};
  }
  ByteVector buffer(modulusLen);
  std::copy(plain.begin(), plain.end(), buffer.begin());
  DWORD len = static_cast<DWORD>(plain.size());
  if (!::CryptEncrypt(m_key->hKey, 0, TRUE, 0, buffer.data(), &len,
                      static_cast<DWORD>(buffer.size()))) {
    ADD_FAILURE() << "CryptEncrypt: 0x" << std::hex << ::GetLastError();
    return {};
  }
  return Reversed(buffer.data(), len);
}

RsaEnvelopeMaterial MakeRsa2048Envelope(DEV_CTX* pDevCtx) {
  RsaEnvelopeMaterial out;
  const PlatformRsaKey rsa = PlatformRsaKey::Generate(2048);
  if (!rsa) {
    return out;
  }
  BYTE tokenPublic[64] = {};
  EXPECT_EQ(TokenWrapPublicKey(pDevCtx, tokenPublic), 0) << "the token's unwrapping key";
  BYTE sm4Key[16] = {};
  EXPECT_EQ(GenerateRandom(pDevCtx, RANDOM_FLAG_SOFT, sizeof sm4Key, sm4Key), 0);
  RSA_KEY key = rsa.ToRsaKey();
  const WrappedRsaPair wrapped = WrapRsaPair(tokenPublic, sm4Key, key);
  EXPECT_EQ(wrapped.keyBlock.size(), kWrappedKeyBlockLen);
  out.modulus = rsa.Modulus();
  out.keyBlock = wrapped.keyBlock;
  out.pair = wrapped.pair;
  out.envelope = RsaEnvelope(wrapped.keyBlock, wrapped.pair);
  return out;
}

CertBytes CertificateOver(const ByteVector& tokenPublicKey, bool bSm2) {
  CertificateSpec spec;
  spec.subjectKey = bSm2 ? TestKey::FromSm2Point(tokenPublicKey)
                         : TestKey::FromRsaPublicDer(tokenPublicKey);
  spec.keyUsage = kKeyUsageDigitalSignature | kKeyUsageKeyEncipherment;
  EXPECT_TRUE(spec.subjectKey) << "the token's public key does not decode";
  return TestCa::Shared().Issue(spec);
}

}  // namespace merro::testing
