// The "MY" store module: what it writes, finds and deletes is what a second
// process finds in the store afterwards. Each test starts from empty stores.
#include "provider/cert_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/store_snapshot.h"
#include "tests/support/test_certificates.h"

namespace merro::provider {
namespace {

using merro::testing::CertBytes;
using merro::testing::EntriesFor;
using merro::testing::ReadStoreSnapshotInChild;
using merro::testing::StoreSnapshot;

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);

// A new certificate of one shared key (RSA key generation is slow under Wine).
CertBytes NewCertificate() {
  static const merro::testing::TestKey key = merro::testing::TestKey::GenerateRsa(1024);
  merro::testing::CertificateSpec spec;
  spec.subjectKey = key;
  return merro::testing::TestCa::Shared().Issue(spec);
}

DWORD Size(const CertBytes& der) { return static_cast<DWORD>(der.size()); }

StoreSnapshot SnapshotInChild(StoreLocation location) {
  std::optional<StoreSnapshot> snapshot = ReadStoreSnapshotInChild(location);
  EXPECT_TRUE(snapshot.has_value()) << "the second process failed";
  return snapshot.value_or(StoreSnapshot());
}

class CertStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(merro::testing::ClearStores()); }
  void TearDown() override { merro::testing::ClearStores(); }
};

TEST_F(CertStoreTest, WrittenEntriesCarryTheKeyProviderRecord) {
  struct Case {
    StoreLocation location;
    bool utf8Name;
    const char* utf8;
    const wchar_t* utf16;
    DWORD keySpec;
    DWORD flags;
  };
  const Case cases[] = {
      {StoreLocation::CurrentUser, false, nullptr, L"ctr-signature", AT_SIGNATURE, 0},
      {StoreLocation::CurrentUser, true, "\xE5\xAE\xB9\xE5\x99\xA8-1", L"\x5BB9\x5668-1",
       AT_KEYEXCHANGE, 0},
      {StoreLocation::LocalMachine, true, "ctr-machine", L"ctr-machine", AT_SIGNATURE,
       CRYPT_MACHINE_KEYSET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    const CertBytes der = NewCertificate();
    const HRESULT hr =
        c.utf8Name ? WriteEntry(c.location, der.data(), Size(der), c.utf8, c.keySpec)
                   : WriteEntry(c.location, der.data(), Size(der), c.utf16, c.keySpec);
    ASSERT_EQ(hr, S_OK);
    const auto entries = EntriesFor(SnapshotInChild(c.location), der);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(entries[0].hasKeyProvInfo);
    const StoreEntryInfo& info = entries[0].info;
    EXPECT_EQ(info.wstrContainerName, c.utf16);
    EXPECT_EQ(info.wstrProviderName, L"Tolvane Merro CSP For TAVR V1.0");
    EXPECT_EQ(info.dwProvType, 1u);
    EXPECT_EQ(info.dwFlags, c.flags);
    EXPECT_EQ(info.dwProvParamCount, 0u);
    EXPECT_EQ(info.dwKeySpec, c.keySpec);
  }
}

// A certificate already in the store gets the new record (Wine keeps no new
// property on a certificate already there: the entry is written anew).
TEST_F(CertStoreTest, RewritingAnEntryReplacesItsRecord) {
  const CertBytes der = NewCertificate();
  const CertBytes other = NewCertificate();
  ASSERT_EQ(WriteEntry(StoreLocation::CurrentUser, other.data(), Size(other), L"other", AT_SIGNATURE),
            S_OK);
  ASSERT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), Size(der), L"old", AT_SIGNATURE),
            S_OK);
  ASSERT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), Size(der), L"new", AT_KEYEXCHANGE,
                       L"Tolvane Merro CSP For TAVR V1.0 (test)"),
            S_OK);
  const StoreSnapshot snapshot = SnapshotInChild(StoreLocation::CurrentUser);
  EXPECT_EQ(snapshot.size(), 2u);
  const auto entries = EntriesFor(snapshot, der);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].info.wstrContainerName, L"new");
  EXPECT_EQ(entries[0].info.dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
  EXPECT_EQ(entries[0].info.wstrProviderName, L"Tolvane Merro CSP For TAVR V1.0 (test)");
  ASSERT_EQ(EntriesFor(snapshot, other).size(), 1u);
  EXPECT_EQ(EntriesFor(snapshot, other)[0].info.wstrContainerName, L"other");
}

