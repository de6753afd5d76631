// The provider's signal: after it wrote a certificate to a token it sets
// EVENT-A and waits for EVENT-B; the manager answers within about a second,
// with the new certificate in its tree and in the store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "provider/cert_store.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/store_snapshot.h"
#include "tests/support/token_fixture.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace {

using merro::test::ManagerRun;
using merro::test::WindowRobot;
using merro::testing::DeviceBench;

HANDLE OpenSignal(wchar_t letter) {
  const std::wstring name = std::wstring(L"EVENT-") + letter + L"-{" +
                            merro::provider::kProviderName + L"}";
  return ::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

// A certificate for the key the token holds in the container's signature
// key file, written into its signature certificate file.
::testing::AssertionResult ImportSignatureCert(int i, const std::string& container) {
  merro::testing::OpenToken ctx;
  if (auto opened = DeviceBench::Open(i, &ctx); !opened) {
    return opened;
  }
  CONTAINER_RECORD record{};
  std::memcpy(record.szContainerName, container.data(),
              std::min(container.size(), sizeof record.szContainerName));
  BENCH_STEP(ReadContainer(ctx.get(), &record));
  auto key = std::make_unique<RSA_KEY>();
  BENCH_STEP(ExportPublicKey(ctx.get(), record.AlgType, record.SignKeyFID, key.get()));
  merro::testing::CertificateSpec spec;
  spec.subjectKey = merro::testing::TestKey::FromRsaComponents(
      std::vector<std::uint8_t>(key->n, key->n + key->nLen),
      std::vector<std::uint8_t>(key->e, key->e + key->eLen));
  spec.commonName = "Li Si 02";
  const merro::testing::CertBytes der = merro::testing::TestCa::Shared().Issue(spec);
  BENCH_STEP(SetSessionKey(ctx.get()));
  const std::string pin = DeviceBench::kFactoryPin;
  BENCH_STEP(VerifyPIN(ctx.get(), 1, reinterpret_cast<const BYTE*>(pin.data()),
                             static_cast<BYTE>(pin.size())));
  BENCH_STEP(ImportCert(ctx.get(), record.SignCertFID, der.data(), static_cast<DWORD>(der.size())));
  BENCH_STEP(ResetDevice(ctx.get()));
  return ::testing::AssertionSuccess();
}

TEST(ManagerSignal, ANewCertificateReachesTreeAndStoreBeforeTheAnswer) {
  ASSERT_TRUE(merro::test::StartFresh(1));
  merro::testing::FixtureToken token = merro::testing::TokenFixture::Standard();
  // The keys-only container waits for its certificate, as before an import.
  token.containers[2].available = false;
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, token));

  merro::test::NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  const size_t itemsBefore = robot.TreeItems(main, IDC_CERT_TREE).size();
  ASSERT_EQ(merro::test::OurStoreEntries().size(), 2u);

  ASSERT_TRUE(ImportSignatureCert(0, "keys-only"));
  HANDLE eventA = OpenSignal(L'A');
  HANDLE eventB = OpenSignal(L'B');
  ASSERT_NE(eventA, nullptr);
  ASSERT_NE(eventB, nullptr);
  // The manager looks once a second; a loaded machine may take longer.
  EXPECT_EQ(::SignalObjectAndWait(eventA, eventB, WindowRobot::kDefaultTimeoutMs, FALSE),
            WAIT_OBJECT_0);
  ::CloseHandle(eventA);
  ::CloseHandle(eventB);

  const std::vector<std::wstring> texts = merro::test::TreeTexts(robot, main);
  ASSERT_EQ(texts.size(), itemsBefore + 1);
  EXPECT_EQ(texts.back(), L"    " + merro::test::ManagerString(IDS_RSA1024_SIGN_CERT) +
                              L"(CN=Li Si 02, Probe Bank)");
  const std::vector<std::string> expected = {"keys-only 2", "rsa-both 1", "rsa-both 2"};
  EXPECT_EQ(merro::test::OurStoreEntries(), expected);
  ASSERT_TRUE(run.Exit());
}

}  // namespace
