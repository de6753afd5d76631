// Store synchronisation: each scenario starts from empty stores, sets up
// entries, runs the synchronisation (or the removal at exit) over a token
// list built here, and a second process reads what the store kept.
#include "certmanager/MerroCommonFiles/store_sync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/store_snapshot.h"
#include "tests/support/test_certificates.h"

namespace {

using merro::provider::CertContext;
using merro::provider::CertContextList;
using merro::provider::ContainerInformation;
using merro::provider::StoreLocation;
using merro::provider::TokenInformation;
using merro::provider::TokenInformationList;
using merro::testing::CertBytes;
using merro::testing::StoreSnapshot;

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr wchar_t kOurs[] = L"Tolvane Merro CSP For TAVR V1.0";
constexpr wchar_t kOursLonger[] = L"Tolvane Merro CSP For TAVR V1.0 (x64)";
constexpr wchar_t kShorter[] = L"Tolvane Merro CSP";
constexpr wchar_t kOther[] = L"Microsoft Enhanced Cryptographic Provider v1.0";
constexpr wchar_t kNoProperty[] = L"";  // a certificate without key-provider property

const std::wstring& LongProviderName() {
  static const std::wstring name = std::wstring(400, L'P') + L" CSP";
  return name;
}

// The certificates of all scenarios, made once (key generation is slow under Wine).
struct Certificates {
  CertBytes a, b, aNew, c, s1, s2, f, p, q;
  Certificates() {
    merro::testing::CertificateSpec rsa;
    rsa.subjectKey = merro::testing::TestKey::GenerateRsa(1024);
    merro::testing::CertificateSpec sm2;
    sm2.subjectKey = merro::testing::TestKey::GenerateSm2();
    const auto& ca = merro::testing::TestCa::Shared();
    for (CertBytes* der : {&a, &b, &aNew, &c, &f, &p, &q}) {
      *der = ca.Issue(rsa);
    }
    s1 = ca.Issue(sm2);
    s2 = ca.Issue(sm2);
  }
};
const Certificates& Certs() {
  static const Certificates certs;
  return certs;
}

DWORD Size(const CertBytes& der) { return static_cast<DWORD>(der.size()); }

struct StoreEntry {
  const CertBytes* cert;
  std::wstring container;
  DWORD keySpec;
  std::wstring provider;  // kNoProperty: no key-provider property
};

struct Container {
  std::string name;
  DWORD algorithm;
  const CertBytes* signature;  // may be null
  const CertBytes* exchange;   // may be null
};

enum class Action { Sync, RemoveAll };

struct Scenario {
  const char* name;
  std::vector<StoreEntry> before;
  std::vector<std::vector<Container>> tokens;
  bool sm2Marker;
  Action action;
  std::vector<StoreEntry> after;  // exactly what the store holds afterwards
};

constexpr DWORD kRsa = KEYSETALGORITHM_RSA;
constexpr DWORD kSm2 = KEYSETALGORITHM_SM2;
constexpr DWORD kSig = AT_SIGNATURE;
constexpr DWORD kExch = AT_KEYEXCHANGE;

void PutEntry(const StoreEntry& e) {
  if (e.provider.empty()) {
    // Some other program's certificate: no property at all.
    merro::provider::CertStore store;
    ASSERT_EQ(merro::provider::CertStore::OpenMy(StoreLocation::CurrentUser, &store), S_OK);
    ASSERT_TRUE(::CertAddEncodedCertificateToStore(store.Get(), merro::provider::kCertEncoding,
                                                   e.cert->data(), Size(*e.cert),
                                                   CERT_STORE_ADD_NEW, nullptr));
    return;
  }
  ASSERT_EQ(merro::provider::WriteEntry(StoreLocation::CurrentUser, e.cert->data(), Size(*e.cert),
                                        e.container.c_str(), e.keySpec, e.provider.c_str()),
            S_OK);
}

TokenInformationList MakeTokens(const std::vector<std::vector<Container>>& tokens) {
  TokenInformationList list;
  int index = 0;
  for (const auto& containers : tokens) {
    TokenInformation token;
    token.strDeviceName = "\\\\?\\usbstor#cdrom&ven_merro#" + std::to_string(++index);
    token.strTokenLabel = merro::provider::kDefaultTokenLabel;
    for (const Container& c : containers) {
      ContainerInformation info;
      info.dwKeySetAlgorithm = c.algorithm;
      info.strContainerName = c.name;
      info.strDeviceName = token.strDeviceName;
      const LONG bits = c.algorithm == kSm2 ? 256 : 1024;
      if (c.signature != nullptr) {
        info.lSignatureKeyLength = bits;
        info.signatureCert = CertContext::FromEncoded(c.signature->data(), Size(*c.signature));
      }
      if (c.exchange != nullptr) {
        info.lExchangeKeyLength = bits;
        info.exchangeCert = CertContext::FromEncoded(c.exchange->data(), Size(*c.exchange));
      }
      token.vecContainers.push_back(std::move(info));
    }
    list.push_back(std::move(token));
  }
  return list;
}

// Creates or removes the marker that lets SM2 certificates into the store.
void SetSm2Marker(bool present) {
  std::wstring path;
  ASSERT_EQ(merro::provider::Sm2BrowserMarkerPath(&path), S_OK);
  const std::filesystem::path marker(path);
  std::filesystem::remove(marker);
  if (present) {
    std::filesystem::create_directories(marker.parent_path());
    std::ofstream(marker).put('\n');
  }
  ASSERT_EQ(merro::provider::Sm2BrowserMarkerExists(), present);
}

std::string Describe(const StoreEntry& e) {
  std::string out;
  for (wchar_t ch : e.container + L" / " + e.provider.substr(0, 40)) {
    out += ch < 0x80 ? static_cast<char>(ch) : '?';
  }
  return out + " / spec " + std::to_string(e.keySpec);
}

void ExpectStoreHolds(const std::vector<StoreEntry>& expected) {
  const std::optional<StoreSnapshot> snapshot =
      merro::testing::ReadStoreSnapshotInChild(StoreLocation::CurrentUser);
  ASSERT_TRUE(snapshot.has_value()) << "the second process failed";
  EXPECT_EQ(snapshot->size(), expected.size());
  for (const StoreEntry& e : expected) {
    SCOPED_TRACE(Describe(e));
    const auto found = merro::testing::EntriesFor(*snapshot, *e.cert);
    ASSERT_EQ(found.size(), 1u);
    ASSERT_EQ(found[0].hasKeyProvInfo, !e.provider.empty());
    if (e.provider.empty()) {
      continue;
    }
    const merro::provider::StoreEntryInfo& info = found[0].info;
    EXPECT_EQ(info.wstrContainerName, e.container);
    EXPECT_EQ(info.wstrProviderName, e.provider);
    EXPECT_EQ(info.dwKeySpec, e.keySpec);
    EXPECT_EQ(info.dwProvType, 1u);
    EXPECT_EQ(info.dwFlags, 0u);
    EXPECT_EQ(info.dwProvParamCount, 0u);
  }
}

class StoreSync : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(merro::testing::ClearStores()); }
  void TearDown() override {
    SetSm2Marker(false);
    merro::testing::ClearStores();
  }
};

