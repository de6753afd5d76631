// The test CA's certificates carry what was asked for, and are signed by it.
#include "tests/support/test_certificates.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <set>

namespace merro::testing {
namespace {

struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr Decode(const CertBytes& der) {
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  EXPECT_EQ(p, der.data() + der.size()) << "trailing or short encoding";
  return cert;
}

std::string Subject(X509* cert) {
  char text[256] = {};
  X509_NAME_oneline(X509_get_subject_name(cert), text, sizeof text);
  return text;
}

bool SignedByCa(X509* cert) {
  X509Ptr ca = Decode(TestCa::Shared().Certificate());
  EVP_PKEY* caKey = X509_get0_pubkey(ca.get());
  return ca && X509_verify(cert, caKey) == 1 &&
         X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(ca.get())) == 0;
}

// Keys made once: RSA key generation is slow under Wine.
const TestKey& Rsa1024() {
  static const TestKey key = TestKey::GenerateRsa(1024);
  return key;
}

TEST(TestCertificates, KeysOfBothKindsGiveSignedCertificates) {
  const TestKey sm2 = TestKey::GenerateSm2();
  ASSERT_TRUE(sm2.IsSm2());
  EXPECT_EQ(sm2.Bits(), 256);
  EXPECT_EQ(Rsa1024().Bits(), 1024);
  for (const TestKey& key : {Rsa1024(), sm2}) {
    CertificateSpec spec;
    spec.subjectKey = key;
    X509Ptr cert = Decode(TestCa::Shared().Issue(spec));
    ASSERT_TRUE(cert);
    EXPECT_TRUE(SignedByCa(cert.get()));
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert.get()), key.Get()), 1);
    EXPECT_EQ(Subject(cert.get()), "/C=CN/O=Probe Bank/CN=Zhang San 01");
  }
}

TEST(TestCertificates, ExportedPublicKeysMakeTheSameKey) {
  const TestKey sm2 = TestKey::GenerateSm2();
  const std::vector<std::uint8_t> xy = sm2.PublicExport();
  ASSERT_EQ(xy.size(), 64u);
  const TestKey fromPoint = TestKey::FromSm2Point(xy);
  ASSERT_TRUE(fromPoint.IsSm2());
  EXPECT_EQ(EVP_PKEY_eq(fromPoint.Get(), sm2.Get()), 1);

  const TestKey fromDer = TestKey::FromRsaPublicDer(Rsa1024().PublicExport());
  ASSERT_TRUE(fromDer);
  EXPECT_EQ(EVP_PKEY_eq(fromDer.Get(), Rsa1024().Get()), 1);

  CertificateSpec spec;
  spec.subjectKey = fromPoint;  // public key only: the CA signs
  X509Ptr cert = Decode(TestCa::Shared().Issue(spec));
  ASSERT_TRUE(cert);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert.get()), sm2.Get()), 1);
  EXPECT_FALSE(TestKey::FromSm2Point({1, 2, 3}));

  // Modulus and exponent as the token gives them, big-endian.
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(Rsa1024().Get(), "n", &n), 1);
  ASSERT_EQ(EVP_PKEY_get_bn_param(Rsa1024().Get(), "e", &e), 1);
  std::vector<std::uint8_t> nBytes(BN_num_bytes(n)), eBytes(BN_num_bytes(e));
  BN_bn2bin(n, nBytes.data());
  BN_bn2bin(e, eBytes.data());
  BN_free(n);
  BN_free(e);
  const TestKey fromParts = TestKey::FromRsaComponents(nBytes, eBytes);
  ASSERT_TRUE(fromParts);
  EXPECT_EQ(EVP_PKEY_eq(fromParts.Get(), Rsa1024().Get()), 1);
  EXPECT_FALSE(TestKey::FromRsaComponents({}, eBytes));
}

TEST(TestCertificates, SubjectKeyUsageAndDatesAreTheChosenOnes) {
  struct Case {
    bool countryCN;
    std::string organization;
    std::optional<unsigned> keyUsage;
    double notAfterDays;
    const char* subject;
  };
  const Case cases[] = {
      {true, "Probe Bank", kKeyUsageDigitalSignature, 10, "/C=CN/O=Probe Bank/CN=Zhang San 01"},
      {false, "Probe Bank", kKeyUsageKeyEncipherment, -1, "/O=Probe Bank/CN=Zhang San 01"},
      {true, "", kKeyUsageDigitalSignature | kKeyUsageNonRepudiation, 400,
       "/C=CN/CN=Zhang San 01"},
      {false, "Probe Bank", std::nullopt, 30, "/O=Probe Bank/CN=Zhang San 01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    CertificateSpec spec;
    spec.subjectKey = Rsa1024();
    spec.countryCN = c.countryCN;
    spec.organization = c.organization;
    spec.keyUsage = c.keyUsage;
    std::time_t notAfter = DaysFromNow(c.notAfterDays);
    spec.notAfter = notAfter;
    X509Ptr cert = Decode(TestCa::Shared().Issue(spec));
    ASSERT_TRUE(cert);
    EXPECT_EQ(Subject(cert.get()), c.subject);
    ASN1_TIME* chosen = ASN1_TIME_set(nullptr, notAfter);
    EXPECT_EQ(ASN1_TIME_compare(X509_get0_notAfter(cert.get()), chosen), 0);
    ASN1_TIME_free(chosen);
    EXPECT_LT(X509_cmp_time(X509_get0_notBefore(cert.get()), &notAfter), 0);
    const int index = X509_get_ext_by_NID(cert.get(), NID_key_usage, -1);
    if (c.keyUsage) {
      ASSERT_GE(index, 0);
      EXPECT_EQ(X509_get_key_usage(cert.get()) & 0xFF, *c.keyUsage);
    } else {
      EXPECT_LT(index, 0);
    }
  }
}

TEST(TestCertificates, EveryCertificateHasItsOwnSerial) {
  CertificateSpec spec;
  spec.subjectKey = Rsa1024();
  std::set<std::string> serials;
  for (int i = 0; i < 20; ++i) {
    X509Ptr cert = Decode(TestCa::Shared().Issue(spec));
    ASSERT_TRUE(cert);
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert.get());
    EXPECT_EQ(ASN1_STRING_type(serial), V_ASN1_INTEGER);  // positive
    serials.insert(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(serial)),
                               ASN1_STRING_length(serial)));
  }
  EXPECT_EQ(serials.size(), 20u);
  CertificateSpec noKey;
  EXPECT_TRUE(TestCa::Shared().Issue(noKey).empty());
}

}  // namespace
}  // namespace merro::testing
