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
//     std::vector<ContainerKey> keys{Key(AT_SIGNATURE, MR_ALG_SM2, true)};
//     ASSERT_TRUE(MakeContainer(0, "c1", &keys));
//     ASSERT_TRUE(StartTokenLayer());
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
#include "foundation/alg_ids.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/key_containers.h"
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

  // Makes a container on prepared token i the way a finished enrolment
  // leaves it (MakeKeyContainer): created, each key pair generated on the
  // token (the record's type and length code set first, as the device object
  // does), each certificate wanted issued by the test CA for that key and
  // written into the container, then the container made available. At most
  // one key of each specification. The key pairs and
  // certificates are handed back in *pKeys. The token's user PIN is
  // verified for it and its security state reset afterwards. Like every
  // helper here that opens a token, best called before StartTokenLayer(): a
  // context of the device object made earlier has a stale session after it.
  struct ContainerKey {
    DWORD dwKeySpec = AT_SIGNATURE;
    BYTE byKeyType = MR_ALG_SM2;  // MR_ALG_SM2, MR_ALG_RSA1024 or MR_ALG_RSA2048
    bool bCertificate = false;
    std::optional<std::time_t> notAfter;  // of the certificate; default a year ahead
    // Filled in:
    TokenKeyPair pair;
    CertBytes certificate;
  };
  static ::testing::AssertionResult MakeContainer(int i, const std::string& container,
                                                  std::vector<ContainerKey>* pKeys);
  static ContainerKey Key(DWORD dwKeySpec, BYTE byKeyType, bool bCertificate = false,
                          std::optional<std::time_t> notAfter = std::nullopt) {
    ContainerKey key;
    key.dwKeySpec = dwKeySpec;
    key.byKeyType = byKeyType;
    key.bCertificate = bCertificate;
    key.notAfter = notAfter;
    return key;
  }

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