TEST_F(CertStoreTest, ProviderEntriesAreThoseWhoseProviderBeginsWithTheName) {
  struct Entry {
    const wchar_t* provider;
    bool ours;
  };
  const Entry entries[] = {
      {L"Tolvane Merro CSP For TAVR V1.0", true},
      {L"Tolvane Merro CSP For TAVR V1.0 (x64)", true},
      {L"Tolvane Merro CSP", false},                 // shorter
      {L"tolvane merro csp for tavr v1.0", false},   // case differs
      {L"Microsoft Enhanced Cryptographic Provider v1.0", false},
      {nullptr, false},  // no key-provider property at all
  };
  std::vector<CertBytes> ours;
  for (const Entry& e : entries) {
    const CertBytes der = NewCertificate();
    if (e.provider != nullptr) {
      ASSERT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), Size(der), L"c", AT_SIGNATURE,
                           e.provider),
                S_OK);
    } else {
      // A certificate some other program put there without the property.
      CertStore store;
      ASSERT_EQ(CertStore::OpenMy(StoreLocation::CurrentUser, &store), S_OK);
      ASSERT_TRUE(::CertAddEncodedCertificateToStore(store.Get(), kCertEncoding, der.data(),
                                                     Size(der), CERT_STORE_ADD_NEW, nullptr));
    }
    if (e.ours) {
      ours.push_back(der);
    }
  }
  CertContextList found;
  ASSERT_EQ(FindProviderEntries(StoreLocation::CurrentUser, kProviderName, &found), S_OK);
  std::vector<CertBytes> foundBytes;
  for (const CertContext& c : found) {
    foundBytes.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  }
  std::sort(foundBytes.begin(), foundBytes.end());
  std::sort(ours.begin(), ours.end());
  EXPECT_EQ(foundBytes, ours);  // in the store's order, which is not the order of writing

  // The store keeps all six.
  EXPECT_EQ(SnapshotInChild(StoreLocation::CurrentUser).size(), 6u);
}

TEST_F(CertStoreTest, DeleteTakesOnlyACertificateWithTheSameBytes) {
  const CertBytes a = NewCertificate();
  const CertBytes b = NewCertificate();
  for (const CertBytes* der : {&a, &b}) {
    ASSERT_EQ(WriteEntry(StoreLocation::CurrentUser, der->data(), Size(*der), L"c", AT_SIGNATURE),
              S_OK);
  }
  CertBytes longer = a;
  longer.push_back(0);
  const CertBytes unknown = NewCertificate();
  struct Case {
    const char* name;
    CertBytes bytes;
  };
  const Case misses[] = {
      {"shorter", CertBytes(a.begin(), a.end() - 1)},
      {"longer", longer},
      {"not in the store", unknown},
  };
  for (const Case& c : misses) {
    SCOPED_TRACE(c.name);
    bool deleted = true;
    EXPECT_EQ(DeleteEntry(StoreLocation::CurrentUser, c.bytes.data(), Size(c.bytes), &deleted), S_OK);
    EXPECT_FALSE(deleted);
  }
  EXPECT_EQ(SnapshotInChild(StoreLocation::CurrentUser).size(), 2u);

  bool deleted = false;
  ASSERT_EQ(DeleteEntry(StoreLocation::CurrentUser, a.data(), Size(a), &deleted), S_OK);
  EXPECT_TRUE(deleted);
  const StoreSnapshot after = SnapshotInChild(StoreLocation::CurrentUser);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].der, b);
}

