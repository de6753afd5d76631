// A fixture token on the daemon, read through the provider's information
// for the manager and synchronised with the current user's "MY" store: one
// entry per certificate, naming its container and slot, as a second process
// reads the store.
#include <gtest/gtest.h>

#include <fstream>

#include "certmanager/MerroCommonFiles/store_sync.h"
#include "device/provider_settings.h"
#include "provider/container.h"
#include "tests/support/store_snapshot.h"
#include "tests/support/token_fixture.h"

namespace {

using merro::provider::Container;
using merro::provider::StoreLocation;
using merro::provider::TokenInformationList;

// The SM2 marker for the scope, so that every certificate counts.
class Sm2Marker {
 public:
  Sm2Marker() {
    merro::provider::Sm2BrowserMarkerPath(&m_path);
    const std::wstring dir = m_path.substr(0, m_path.find_last_of(L'\\'));
    ::CreateDirectoryW(dir.substr(0, dir.find_last_of(L'\\')).c_str(), nullptr);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    std::ofstream(m_path.c_str()).put('\n');
  }
  ~Sm2Marker() { ::DeleteFileW(m_path.c_str()); }
  Sm2Marker(const Sm2Marker&) = delete;
  Sm2Marker& operator=(const Sm2Marker&) = delete;

 private:
  std::wstring m_path;
};

// The token layer for the scope, with the manager's settings.
class TokenLayer {
 public:
  TokenLayer() : m_hr(Container::TokenInitialize(DefaultProviderSettings(FALSE))) {}
  ~TokenLayer() { Container::TokenUninitialize(); }
  TokenLayer(const TokenLayer&) = delete;
  TokenLayer& operator=(const TokenLayer&) = delete;
  HRESULT Result() const { return m_hr; }

 private:
  HRESULT m_hr;
};

TEST(SyncDaemon, AFixtureTokenLeavesOneEntryPerCertificate) {
  ASSERT_TRUE(merro::testing::ClearStores());
  merro::testing::FilledToken filled;
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, merro::testing::TokenFixture::Standard(), &filled));
  Sm2Marker marker;
  TokenLayer layer;
  ASSERT_EQ(layer.Result(), S_OK);

  TokenInformationList tokens;
  merro::provider::SecureInfo info;
  info.dwCertAlertDays = 90;
  ASSERT_EQ(Container::GetAllContainerInformation(1, &tokens, &info), S_OK);
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].strTokenLabel, "Probe Key");
  EXPECT_EQ(tokens[0].strDeviceName, filled.deviceName);
  ASSERT_EQ(tokens[0].vecContainers.size(), 3u) << "the keys-only container is listed";
  EXPECT_TRUE(info.bDefaultPIN) << "the fixture's user PIN was never changed";
  EXPECT_EQ(info.dwCertDateState, merro::provider::kCertDateStateNone);

  // Twice: the second synchronisation finds everything in place.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(SYNContainer2Browser(tokens), S_OK);
    const std::optional<merro::testing::StoreSnapshot> snapshot =
        merro::testing::ReadStoreSnapshotInChild(StoreLocation::CurrentUser);
    ASSERT_TRUE(snapshot.has_value());
    EXPECT_EQ(snapshot->size(), 4u);
    for (const merro::testing::FilledContainer& container : filled.containers) {
      struct Slot {
        const merro::testing::CertBytes& der;
        DWORD keySpec;
      };
      for (const Slot& slot : {Slot{container.signatureCert, AT_SIGNATURE},
                               Slot{container.exchangeCert, AT_KEYEXCHANGE}}) {
        if (slot.der.empty()) {
          continue;
        }
        SCOPED_TRACE(container.name + " " + std::to_string(slot.keySpec));
        const auto entries = merro::testing::EntriesFor(*snapshot, slot.der);
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_TRUE(entries[0].hasKeyProvInfo);
        const merro::provider::StoreEntryInfo& e = entries[0].info;
        EXPECT_EQ(e.wstrContainerName, std::wstring(container.name.begin(), container.name.end()));
        EXPECT_EQ(e.wstrProviderName, merro::provider::kProviderName);
        EXPECT_EQ(e.dwProvType, 1u);
        EXPECT_EQ(e.dwFlags, 0u);
        EXPECT_EQ(e.dwProvParamCount, 0u);
        EXPECT_EQ(e.dwKeySpec, slot.keySpec);
      }
    }
  }
}

}  // namespace
