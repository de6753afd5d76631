// RemoveCertFromBrowser: the certificates a token holds in a container are
// taken out of the personal store "MY" (the user's, or the machine's for a
// machine key set), for good: a second process no longer finds them.
#include <gtest/gtest.h>

#include <string>

#include "provider/cert_store.h"
#include "provider/container.h"
#include "tests/provider/support/provider_bench.h"
#include "tests/support/store_snapshot.h"

namespace merro::testing {
namespace {

using merro::provider::Container;
using merro::provider::StoreLocation;

class StoreCleanupTest : public ProviderBench {
 protected:
  void SetUp() override {
    ProviderBench::SetUp();
    ASSERT_TRUE(ClearStores());
    std::vector<ContainerKey> keys{Key(AT_SIGNATURE, MR_ALG_RSA1024, true),
                                   Key(AT_KEYEXCHANGE, MR_ALG_RSA1024, true)};
    ASSERT_TRUE(MakeContainer(1, "stored", &keys));
    m_sign = keys[0].certificate;
    m_exch = keys[1].certificate;
    CertificateSpec other;
    other.subjectKey = TestKey::GenerateRsa(1024);
    other.commonName = "Somebody Else";
    m_other = TestCa::Shared().Issue(other);
    ASSERT_TRUE(StartTokenLayer());
  }
  void TearDown() override {
    ProviderBench::TearDown();
    ClearStores();
  }
  static void Write(StoreLocation location, const CertBytes& der, const char* container,
                    DWORD spec) {
    ASSERT_EQ(merro::provider::WriteEntry(location, der.data(), static_cast<DWORD>(der.size()),
                                          container, spec),
              S_OK);
  }
  // What a new process finds of the certificate in the store.
  static size_t InStoreForGood(StoreLocation location, const CertBytes& der) {
    const std::optional<StoreSnapshot> snapshot = ReadStoreSnapshotInChild(location);
    EXPECT_TRUE(snapshot.has_value());
    return snapshot ? EntriesFor(*snapshot, der).size() : 0;
  }
  CertBytes m_sign, m_exch, m_other;
};

TEST_F(StoreCleanupTest, TheContainersCertificatesLeaveTheUsersStore) {
  Write(StoreLocation::CurrentUser, m_sign, "stored", AT_SIGNATURE);
  Write(StoreLocation::CurrentUser, m_exch, "stored", AT_KEYEXCHANGE);
  Write(StoreLocation::CurrentUser, m_other, "other", AT_SIGNATURE);
  EXPECT_EQ(Container::RemoveCertFromBrowser("stored", TRUE, FALSE), S_OK);
  EXPECT_EQ(InStoreForGood(StoreLocation::CurrentUser, m_sign), 0u);
  EXPECT_EQ(InStoreForGood(StoreLocation::CurrentUser, m_exch), 0u);
  EXPECT_EQ(InStoreForGood(StoreLocation::CurrentUser, m_other), 1u);
}

TEST_F(StoreCleanupTest, AMachineKeySetCleansTheMachinesStore) {
  Write(StoreLocation::LocalMachine, m_sign, "stored", AT_SIGNATURE);
  Write(StoreLocation::LocalMachine, m_other, "other", AT_SIGNATURE);
  EXPECT_EQ(Container::RemoveCertFromBrowser("stored", FALSE, TRUE), S_OK);
  EXPECT_EQ(InStoreForGood(StoreLocation::LocalMachine, m_sign), 0u);
  EXPECT_EQ(InStoreForGood(StoreLocation::LocalMachine, m_other), 1u);
}

// Only a container that a token holds is looked for: anything else leaves
// the store as it was, and the caller always hears S_OK.
TEST_F(StoreCleanupTest, NothingChangesForAContainerNoTokenHolds) {
  Write(StoreLocation::CurrentUser, m_sign, "stored", AT_SIGNATURE);
  const StoreSnapshot before = ReadStoreSnapshot(StoreLocation::CurrentUser);
  EXPECT_EQ(Container::RemoveCertFromBrowser("unknown", TRUE, FALSE), S_OK);
  EXPECT_EQ(Container::RemoveCertFromBrowser(nullptr, TRUE, FALSE), S_OK);
  // An ephemeral container cleans up after itself on no token.
  Container::CreateEphemeralContainer(TRUE, FALSE, TRUE).reset();
  DeviceBench::Pull(1);
  EXPECT_EQ(Container::RemoveCertFromBrowser("stored", TRUE, FALSE), S_OK);
  StopTokenLayer();
  EXPECT_EQ(Container::RemoveCertFromBrowser("stored", TRUE, FALSE), S_OK);
  const StoreSnapshot after = ReadStoreSnapshot(StoreLocation::CurrentUser);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(EntriesFor(after, m_sign).size(), 1u);
}

}  // namespace
}  // namespace merro::testing