TEST_F(CertStoreTest, MachineEntriesAreDeletedFromTheMachineStore) {
  const CertBytes der = NewCertificate();
  ASSERT_EQ(WriteEntry(StoreLocation::LocalMachine, der.data(), Size(der), L"m", AT_SIGNATURE),
            S_OK);
  ASSERT_EQ(EntriesFor(SnapshotInChild(StoreLocation::LocalMachine), der).size(), 1u);
  bool deleted = false;
  ASSERT_EQ(DeleteEntry(StoreLocation::LocalMachine, der.data(), Size(der), &deleted), S_OK);
  EXPECT_TRUE(deleted);
  EXPECT_TRUE(SnapshotInChild(StoreLocation::LocalMachine).empty());
}

TEST_F(CertStoreTest, BadInputChangesNothing) {
  const CertBytes der = NewCertificate();
  const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  EXPECT_EQ(WriteEntry(StoreLocation::CurrentUser, nullptr, 10, L"c", AT_SIGNATURE), kBadArgument);
  EXPECT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), 0, L"c", AT_SIGNATURE), kBadArgument);
  EXPECT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), Size(der),
                       static_cast<const wchar_t*>(nullptr), AT_SIGNATURE),
            kBadArgument);
  EXPECT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), Size(der),
                       static_cast<const char*>(nullptr), AT_SIGNATURE),
            kBadArgument);
  EXPECT_EQ(WriteEntry(StoreLocation::CurrentUser, der.data(), Size(der), L"c", AT_SIGNATURE,
                       nullptr),
            kBadArgument);
  EXPECT_TRUE(FAILED(WriteEntry(StoreLocation::CurrentUser, junk, sizeof junk, L"c", AT_SIGNATURE)));
  EXPECT_EQ(DeleteEntry(StoreLocation::CurrentUser, nullptr, 10), kBadArgument);
  StoreEntryInfo info;
  EXPECT_EQ(ReadStoreEntryInfo(nullptr, &info), kBadArgument);
  EXPECT_TRUE(SnapshotInChild(StoreLocation::CurrentUser).empty());
}

TEST(CertStoreRules, EncodedEqualsNeedsEqualLengthsAndBytes) {
  const BYTE a[] = {0x30, 0x82, 0x01, 0x02, 0x05};
  const BYTE b[] = {0x30, 0x82, 0x01, 0x02, 0x06};
  EXPECT_TRUE(EncodedEquals(a, 5, a, 5));
  EXPECT_FALSE(EncodedEquals(a, 5, b, 5));
  EXPECT_FALSE(EncodedEquals(a, 4, a, 5));  // a prefix is not the same certificate
  EXPECT_FALSE(EncodedEquals(a, 5, a, 4));
  EXPECT_TRUE(EncodedEquals(nullptr, 0, nullptr, 0));
  EXPECT_FALSE(EncodedEquals(nullptr, 5, a, 5));
}

TEST(CertStoreRules, TheSm2MarkerLivesInTheApplicationDataFolder) {
  std::wstring path;
  ASSERT_EQ(Sm2BrowserMarkerPath(&path), S_OK);
  const std::wstring tail = L"\\Tolvane\\Merro\\sm2browser.spt";
  ASSERT_GT(path.size(), tail.size());
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  wchar_t appData[MAX_PATH] = {};
  ASSERT_GT(::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH), 0u);
  EXPECT_EQ(path, std::wstring(appData) + tail);

  const std::filesystem::path marker(path);
  std::filesystem::remove(marker);
  EXPECT_FALSE(Sm2BrowserMarkerExists());
  std::filesystem::create_directories(marker.parent_path());
  std::ofstream(marker).put('\n');
  EXPECT_TRUE(Sm2BrowserMarkerExists());
  std::filesystem::remove(marker);
  EXPECT_FALSE(Sm2BrowserMarkerExists());
}

}  // namespace
}  // namespace merro::provider
