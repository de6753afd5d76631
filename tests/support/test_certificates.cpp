#include "tests/support/test_certificates.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "tokenapi/crypto/common/openssl_ptr.h"

namespace merro::testing {

namespace {

using merro::crypto::OpenSslDeleter;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509_free>>;
using BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, OpenSslDeleter<ASN1_BIT_STRING_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslDeleter<X509_EXTENSION_free>>;

constexpr long kDay = 86400;

bool AddNameEntry(X509_NAME* name, const char* field, const std::string& value) {
  return value.empty() ||
         X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                    0) == 1;
}

// Serial numbers: 8 random octets, then a counter, kept positive.
bool SetSerial(X509* cert) {
  static std::atomic<std::uint32_t> counter{1};
  unsigned char bytes[12] = {};
  if (RAND_bytes(bytes, 8) != 1) {
    return false;
  }
  bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7F) | 0x10);
  const std::uint32_t n = counter++;
  for (int i = 0; i < 4; ++i) {
    bytes[8 + i] = static_cast<unsigned char>(n >> (24 - 8 * i));
  }
  merro::crypto::BnPtr bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
  return bn && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr;
}

bool SetKeyUsage(X509* cert, unsigned usage) {
  BitStringPtr bits(ASN1_BIT_STRING_new());
  if (!bits) {
    return false;
  }
  for (int bit = 0; bit < 8; ++bit) {
    if ((usage & (0x80u >> bit)) != 0 && ASN1_BIT_STRING_set_bit(bits.get(), bit, 1) != 1) {
      return false;
    }
  }
  ExtensionPtr ext(X509V3_EXT_i2d(NID_key_usage, 1, bits.get()));
  return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

CertBytes ToDer(X509* cert) {
  unsigned char* der = nullptr;
  const int len = i2d_X509(cert, &der);
  CertBytes out;
  if (len > 0) {
    out.assign(der, der + len);
  }
  OPENSSL_free(der);
  return out;
}

}  // namespace

TestKey::TestKey(evp_pkey_st* adopted) : m_key(adopted, EVP_PKEY_free) {}

TestKey TestKey::GenerateRsa(int bits) {
  return TestKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
}

TestKey TestKey::GenerateSm2() { return TestKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2")); }

TestKey TestKey::FromRsaPublicDer(const std::vector<std::uint8_t>& der) {
  const unsigned char* p = der.data();
  return TestKey(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
}

TestKey TestKey::FromSm2Point(const std::vector<std::uint8_t>& xy) {
  if (xy.size() != 64) {
    return TestKey();
  }
  unsigned char point[65] = {0x04};
  std::memcpy(point + 1, xy.data(), 64);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("SM2"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end()};
  merro::crypto::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return TestKey();
  }
  return TestKey(key);
}

TestKey TestKey::FromRsaComponents(const std::vector<std::uint8_t>& n,
                                   const std::vector<std::uint8_t>& e) {
  if (n.empty() || e.empty()) {
    return TestKey();
  }
  merro::crypto::BnPtr bnN(BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr));
  merro::crypto::BnPtr bnE(BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr));
  if (!bnN || !bnE) {
    return TestKey();
  }
  std::unique_ptr<OSSL_PARAM_BLD, OpenSslDeleter<OSSL_PARAM_BLD_free>> build(OSSL_PARAM_BLD_new());
  if (!build || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, bnN.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, bnE.get()) != 1) {
    return TestKey();
  }
  std::unique_ptr<OSSL_PARAM, OpenSslDeleter<OSSL_PARAM_free>> params(
      OSSL_PARAM_BLD_to_param(build.get()));
  if (!params) {
    return TestKey();
  }
  merro::crypto::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return TestKey();
  }
  return TestKey(key);
}

bool TestKey::IsSm2() const { return m_key && EVP_PKEY_is_a(m_key.get(), "SM2"); }

int TestKey::Bits() const { return m_key ? EVP_PKEY_get_bits(m_key.get()) : 0; }

std::vector<std::uint8_t> TestKey::PublicExport() const {
  std::vector<std::uint8_t> out;
  if (!m_key) {
    return out;
  }
  if (IsSm2()) {
    unsigned char point[65] = {};
    size_t len = 0;
    if (EVP_PKEY_get_octet_string_param(m_key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &len) == 1 &&
        len == sizeof point) {
      out.assign(point + 1, point + sizeof point);
    }
    return out;
  }
  unsigned char* der = nullptr;
  const int len = i2d_PublicKey(m_key.get(), &der);
  if (len > 0) {
    out.assign(der, der + len);
  }
  OPENSSL_free(der);
  return out;
}

std::time_t DaysFromNow(double days) {
  return std::time(nullptr) + static_cast<std::time_t>(days * kDay);
}

TestCa::TestCa() : m_key(TestKey::GenerateRsa(2048)) {
  X509Ptr cert(X509_new());
  if (!cert || !m_key || !SetSerial(cert.get())) {
    return;
  }
  X509_set_version(cert.get(), 2);
  X509_NAME* name = X509_get_subject_name(cert.get());
  AddNameEntry(name, "C", "CN");
  AddNameEntry(name, "O", "Probe Bank");
  AddNameEntry(name, "CN", "Probe Bank Test CA");
  X509_set_issuer_name(cert.get(), name);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -30 * kDay);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3650 * kDay);
  X509_set_pubkey(cert.get(), m_key.Get());
  if (X509_sign(cert.get(), m_key.Get(), EVP_sha256()) > 0) {
    m_certificate = ToDer(cert.get());
  }
}

const TestCa& TestCa::Shared() {
  static const TestCa ca;
  return ca;
}

CertBytes TestCa::Issue(const CertificateSpec& spec) const {
  X509Ptr cert(X509_new());
  X509Ptr ca;
  if (!cert || !spec.subjectKey || m_certificate.empty() || !SetSerial(cert.get())) {
    return CertBytes();
  }
  const unsigned char* p = m_certificate.data();
  ca.reset(d2i_X509(nullptr, &p, static_cast<long>(m_certificate.size())));
  if (!ca) {
    return CertBytes();
  }
  X509_set_version(cert.get(), 2);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  if (!(spec.countryCN ? AddNameEntry(subject, "C", "CN") : true) ||
      !AddNameEntry(subject, "O", spec.organization) ||
      !AddNameEntry(subject, "CN", spec.commonName)) {
    return CertBytes();
  }
  X509_set_issuer_name(cert.get(), X509_get_subject_name(ca.get()));

  const std::time_t now = std::time(nullptr);
  const std::time_t notAfter = spec.notAfter ? *spec.notAfter : now + 365 * kDay;
  const std::time_t notBefore = std::min(now, notAfter) - 30 * kDay;
  if (X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, 0, const_cast<std::time_t*>(&notBefore)) ==
          nullptr ||
      X509_time_adj_ex(X509_getm_notAfter(cert.get()), 0, 0, const_cast<std::time_t*>(&notAfter)) ==
          nullptr) {
    return CertBytes();
  }
  if (X509_set_pubkey(cert.get(), spec.subjectKey.Get()) != 1) {
    return CertBytes();
  }
  if (spec.keyUsage && !SetKeyUsage(cert.get(), *spec.keyUsage)) {
    return CertBytes();
  }
  if (X509_sign(cert.get(), m_key.Get(), EVP_sha256()) <= 0) {
    return CertBytes();
  }
  return ToDer(cert.get());
}

}  // namespace merro::testing
