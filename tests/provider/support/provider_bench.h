// The bench of the provider objects' tests, against the merro-tokensim
// daemon that run-with-tokensim started (MERRO_TOKEN_SIM), on the device
// layer's DeviceBench.
//
// Before each test every token of the daemon is inserted and prepared as the
// factory leaves it (user PIN "47193628", never changed, six tries, no
// containers), the simulator's button and fault scripts are cleared, a
// scripted UI is installed (an unexpected prompt is a cancel, never a hang)
// and m_settings holds the product's settings record with a provider name
// of this process's own, so that test programs running at once never share
// the device-update mutex. The token layer is not started: a test changes
// m_settings as it needs, then calls StartTokenLayer(). After each test the
// token layer is stopped and every "MY" entry that names this provider (in
// the user's and the machine's store) is removed.
//
//   class MyTest : public merro::testing::ProviderBench {};
//   TEST_F(MyTest, Something) {
//     ASSERT_TRUE(StartTokenLayer());
//     ASSERT_TRUE(DeviceBench::CreateContainers(0, {"c1"}));
//     TokenKeyPair pair;
//     ASSERT_TRUE(PutKeyPair(0, "c1", AT_SIGNATURE, MR_ALG_SM2, &pair));
//     ASSERT_TRUE(PutCertificate(0, "c1", AT_SIGNATURE, IssueFor(pair)));
//     ...
//   }
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "device/provider_settings.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/support/test_certificates.h"

namespace merro::testing {

// A key pair the token generated: its type and public key as the token
// exports it (SM2: X || Y; RSA: modulus and exponent).
struct TokenKeyPair {
  BYTE byKeyType = 0;  // MR_ALG_SM2, MR_ALG_RSA1024 or MR_ALG_RSA2048
  std::vector<BYTE> sm2Point;
  std::vector<BYTE> rsaModulus;
  std::vector<BYTE> rsaExponent;
  TestKey PublicKey() const;
};

class ProviderBench : public ::testing::Test {
 public:
  static constexpr char kUserPin[] = "47193628";

  // The number of tokens the daemon runs.
  static int TokenCount();

  // Gives a container of prepared token i a key pair of that type, made on
  // the token (the record's type and length code are set first, as the
  // device object does). The token's user PIN is verified for it and the
  // token's security state is reset afterwards. Like every helper here that
  // opens a token, best called before StartTokenLayer(): a context of the
  // device object made earlier has a stale session afterwards.
  static ::testing::AssertionResult PutKeyPair(int i, const std::string& container,
                                               DWORD dwKeySpec, BYTE byKeyType,
                                               TokenKeyPair* pPair = nullptr);
  // Writes a certificate into the container's certificate file of that key
  // specification.
  static ::testing::AssertionResult PutCertificate(int i, const std::string& container,
                                                   DWORD dwKeySpec, const CertBytes& der);
  // A certificate of the test CA for the pair's public key; notAfter as
  // CertificateSpec takes it (default: a year from now).
  static CertBytes IssueFor(const TokenKeyPair& pair,
                            std::optional<std::time_t> notAfter = std::nullopt);

  // The commands token i received since its log was last cleared, and a
  // clear of every token's log.
  static std::vector<BYTE> CommandLog(int i) { return DeviceBench::CommandLog(i); }
  static void ClearCommandLogs();

  // Every "MY" entry (user and machine store) whose key-provider property
  // names the provider (the product's name or this process's test name).
  static void RemoveProviderEntries();
  // "Merro provider test <pid>": the provider name of m_settings.
  static std::wstring TestProviderName();

 protected:
  void SetUp() override;
  void TearDown() override;

  // Container::TokenInitialize with m_settings; success and a device object
  // (g_pDeviceHandle) expected.
  ::testing::AssertionResult StartTokenLayer();
  void StopTokenLayer();

  std::wstring m_providerName;
  ProviderSettings m_settings{};
  ScopedScriptedUi m_ui;
};

}  // namespace merro::testing
