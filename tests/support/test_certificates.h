// The tests' certificate authority: X.509 certificates in DER for RSA and SM2
// keys, with a chosen NotAfter, key usage (or none) and subject, issued by
// one RSA test CA per process. Built on OpenSSL; the output decodes with
// crypt32's CertCreateCertificateContext.
//
//   merro::testing::CertificateSpec spec;
//   spec.subjectKey = merro::testing::TestKey::GenerateSm2();
//   spec.keyUsage = merro::testing::kKeyUsageKeyEncipherment;
//   spec.notAfter = merro::testing::DaysFromNow(10);
//   Bytes der = merro::testing::TestCa::Shared().Issue(spec);
//
// This header names no OpenSSL type (wincrypt.h's X509_NAME macro breaks
// OpenSSL's headers when both are included).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct evp_pkey_st;

namespace merro::testing {

using CertBytes = std::vector<std::uint8_t>;

// A key for a certificate's subject: a generated key pair, or a public key
// in the form the token exports it. Copies share the key.
class TestKey {
 public:
  TestKey() = default;
  static TestKey GenerateRsa(int bits);
  static TestKey GenerateSm2();
  // A DER RSAPublicKey (modulus and exponent).
  static TestKey FromRsaPublicDer(const std::vector<std::uint8_t>& der);
  // An SM2 public point as X || Y (32 bytes each).
  static TestKey FromSm2Point(const std::vector<std::uint8_t>& xy);
  // An RSA public key from its modulus and exponent, most significant byte
  // first (as the token and the device object hand them out).
  static TestKey FromRsaComponents(const std::vector<std::uint8_t>& n,
                                   const std::vector<std::uint8_t>& e);

  evp_pkey_st* Get() const { return m_key.get(); }
  explicit operator bool() const { return m_key != nullptr; }
  bool IsSm2() const;
  int Bits() const;
  // The public key as the token exports it: DER RSAPublicKey, or SM2 X || Y.
  std::vector<std::uint8_t> PublicExport() const;

 private:
  explicit TestKey(evp_pkey_st* adopted);
  std::shared_ptr<evp_pkey_st> m_key;
};

// Key-usage bits as the first byte of the extension's bit string carries them.
inline constexpr unsigned kKeyUsageDigitalSignature = 0x80;
inline constexpr unsigned kKeyUsageNonRepudiation = 0x40;
inline constexpr unsigned kKeyUsageKeyEncipherment = 0x20;
inline constexpr unsigned kKeyUsageDataEncipherment = 0x10;
inline constexpr unsigned kKeyUsageKeyAgreement = 0x08;

// A time the given number of days from now (negative: in the past).
std::time_t DaysFromNow(double days);

struct CertificateSpec {
  TestKey subjectKey;  // required
  std::string commonName = "Zhang San 01";
  std::string organization = "Probe Bank";  // empty: no O attribute
  bool countryCN = true;                    // C=CN first in the subject
  // First byte of the key-usage extension; none: no extension at all.
  std::optional<unsigned> keyUsage = kKeyUsageDigitalSignature;
  // Default: a year from now. NotBefore lies 30 days before the earlier of
  // now and NotAfter.
  std::optional<std::time_t> notAfter;
};

class TestCa {
 public:
  // The process's CA (an RSA-2048 key, made on first use).
  static const TestCa& Shared();
  // A certificate in DER; every certificate of the process has its own
  // serial number. Empty when OpenSSL fails (or the spec has no key).
  CertBytes Issue(const CertificateSpec& spec) const;
  // The CA's own self-signed certificate.
  const CertBytes& Certificate() const { return m_certificate; }

 private:
  TestCa();
  TestKey m_key;
  CertBytes m_certificate;
};

}  // namespace merro::testing
