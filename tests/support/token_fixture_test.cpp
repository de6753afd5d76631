// The token fixture against the daemon: what it writes is on the token as
// the token API reads it back, and each certificate certifies the key pair
// the token made in the same slot.
#include "tests/support/token_fixture.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "tests/device/support/device_bench.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace {

using merro::testing::CertBytes;
using merro::testing::DeviceBench;
using merro::testing::FilledToken;
using merro::testing::TestKey;
using merro::testing::TokenFixture;

struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};

CertBytes ReadCert(DEV_CTX* ctx, WORD fid) {
  CertBytes der(2048);
  DWORD len = static_cast<DWORD>(der.size());
  if (ExportCert(ctx, fid, der.data(), &len) != S_OK) {
    return {};
  }
  der.resize(len);
  return der;
}

// The key the token holds in a key file, as an OpenSSL key.
TestKey TokenKey(DEV_CTX* ctx, BYTE alg, WORD fid) {
  if (alg == MR_ALG_SM2) {
    BYTE xy[64] = {};
    EXPECT_EQ(ExportPublicKey(ctx, alg, fid, xy), S_OK);
    return TestKey::FromSm2Point(std::vector<std::uint8_t>(xy, xy + 64));
  }
  auto key = std::make_unique<RSA_KEY>();
  EXPECT_EQ(ExportPublicKey(ctx, alg, fid, key.get()), S_OK);
  return TestKey::FromRsaComponents(std::vector<std::uint8_t>(key->n, key->n + key->nLen),
                               std::vector<std::uint8_t>(key->e, key->e + key->eLen));
}

bool Certifies(const CertBytes& der, const TestKey& key) {
  const unsigned char* p = der.data();
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return cert && key && EVP_PKEY_eq(X509_get0_pubkey(cert.get()), key.Get()) == 1;
}

TEST(TokenFixture, StandardTokenHoldsItsContainersKeysCertificatesAndName) {
  FilledToken filled;
  ASSERT_TRUE(TokenFixture::Fill(0, TokenFixture::Standard(), &filled));
  ASSERT_EQ(filled.containers.size(), 3u);
  EXPECT_FALSE(filled.containers[0].signatureCert.empty());
  EXPECT_FALSE(filled.containers[1].exchangeCert.empty());
  EXPECT_TRUE(filled.containers[2].signatureCert.empty());

  merro::testing::OpenToken ctx;
  ASSERT_TRUE(DeviceBench::Open(0, &ctx));
  CONTAINER_RECORD records[4] = {};
  DWORD count = 4;
  ASSERT_EQ(EnumContainer(ctx.get(), records, &count), S_OK);
  ASSERT_EQ(count, 3u);

  struct Expected {
    const char* name;
    BYTE alg;
    BYTE lengthCode;
    bool certificates;
  };
  const Expected expected[] = {
      {"rsa-both", MR_ALG_RSA2048, 2, true},
      {"sm2-both", MR_ALG_SM2, 0, true},
      {"keys-only", MR_ALG_RSA1024, 1, false},
  };
  for (DWORD i = 0; i < count; ++i) {
    const CONTAINER_RECORD& r = records[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.name);
    EXPECT_STREQ(r.szContainerName, e.name);
    EXPECT_EQ(r.AlgType, e.alg);
    EXPECT_EQ(r.SignKeyLen, e.lengthCode);
    EXPECT_EQ(r.ExchKeyLen, e.lengthCode);
    EXPECT_TRUE(MrIsAvailableRecord(r.byFlag, r.SignKeyLen)) << int(r.byFlag);
    const TestKey signKey = TokenKey(ctx.get(), r.AlgType, r.SignKeyFID);
    const TestKey exchKey = TokenKey(ctx.get(), r.AlgType, r.ExchangeKeyFID);
    ASSERT_TRUE(signKey);
    ASSERT_TRUE(exchKey);
    const CertBytes signCert = ReadCert(ctx.get(), r.SignCertFID);
    const CertBytes exchCert = ReadCert(ctx.get(), r.ExchangeCertFID);
    if (e.certificates) {
      EXPECT_EQ(signCert, filled.containers[i].signatureCert);
      EXPECT_EQ(exchCert, filled.containers[i].exchangeCert);
      EXPECT_TRUE(Certifies(signCert, signKey));
      EXPECT_TRUE(Certifies(exchCert, exchKey));
      EXPECT_FALSE(Certifies(signCert, exchKey)) << "each slot has its own key pair";
    } else {
      EXPECT_TRUE(signCert.empty());
      EXPECT_TRUE(exchCert.empty());
    }
  }

  BYTE label[64] = {};
  DWORD labelLen = sizeof label;
  ASSERT_EQ(GetTokenName(ctx.get(), label, &labelLen), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(label), labelLen).substr(0, 9), "Probe Key");
}

TEST(TokenFixture, ExchangeOnlyContainerIsAvailableAndRefillingStartsOver) {
  merro::testing::FixtureToken token;
  merro::testing::FixtureContainer single;
  single.name = "exchange-only";
  single.algorithm = merro::testing::FixtureAlgorithm::Sm2;
  single.signatureKey = false;
  single.exchangeCert = merro::testing::EncryptionCertificate();
  single.exchangeCert->keyUsage.reset();  // no key-usage extension
  token.containers = {single};
  ASSERT_TRUE(TokenFixture::Fill(0, TokenFixture::Standard()));
  FilledToken filled;
  ASSERT_TRUE(TokenFixture::Fill(0, token, &filled));

  merro::testing::OpenToken ctx;
  ASSERT_TRUE(DeviceBench::Open(0, &ctx));
  CONTAINER_RECORD records[4] = {};
  DWORD count = 4;
  ASSERT_EQ(EnumContainer(ctx.get(), records, &count), S_OK);
  ASSERT_EQ(count, 1u) << "a refill erases what the token held";
  EXPECT_STREQ(records[0].szContainerName, "exchange-only");
  EXPECT_EQ(records[0].SignKeyLen, MR_CTNR_NONE);
  EXPECT_TRUE(MrIsAvailableRecord(records[0].byFlag, records[0].SignKeyLen));
  EXPECT_EQ(ReadCert(ctx.get(), records[0].ExchangeCertFID), filled.containers[0].exchangeCert);

  // A certificate without its key is refused before anything is written.
  merro::testing::FixtureToken bad;
  merro::testing::FixtureContainer noKey;
  noKey.name = "no-key";
  noKey.signatureKey = false;
  noKey.signatureCert = merro::testing::SigningCertificate();
  bad.containers = {noKey};
  EXPECT_FALSE(TokenFixture::Fill(0, bad));
}

}  // namespace
