// Simulated tokens filled with what the certificate manager shows: key
// containers with RSA-1024, RSA-2048 or SM2 key pairs made on the token,
// certificates for those keys from the tests' CA (key usage chosen, or
// none; NotAfter chosen; C=CN or not), and the token's name. On DeviceBench
// (a prepared token: PINs "47193628", never changed) and the token API,
// against the merro-tokensim daemon, natively and under Wine.
//
//   merro::testing::FilledToken filled;
//   ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, TokenFixture::Standard(), &filled));
//
// A daemon started with --image keeps what was written (DeviceBench's
// "save" writes it at once): tools and scripts start from such an image.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_certificates.h"

namespace merro::testing {

enum class FixtureAlgorithm { Rsa1024, Rsa2048, Sm2 };

struct FixtureCertificate {
  // First byte of the key-usage extension; none: no extension.
  std::optional<unsigned> keyUsage;
  double notAfterDays = 365;
  bool countryCN = true;
  std::string commonName = "Zhang San 01";
};

// A signature-slot certificate that signs and an exchange-slot one that
// encrypts, as a bank issues them.
FixtureCertificate SigningCertificate();
FixtureCertificate EncryptionCertificate();

struct FixtureContainer {
  std::string name;
  FixtureAlgorithm algorithm = FixtureAlgorithm::Rsa2048;
  bool signatureKey = true;
  bool exchangeKey = true;
  std::optional<FixtureCertificate> signatureCert;  // needs the signature key
  std::optional<FixtureCertificate> exchangeCert;   // needs the exchange key
  // false: left as a container waits for its certificates (its keys
  // written, not made available); only the last container of a token, since
  // the next creation would reclaim it.
  bool available = true;
};

struct FixtureToken {
  std::string label;  // the token's name; empty: it stores none
  std::vector<FixtureContainer> containers;  // at most four
};

// What was written, in the order given.
struct FilledContainer {
  std::string name;
  CertBytes signatureCert;  // empty when none
  CertBytes exchangeCert;
};
struct FilledToken {
  std::string deviceName;
  std::vector<FilledContainer> containers;
};

class TokenFixture {
 public:
  // Prepares token i and writes the containers (each made available), keys,
  // certificates and name; the token's security state is reset afterwards.
  static ::testing::AssertionResult Fill(int i, const FixtureToken& token,
                                         FilledToken* pFilled = nullptr);

  // The token the manager's tests start from, labelled "Probe Key": an
  // RSA-2048 container "rsa-both" with both certificates, an SM2 container
  // "sm2-both" with both, and an RSA-1024 container "keys-only" with keys
  // and no certificates.
  static FixtureToken Standard();
};

}  // namespace merro::testing