TEST_F(StoreSync, Scenarios) {
  const Certificates& k = Certs();
  const std::wstring ctr1 = L"ctr-1";
  const std::wstring ours = kOurs;
  const Scenario scenarios[] = {
      {"a valid entry is kept, the missing exchange certificate added",
       {{&k.a, ctr1, kSig, ours}},
       {{{"ctr-1", kRsa, &k.a, &k.b}}},
       false, Action::Sync,
       {{&k.a, ctr1, kSig, ours}, {&k.b, ctr1, kExch, ours}}},
      {"a container's new certificate replaces the old entry in one sync",
       {{&k.a, ctr1, kSig, ours}},
       {{{"ctr-1", kRsa, &k.aNew, nullptr}}},
       false, Action::Sync,
       {{&k.aNew, ctr1, kSig, ours}}},
      {"an entry naming another container is written anew for the right one",
       {{&k.a, L"ctr-old", kSig, ours}},
       {{{"ctr-1", kRsa, &k.a, nullptr}}},
       false, Action::Sync,
       {{&k.a, ctr1, kSig, ours}}},
      {"without the marker an SM2 certificate is neither added nor removed",
       {{&k.s1, L"sm2", kSig, ours}},
       {{{"sm2", kSm2, &k.s1, &k.s2}}},
       false, Action::Sync,
       {{&k.s1, L"sm2", kSig, ours}}},
      {"with the marker the SM2 certificates are added",
       {},
       {{{"sm2", kSm2, &k.s1, &k.s2}}},
       true, Action::Sync,
       {{&k.s1, L"sm2", kSig, ours}, {&k.s2, L"sm2", kExch, ours}}},
      {"other providers' entries are untouched, a longer name of ours is ours",
       {{&k.f, L"foreign", kSig, kOther},
        {&k.p, L"x", kSig, kOursLonger},
        {&k.q, L"y", kSig, kShorter},
        {&k.c, L"", 0, kNoProperty},
        {&k.b, L"long", kSig, LongProviderName()}},
       {},
       false, Action::Sync,
       {{&k.f, L"foreign", kSig, kOther},
        {&k.q, L"y", kSig, kShorter},
        {&k.c, L"", 0, kNoProperty},
        {&k.b, L"long", kSig, LongProviderName()}}},
      {"no tokens: all of our entries are removed",
       {{&k.a, ctr1, kSig, ours}, {&k.b, ctr1, kExch, ours}, {&k.s1, L"sm2", kSig, ours},
        {&k.f, L"foreign", kSig, kOther}},
       {},
       false, Action::Sync,
       {{&k.f, L"foreign", kSig, kOther}}},
      {"entries name the UTF-8 container in UTF-16, over two tokens",
       {},
       {{{"\xE5\xAE\xB9\xE5\x99\xA8-7", kRsa, &k.a, &k.b}}, {{"ctr-2", kRsa, nullptr, &k.c}}},
       false, Action::Sync,
       {{&k.a, L"\x5BB9\x5668-7", kSig, ours},
        {&k.b, L"\x5BB9\x5668-7", kExch, ours},
        {&k.c, L"ctr-2", kExch, ours}}},
      {"removal at exit spares other providers",
       {{&k.a, ctr1, kSig, ours}, {&k.p, L"x", kSig, kOursLonger}, {&k.f, L"foreign", kSig, kOther},
        {&k.c, L"", 0, kNoProperty}},
       {{{"ctr-1", kRsa, &k.a, nullptr}}},
       false, Action::RemoveAll,
       {{&k.f, L"foreign", kSig, kOther}, {&k.c, L"", 0, kNoProperty}}},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(merro::testing::ClearStores());
    for (const StoreEntry& e : s.before) {
      PutEntry(e);
    }
    SetSm2Marker(s.sm2Marker);
    const TokenInformationList tokens = MakeTokens(s.tokens);
    const HRESULT hr = s.action == Action::Sync ? SYNContainer2Browser(tokens)
                                                : RemoveAllSpecifiedCertfromBrowser(kOurs);
    EXPECT_EQ(hr, S_OK);
    ExpectStoreHolds(s.after);
  }
}

