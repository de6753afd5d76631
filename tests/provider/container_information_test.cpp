// What the certificate manager learns through the Container: the kept PIN
// of a container, the number of inserted tokens, and for each token its
// label and containers with key lengths and certificates, with the
// default-PIN and certificate-expiry conditions.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/secure_wipe.h"
#include "provider/cert_date.h"
#include "provider/container.h"
#include "tokenapi/api/token_api.h"
#include "tests/provider/support/provider_bench.h"

namespace merro::testing {
namespace {

using merro::provider::CERT_VALID_DATE_NOALERT;
using merro::provider::Container;
using merro::provider::ContainerInformation;
using merro::provider::SecureInfo;
using merro::provider::TokenInformation;
using merro::provider::TokenInformationList;

SYSTEMTIME Date(WORD year, WORD month, WORD day) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  return t;
}

TEST(CertDaysLeft, CountsCalendarDays) {
  struct Case {
    SYSTEMTIME notAfter, today;
    LONG days;
  } const cases[] = {
      {Date(2024, 4, 1), Date(2024, 3, 31), 1},    // a month of 31 days
      {Date(2024, 2, 1), Date(2024, 1, 31), 1},
      {Date(2024, 3, 1), Date(2024, 2, 29), 1},    // leap year
      {Date(2023, 3, 1), Date(2023, 2, 28), 1},
      {Date(2025, 1, 1), Date(2024, 12, 31), 1},   // year end
      {Date(2024, 5, 10), Date(2024, 5, 10), 0},
      {Date(2024, 5, 9), Date(2024, 5, 10), -1},
      {Date(2024, 3, 1), Date(2024, 3, 31), -30},
      {Date(2025, 3, 1), Date(2024, 3, 1), 365},
      {Date(2024, 3, 1), Date(2023, 3, 1), 366},
      {Date(2100, 3, 1), Date(2100, 2, 28), 1},    // no leap day in 2100
      {Date(2000, 3, 1), Date(2000, 2, 28), 2},    // but in 2000
  };
  for (const Case& c : cases) {
    EXPECT_EQ(merro::provider::CertDaysLeft(c.notAfter, c.today), c.days)
        << c.today.wYear << "-" << c.today.wMonth << "-" << c.today.wDay << " to "
        << c.notAfter.wYear << "-" << c.notAfter.wMonth << "-" << c.notAfter.wDay;
  }
}

class InformationTest : public ProviderBench {
 protected:
  HRESULT Gather(TokenInformationList* list, SecureInfo* info, DWORD pinType = 1) {
    return Container::GetAllContainerInformation(pinType, list, info);
  }
  // A container on token i with SM2 key pairs, each with a certificate
  // expiring at notAfter (default: a year from now).
  ::testing::AssertionResult Sm2Container(int i, const std::string& name,
                                          std::optional<std::time_t> signNotAfter = std::nullopt,
                                          std::optional<std::time_t> exchNotAfter = std::nullopt) {
    std::vector<ContainerKey> keys{Key(AT_SIGNATURE, MR_ALG_SM2, true, signNotAfter),
                                   Key(AT_KEYEXCHANGE, MR_ALG_SM2, true, exchNotAfter)};
    if (auto made = MakeContainer(i, name, &keys); !made) {
      return made;
    }
    m_signCert = keys[0].certificate;
    m_exchCert = keys[1].certificate;
    return ::testing::AssertionSuccess();
  }
  static CertBytes Encoded(const merro::provider::CertContext& cert) {
    return cert ? CertBytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded)
                : CertBytes();
  }
  CertBytes m_signCert, m_exchCert;
};

