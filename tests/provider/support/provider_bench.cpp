#include "tests/provider/support/provider_bench.h"

#include <cstring>
#include <memory>
#include <sstream>

#include "foundation/alg_ids.h"
#include "foundation/misc/key_type.h"
#include "provider/cert_store.h"
#include "provider/container.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace merro::testing {
namespace {

using merro::provider::Container;
using merro::provider::StoreLocation;

// Token i opened, its session key set and its user PIN verified.
::testing::AssertionResult OpenWithPin(int i, OpenToken* pToken) {
  if (auto opened = DeviceBench::Open(i, pToken); !opened) {
    return opened;
  }
  BENCH_STEP(SetSessionKey(pToken->get()));
  BENCH_STEP(VerifyPIN(pToken->get(), 1, reinterpret_cast<const BYTE*>(ProviderBench::kUserPin),
                       static_cast<BYTE>(std::strlen(ProviderBench::kUserPin))));
  return ::testing::AssertionSuccess();
}

BYTE LengthCodeOf(BYTE byKeyType) {
  return byKeyType == MR_ALG_SM2 ? 0 : (byKeyType == MR_ALG_RSA1024 ? 1 : 2);
}

}  // namespace

TestKey TokenKeyPair::PublicKey() const {
  return byKeyType == MR_ALG_SM2 ? TestKey::FromSm2Point(sm2Point)
                                 : TestKey::FromRsaComponents(rsaModulus, rsaExponent);
}

int ProviderBench::TokenCount() {
  std::istringstream list(DeviceBench::Control("list"));
  std::string line;
  int count = 0;
  while (std::getline(list, line)) {
    int number = -1;
    if (std::istringstream(line) >> number) {
      ++count;
    }
  }
  return count;
}

::testing::AssertionResult ProviderBench::MakeContainer(int i, const std::string& container,
                                                        std::vector<ContainerKey>* pKeys) {
  OpenToken token;
  if (auto opened = OpenWithPin(i, &token); !opened) {
    return opened;
  }
  CONTAINER_RECORD record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(record.szContainerName, container.data(),
              std::min<size_t>(container.size(), sizeof record.szContainerName));
  BENCH_STEP(CreateContainer(token.get(), &record));
  for (ContainerKey& key : *pKeys) {
    const BYTE byCode = LengthCodeOf(key.byKeyType);
    if (key.dwKeySpec == AT_SIGNATURE) {
      record.SignKeyLen = byCode;
      record.AlgType = key.byKeyType;
    } else {
      record.ExchKeyLen = byCode;
      if (record.AlgType == 0 || record.AlgType == MR_CTNR_NONE) {
        record.AlgType = key.byKeyType;
      }
    }
    BENCH_STEP(WriteContainer(token.get(), &record));
    const bool bSign = key.dwKeySpec == AT_SIGNATURE;
    RSA_KEY stPublic;
    std::memset(&stPublic, 0, sizeof stPublic);
    BENCH_STEP(GenerateKeyPair(token.get(), key.byKeyType,
                               bSign ? record.SignKeyFID : record.ExchangeKeyFID, &stPublic));
    key.pair = TokenKeyPair();
    key.pair.byKeyType = key.byKeyType;
    if (key.byKeyType == MR_ALG_SM2) {
      const BYTE* raw = reinterpret_cast<const BYTE*>(&stPublic);
      key.pair.sm2Point.assign(raw, raw + 64);
    } else {
      key.pair.rsaModulus.assign(stPublic.n, stPublic.n + std::min<DWORD>(stPublic.nLen, 256));
      key.pair.rsaExponent.assign(stPublic.e, stPublic.e + std::min<DWORD>(stPublic.eLen, 256));
    }
    key.certificate.clear();
    if (key.bCertificate) {
      key.certificate = IssueFor(key.pair, key.notAfter);
      if (key.certificate.empty()) {
        return ::testing::AssertionFailure() << "the test CA issued nothing for token " << i;
      }
      BENCH_STEP(ImportCert(token.get(), bSign ? record.SignCertFID : record.ExchangeCertFID,
                            key.certificate.data(), static_cast<DWORD>(key.certificate.size())));
    }
  }
  BENCH_STEP(EnableContainer(token.get(), record.szContainerName,
                             static_cast<DWORD>(strnlen(record.szContainerName, 64))));
  BENCH_STEP(ResetDevice(token.get()));
  return ::testing::AssertionSuccess();
}

CertBytes ProviderBench::IssueFor(const TokenKeyPair& pair, std::optional<std::time_t> notAfter) {
  CertificateSpec spec;
  spec.subjectKey = pair.PublicKey();
  spec.notAfter = notAfter;
  return TestCa::Shared().Issue(spec);
}

void ProviderBench::ClearCommandLogs() {
  for (int i = 0; i < TokenCount(); ++i) {
    DeviceBench::CommandLog(i, true);
  }
}

void ProviderBench::RemoveProviderEntries() {
  const std::wstring testName = TestProviderName();
  for (StoreLocation location : {StoreLocation::CurrentUser, StoreLocation::LocalMachine}) {
    for (const wchar_t* name : {merro::provider::kProviderName, testName.c_str()}) {
      merro::provider::CertContextList entries;
      if (FAILED(merro::provider::FindProviderEntries(location, name, &entries))) {
        continue;
      }
      for (const merro::provider::CertContext& entry : entries) {
        merro::provider::DeleteEntry(location, entry->pbCertEncoded, entry->cbCertEncoded);
      }
    }
  }
}

std::wstring ProviderBench::TestProviderName() {
  return L"Merro provider test " + std::to_wstring(::GetCurrentProcessId());
}

void ProviderBench::SetUp() {
  ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
  const int tokens = TokenCount();
  for (int i = 0; i < tokens; ++i) {
    DeviceBench::Insert(i);
    DeviceBench::Control("button " + std::to_string(i) + " clear");
    DeviceBench::Control("fault " + std::to_string(i) + " clear");
    ASSERT_TRUE(DeviceBench::Prepare(i));
  }
  m_providerName = TestProviderName();
  m_settings = DefaultProviderSettings(FALSE);
  m_settings.pwszProviderName = m_providerName.c_str();
  ClearCommandLogs();
}

void ProviderBench::TearDown() {
  StopTokenLayer();
  RemoveProviderEntries();
  const int tokens = TokenCount();
  for (int i = 0; i < tokens; ++i) {
    DeviceBench::Insert(i);
    DeviceBench::Control("button " + std::to_string(i) + " clear");
    DeviceBench::Control("fault " + std::to_string(i) + " clear");
  }
}

::testing::AssertionResult ProviderBench::StartTokenLayer() {
  const HRESULT hr = Container::TokenInitialize(m_settings);
  if (hr != S_OK || g_pDeviceHandle == nullptr) {
    return ::testing::AssertionFailure() << "TokenInitialize: " << HexResult(hr);
  }
  return ::testing::AssertionSuccess();
}

void ProviderBench::StopTokenLayer() { Container::TokenUninitialize(); }

}  // namespace merro::testing
