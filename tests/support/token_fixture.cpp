#include "tests/support/token_fixture.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "tests/device/support/device_bench.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace merro::testing {
namespace {

// A record that names the container (64 bytes at most, no terminator needed).
CONTAINER_RECORD NamedRecord(const std::string& name) {
  CONTAINER_RECORD record{};
  std::memcpy(record.szContainerName, name.data(),
              std::min(name.size(), sizeof record.szContainerName));
  return record;
}

BYTE AlgType(FixtureAlgorithm algorithm) {
  switch (algorithm) {
    case FixtureAlgorithm::Rsa1024:
      return MR_ALG_RSA1024;
    case FixtureAlgorithm::Rsa2048:
      return MR_ALG_RSA2048;
    default:
      return MR_ALG_SM2;
  }
}

// The record's key length code: 0 SM2, 1 RSA-1024, 2 RSA-2048.
BYTE LengthCode(FixtureAlgorithm algorithm) {
  switch (algorithm) {
    case FixtureAlgorithm::Rsa1024:
      return 1;
    case FixtureAlgorithm::Rsa2048:
      return 2;
    default:
      return 0;
  }
}

// Generates a key pair in the key file; the public key for the certificate.
::testing::AssertionResult GenerateKey(int i, DEV_CTX* ctx, FixtureAlgorithm algorithm, WORD fid,
                                       TestKey* pPublic) {
  if (algorithm == FixtureAlgorithm::Sm2) {
    BYTE xy[64] = {};
    BENCH_STEP(GenerateKeyPair(ctx, MR_ALG_SM2, fid, xy));
    *pPublic = TestKey::FromSm2Point(std::vector<std::uint8_t>(xy, xy + sizeof xy));
  } else {
    auto key = std::make_unique<RSA_KEY>();
    BENCH_STEP(GenerateKeyPair(ctx, AlgType(algorithm), fid, key.get()));
    *pPublic = TestKey::FromRsaComponents(std::vector<std::uint8_t>(key->n, key->n + key->nLen),
                                     std::vector<std::uint8_t>(key->e, key->e + key->eLen));
  }
  if (!*pPublic) {
    return ::testing::AssertionFailure() << "the token's public key in file " << fid
                                         << " makes no key";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WriteCertificate(int i, DEV_CTX* ctx, const TestKey& key,
                                            const FixtureCertificate& spec, WORD fid,
                                            CertBytes* pDer) {
  CertificateSpec issue;
  issue.subjectKey = key;
  issue.keyUsage = spec.keyUsage;
  issue.notAfter = DaysFromNow(spec.notAfterDays);
  issue.countryCN = spec.countryCN;
  issue.commonName = spec.commonName;
  *pDer = TestCa::Shared().Issue(issue);
  if (pDer->empty()) {
    return ::testing::AssertionFailure() << "the test CA issued nothing";
  }
  BENCH_STEP(ImportCert(ctx, fid, pDer->data(), static_cast<DWORD>(pDer->size())));
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult FillContainer(int i, DEV_CTX* ctx, const FixtureContainer& spec,
                                         FilledContainer* pFilled) {
  if ((spec.signatureCert && !spec.signatureKey) || (spec.exchangeCert && !spec.exchangeKey)) {
    return ::testing::AssertionFailure() << spec.name << ": a certificate needs its key";
  }
  CONTAINER_RECORD record = NamedRecord(spec.name);
  BENCH_STEP(CreateContainer(ctx, &record));
  CONTAINER_RECORD codes = record;
  codes.AlgType = AlgType(spec.algorithm);
  codes.SignKeyLen = spec.signatureKey ? LengthCode(spec.algorithm) : MR_CTNR_NONE;
  codes.ExchKeyLen = spec.exchangeKey ? LengthCode(spec.algorithm) : MR_CTNR_NONE;
  BENCH_STEP(WriteContainer(ctx, &codes));

  pFilled->name = spec.name;
  struct Slot {
    bool key;
    const std::optional<FixtureCertificate>& cert;
    WORD keyFid;
    WORD certFid;
    CertBytes* der;
  };
  const Slot slots[] = {
      {spec.signatureKey, spec.signatureCert, record.SignKeyFID, record.SignCertFID,
       &pFilled->signatureCert},
      {spec.exchangeKey, spec.exchangeCert, record.ExchangeKeyFID, record.ExchangeCertFID,
       &pFilled->exchangeCert},
  };
  for (const Slot& slot : slots) {
    if (!slot.key) {
      continue;
    }
    TestKey key;
    if (auto made = GenerateKey(i, ctx, spec.algorithm, slot.keyFid, &key); !made) {
      return made;
    }
    if (slot.cert) {
      if (auto written = WriteCertificate(i, ctx, key, *slot.cert, slot.certFid, slot.der); !written) {
        return written;
      }
    }
  }
  // Available, so that the next creation does not reclaim it as unfinished
  // (a container with every file is available already).
  CONTAINER_RECORD stored = NamedRecord(spec.name);
  BENCH_STEP(ReadContainer(ctx, &stored));
  if (spec.available && !MrIsAvailableRecord(stored.byFlag, stored.SignKeyLen)) {
    BENCH_STEP(EnableContainer(ctx, spec.name.c_str(), static_cast<DWORD>(spec.name.size())));
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

FixtureCertificate SigningCertificate() {
  FixtureCertificate cert;
  cert.keyUsage = kKeyUsageDigitalSignature | kKeyUsageNonRepudiation;
  return cert;
}

FixtureCertificate EncryptionCertificate() {
  FixtureCertificate cert;
  cert.keyUsage = kKeyUsageKeyEncipherment | kKeyUsageDataEncipherment;
  return cert;
}

::testing::AssertionResult TokenFixture::Fill(int i, const FixtureToken& token, FilledToken* pFilled) {
  if (auto prepared = DeviceBench::Prepare(i); !prepared) {
    return prepared;
  }
  FilledToken filled;
  filled.deviceName = DeviceBench::DeviceName(i);
  OpenToken ctx;
  if (auto opened = DeviceBench::Open(i, &ctx); !opened) {
    return opened;
  }
  BENCH_STEP(SetSessionKey(ctx.get()));
  const std::string pin = DeviceBench::kFactoryPin;
  BENCH_STEP(VerifyPIN(ctx.get(), 1, reinterpret_cast<const BYTE*>(pin.data()),
                       static_cast<BYTE>(pin.size())));
  for (const FixtureContainer& spec : token.containers) {
    FilledContainer container;
    if (auto done = FillContainer(i, ctx.get(), spec, &container); !done) {
      return done << " (container " << spec.name << ")";
    }
    filled.containers.push_back(std::move(container));
  }
  if (!token.label.empty()) {
    BENCH_STEP(SetTokenName(ctx.get(), reinterpret_cast<const BYTE*>(token.label.data()),
                            static_cast<DWORD>(token.label.size())));
  }
  BENCH_STEP(ResetDevice(ctx.get()));
  if (pFilled != nullptr) {
    *pFilled = std::move(filled);
  }
  return ::testing::AssertionSuccess();
}

FixtureToken TokenFixture::Standard() {
  FixtureToken token;
  token.label = "Probe Key";
  FixtureContainer rsa;
  rsa.name = "rsa-both";
  rsa.algorithm = FixtureAlgorithm::Rsa2048;
  rsa.signatureCert = SigningCertificate();
  rsa.exchangeCert = EncryptionCertificate();
  FixtureContainer sm2;
  sm2.name = "sm2-both";
  sm2.algorithm = FixtureAlgorithm::Sm2;
  sm2.signatureCert = SigningCertificate();
  sm2.exchangeCert = EncryptionCertificate();
  FixtureContainer keysOnly;
  keysOnly.name = "keys-only";
  keysOnly.algorithm = FixtureAlgorithm::Rsa1024;
  token.containers = {rsa, sm2, keysOnly};
  return token;
}

}  // namespace merro::testing