// A second sync over the same tokens changes nothing.
TEST_F(StoreSync, SyncIsStable) {
  const Certificates& k = Certs();
  const TokenInformationList tokens = MakeTokens({{{"ctr-1", kRsa, &k.a, &k.b}}});
  ASSERT_EQ(SYNContainer2Browser(tokens), S_OK);
  ASSERT_EQ(SYNContainer2Browser(tokens), S_OK);
  ExpectStoreHolds({{&k.a, L"ctr-1", kSig, kOurs}, {&k.b, L"ctr-1", kExch, kOurs}});
}

TEST_F(StoreSync, NamesOfAnyLengthAreReadWhole) {
  const Certificates& k = Certs();
  const std::wstring container(300, L'c');
  PutEntry({&k.a, container, kSig, kOursLonger + std::wstring(300, L'x')});
  CertContextList list;
  ASSERT_EQ(GetAllSpecifiedCertFromBrowser(kOurs, &list), S_OK);
  ASSERT_EQ(list.size(), 1u);
  std::wstring provider;
  std::wstring name;
  ASSERT_EQ(GetMSCertProviderAndContainerName(list[0].Get(), &provider, &name), S_OK);
  EXPECT_EQ(name, container);
  EXPECT_EQ(provider, kOursLonger + std::wstring(300, L'x'));
  // The container on a token keeps it.
  const TokenInformationList tokens = MakeTokens({{{std::string(300, 'c'), kRsa, &k.a, nullptr}}});
  EXPECT_TRUE(CheckMSCertInContainerSet(list[0].Get(), name.c_str(), tokens));
  EXPECT_FALSE(CheckMSCertInContainerSet(list[0].Get(), L"c", tokens));
}