TEST_F(InformationTest, TheKeptPinRoundTripsThroughTheDataProtection) {
  Container c("dev", "name", TRUE, FALSE, TRUE, FALSE);
  BYTE* pin = nullptr;
  DWORD length = 0;
  EXPECT_FALSE(c.HaveUserPIN());
  EXPECT_EQ(c.GetUserPIN(&pin, &length), E_FAIL);

  const auto keep = [&](const char* text) {
    return c.SetUserPIN(reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text)));
  };
  const auto kept = [&]() {
    BYTE* out = nullptr;
    DWORD outLength = 0;
    EXPECT_EQ(c.GetUserPIN(&out, &outLength), S_OK);
    std::string text(reinterpret_cast<const char*>(out), outLength);
    merro::SecureWipe(out, outLength);
    delete[] out;
    return text;
  };
  ASSERT_EQ(keep("47193628"), S_OK);
  EXPECT_TRUE(c.HaveUserPIN());
  // Never the PIN itself in the object.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.m_stUserPIN.pbyData.get()),
                        c.m_stUserPIN.dwLength)
                .find("47193628"),
            std::string::npos);
  EXPECT_EQ(kept(), "47193628");
  EXPECT_EQ(c.SetUserPIN(reinterpret_cast<const BYTE*>("x"), 0), E_INVALIDARG);
  EXPECT_EQ(c.SetUserPIN(nullptr, 4), E_INVALIDARG);
  EXPECT_EQ(kept(), "47193628");
  ASSERT_EQ(keep("13572468"), S_OK);
  EXPECT_EQ(kept(), "13572468");
  EXPECT_EQ(c.GetUserPIN(nullptr, &length), E_INVALIDARG);
  EXPECT_EQ(c.GetUserPIN(&pin, nullptr), E_INVALIDARG);
  c.ClearUserPIN();
  EXPECT_FALSE(c.HaveUserPIN());
  EXPECT_EQ(c.GetUserPIN(&pin, &length), E_FAIL);
}

