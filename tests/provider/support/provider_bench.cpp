#include "tests/provider/support/provider_bench.h"

#include <sstream>

#include "foundation/alg_ids.h"
#include "provider/cert_store.h"
#include "provider/container.h"

namespace merro::testing {
namespace {

using merro::provider::Container;
using merro::provider::StoreLocation;

TokenKeyPair ToKeyPair(const TokenPublicKey& key) {
  TokenKeyPair pair;
  pair.byKeyType = key.keyType;
  pair.sm2Point = key.xy;
  pair.rsaModulus = key.n;
  pair.rsaExponent = key.e;
  return pair;
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
  KeyContainerSpec spec;
  spec.name = container;
  for (ContainerKey& key : *pKeys) {
    const bool bSign = key.dwKeySpec == AT_SIGNATURE;
    BYTE& byType = bSign ? spec.signType : spec.exchType;
    if (byType != 0) {
      return ::testing::AssertionFailure() << "two keys of one specification in " << container;
    }
    byType = key.byKeyType;
    if (key.bCertificate) {
      const std::optional<std::time_t> notAfter = key.notAfter;
      (bSign ? spec.signCertificate : spec.exchCertificate) = [notAfter](const TokenPublicKey& pub) {
        return IssueFor(ToKeyPair(pub), notAfter);
      };
    }
  }
  KeyContainer made;
  if (auto result = MakeKeyContainer(i, spec, &made, kUserPin); !result) {
    return result;
  }
  for (ContainerKey& key : *pKeys) {
    const bool bSign = key.dwKeySpec == AT_SIGNATURE;
    key.pair = ToKeyPair(bSign ? made.sign : made.exch);
    key.certificate = bSign ? made.signCert : made.exchCert;
  }
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