TEST_F(StoreSync, MachineEntriesThroughImportAndRemove) {
  const Certificates& k = Certs();
  const CertContext cert = CertContext::FromEncoded(k.a.data(), Size(k.a));
  ASSERT_EQ(ImportCertToBrowser(cert.Get(), L"m", TRUE, kSig, kOurs), S_OK);
  auto snapshot = merro::testing::ReadStoreSnapshotInChild(StoreLocation::LocalMachine);
  ASSERT_TRUE(snapshot.has_value());
  ASSERT_EQ(snapshot->size(), 1u);
  EXPECT_EQ((*snapshot)[0].info.dwFlags, static_cast<DWORD>(CRYPT_MACHINE_KEYSET));
  EXPECT_EQ((*snapshot)[0].info.wstrContainerName, L"m");
  ASSERT_EQ(RemoveCertFromBrowser(cert.Get(), TRUE), S_OK);
  snapshot = merro::testing::ReadStoreSnapshotInChild(StoreLocation::LocalMachine);
  ASSERT_TRUE(snapshot.has_value());
  EXPECT_TRUE(snapshot->empty());
  // Nothing to remove is no failure.
  EXPECT_EQ(RemoveCertFromBrowser(cert.Get(), FALSE), S_OK);
}

TEST_F(StoreSync, MissingArgumentsAreRefused) {
  const Certificates& k = Certs();
  const CertContext cert = CertContext::FromEncoded(k.a.data(), Size(k.a));
  CertContextList list;
  std::vector<BYTE> serial;
  EXPECT_EQ(ImportCertToBrowser(nullptr, L"c", FALSE, kSig, kOurs), kBadArgument);
  EXPECT_EQ(ImportCertToBrowser(cert.Get(), nullptr, FALSE, kSig, kOurs), kBadArgument);
  EXPECT_EQ(ImportCertToBrowser(cert.Get(), L"c", FALSE, kSig, nullptr), kBadArgument);
  EXPECT_EQ(RemoveCertFromBrowser(nullptr, FALSE), kBadArgument);
  EXPECT_EQ(AddAllIdleCertToBrowser(nullptr, {}, list), kBadArgument);
  EXPECT_EQ(GetAllSpecifiedCertFromBrowser(nullptr, &list), kBadArgument);
  EXPECT_EQ(GetCertSerialNumber(nullptr, &serial), kBadArgument);
  EXPECT_EQ(GetCertSerialNumber(cert.Get(), nullptr), kBadArgument);
  ExpectStoreHolds({});
}

TEST(StoreSyncRules, SerialNumbersMatchWhole) {
  const Certificates& k = Certs();
  CertContextList list;
  list.push_back(CertContext::FromEncoded(k.a.data(), Size(k.a)));
  std::vector<BYTE> serial;
  ASSERT_EQ(GetCertSerialNumber(list[0].Get(), &serial), S_OK);
  ASSERT_GT(serial.size(), 2u);
  EXPECT_TRUE(CheckContainerCertInBrowser(list, serial.data(), static_cast<DWORD>(serial.size())));
  EXPECT_FALSE(
      CheckContainerCertInBrowser(list, serial.data(), static_cast<DWORD>(serial.size() - 1)));
  serial.push_back(0);
  EXPECT_FALSE(CheckContainerCertInBrowser(list, serial.data(), static_cast<DWORD>(serial.size())));
}

}  // namespace