TEST_F(InformationTest, InsertedTokensAreCountedAnew) {
  DWORD count = 77;
  EXPECT_EQ(Container::GetInsertedKeyCount(&count), E_FAIL);
  EXPECT_EQ(count, 77u);
  ASSERT_TRUE(StartTokenLayer());
  ASSERT_EQ(Container::GetInsertedKeyCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
  DeviceBench::Pull(0);
  ASSERT_EQ(Container::GetInsertedKeyCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
}

TEST_F(InformationTest, EachTokenWithItsContainersKeysAndCertificates) {
  ASSERT_TRUE(Sm2Container(1, "sm2-both"));
  ASSERT_TRUE(DeviceBench::CreateContainers(1, {"empty"}));
  std::vector<ContainerKey> keys{Key(AT_KEYEXCHANGE, MR_ALG_RSA2048)};
  ASSERT_TRUE(MakeContainer(0, "rsa-key-only", &keys));
  ASSERT_TRUE(StartTokenLayer());
  ASSERT_EQ(g_pDeviceHandle->SetDeviceTokenInfo(DeviceBench::DeviceName(0).c_str(), "Zhang's key"),
            S_OK);

  TokenInformationList list;
  SecureInfo info;
  info.dwCertAlertDays = 90;
  ASSERT_EQ(Gather(&list, &info), S_OK);
  ASSERT_EQ(list.size(), 2u);
  std::map<std::string, const TokenInformation*> byDevice;
  for (const TokenInformation& token : list) {
    byDevice[token.strDeviceName] = &token;
  }
  const TokenInformation* first = byDevice[DeviceBench::DeviceName(0)];
  const TokenInformation* second = byDevice[DeviceBench::DeviceName(1)];
  ASSERT_TRUE(first && second);

  EXPECT_EQ(first->strTokenLabel, "Zhang's key");
  ASSERT_EQ(first->vecContainers.size(), 1u);
  const ContainerInformation& rsa = first->vecContainers[0];
  EXPECT_EQ(rsa.strContainerName, "rsa-key-only");
  EXPECT_EQ(rsa.dwKeySetAlgorithm, Container::KEYSETALGORITHM_RSA);
  EXPECT_EQ(rsa.lSignatureKeyLength, 0);
  EXPECT_EQ(rsa.lExchangeKeyLength, 2048);
  EXPECT_FALSE(rsa.signatureCert);
  EXPECT_FALSE(rsa.exchangeCert);

  // A freshly initialised token stores no name (its name file reads 0xFF).
  EXPECT_EQ(second->strTokenLabel, "Merro30 Key");
  // The empty container is left out.
  ASSERT_EQ(second->vecContainers.size(), 1u);
  const ContainerInformation& sm2 = second->vecContainers[0];
  EXPECT_EQ(sm2.strContainerName, "sm2-both");
  EXPECT_EQ(sm2.strDeviceName, DeviceBench::DeviceName(1));
  EXPECT_EQ(sm2.dwKeySetAlgorithm, Container::KEYSETALGORITHM_SM2);
  EXPECT_EQ(sm2.lSignatureKeyLength, 256);
  EXPECT_EQ(sm2.lExchangeKeyLength, 256);
  EXPECT_EQ(Encoded(sm2.signatureCert), m_signCert);
  EXPECT_EQ(Encoded(sm2.exchangeCert), m_exchCert);
  // Certificates a year from expiry: nothing to report.
  EXPECT_EQ(info.dwCertDateState, merro::provider::kCertDateStateNone);
}

TEST_F(InformationTest, TheCertificateDateConditions) {
  const std::time_t inTenDays = DaysFromNow(10.5);
  const std::time_t yesterday = DaysFromNow(-1.2);
  struct Case {
    const char* what;
    std::optional<std::time_t> signNotAfter, exchNotAfter;
    LONG alertDays;
    DWORD state;
    std::optional<std::time_t> date;  // the NotAfter that set the state
  } const cases[] = {
      {"signature expires in ten days", inTenDays, std::nullopt, 90, 1, inTenDays},
      {"exchange expires in ten days", std::nullopt, inTenDays, 90, 1, inTenDays},
      {"ten days is beyond an alert of five", inTenDays, std::nullopt, 5, 0, std::nullopt},
      {"signature expired yesterday", yesterday, std::nullopt, 90, 2, yesterday},
      {"expired before expiring", inTenDays, yesterday, 90, 2, yesterday},
      {"no alert at all", yesterday, yesterday, CERT_VALID_DATE_NOALERT, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_TRUE(Sm2Container(0, "dated", c.signNotAfter, c.exchNotAfter));
    ASSERT_TRUE(StartTokenLayer());
    TokenInformationList list;
    SecureInfo info;
    info.dwCertAlertDays = c.alertDays;
    ASSERT_EQ(Gather(&list, &info), S_OK);
    EXPECT_EQ(info.dwCertDateState, c.state);
    if (c.date) {
      std::tm utc = {};
      gmtime_s(&utc, &*c.date);
      EXPECT_EQ(info.stCertDate.wYear, utc.tm_year + 1900);
      EXPECT_EQ(info.stCertDate.wMonth, utc.tm_mon + 1);
      EXPECT_EQ(info.stCertDate.wDay, utc.tm_mday);
    } else {
      EXPECT_EQ(info.stCertDate.wYear, 0);
    }
    StopTokenLayer();
  }
}

TEST_F(InformationTest, AFactoryPinIsReportedOnlyWhenAskedAndKnown) {
  struct Case {
    const char* what;
    DWORD defaultPinCheck;
    const char* fault;  // simulator fault on token 0, or none
    BOOL expected;
  } const cases[] = {
      {"checked", 1, nullptr, TRUE},
      {"not checked", 0, nullptr, FALSE},
      // The status cannot be read (twice): that is no factory PIN.
      {"status unreadable", 1, "sw 6A88 ins 25 count 2", FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Token 1's user PIN changed, so only token 0 can report.
    ASSERT_TRUE(DeviceBench::Prepare(1));
    {
      const int i = 1;
      OpenToken token;
      ASSERT_TRUE(DeviceBench::Open(i, &token));
      ASSERT_EQ(SetSessionKey(token.get()), S_OK);
      ASSERT_EQ(ChangePIN(token.get(), 1, reinterpret_cast<const BYTE*>(kUserPin), 8,
                          reinterpret_cast<const BYTE*>("13572468"), 8),
                S_OK);
    }
    m_settings.dwDefaultPINCheck = c.defaultPinCheck;
    ASSERT_TRUE(StartTokenLayer());
    if (c.fault != nullptr) {
      DeviceBench::Control(std::string("fault 0 ") + c.fault);
    }
    TokenInformationList list;
    SecureInfo info;
    info.dwCertAlertDays = 90;
    ASSERT_EQ(Gather(&list, &info), S_OK);
    EXPECT_EQ(info.bDefaultPIN, c.expected);
    EXPECT_EQ(list.size(), 2u);
    DeviceBench::Control("fault 0 clear");
    StopTokenLayer();
  }
}

TEST_F(InformationTest, WithoutTokenLayerTheListIsEmptied) {
  TokenInformationList list(1);
  list[0].strDeviceName = "stale";
  SecureInfo info;
  EXPECT_EQ(Gather(&list, &info), E_FAIL);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace merro::testing
