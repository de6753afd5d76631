// Enrolment through the provider objects, against the simulator's two
// tokens and the real "MY" store of this test's own Wine prefix: private
// keys into a container's exchange slot (SM2 pairs in the token's forms, an
// RSA-2048 envelope, an RSA-1024 body the platform's RSA provider
// exported), refusals that reach neither the user nor the token, and
// certificates into the token and the store, with and without a running
// manager.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "provider/cert_store.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "provider/manager_events.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/provider/support/enrolment_material.h"
#include "tests/support/child_process.h"
#include "tests/support/store_snapshot.h"
#include "tokenapi/api/token_api.h"

namespace merro::provider {
namespace {

using merro::testing::ByteVector;
using merro::testing::CertBytes;
using merro::testing::DeviceBench;
using merro::testing::PlatformRsaKey;
using merro::testing::Sm2Form;
using merro::testing::StoreSnapshot;

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kBadData = static_cast<HRESULT>(0x80090005);
constexpr HRESULT kBadKey = static_cast<HRESULT>(0x80090003);
constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x8007000D);
constexpr DWORD kSm2Bits = 256;
// m_dwModulusBits of an SM2 key before its import: the import must not
// touch it.
constexpr DWORD kUntouchedBits = 0x5A5A;

DWORD Size(const ByteVector& v) { return static_cast<DWORD>(v.size()); }

std::string Dev(int token) { return DeviceBench::DeviceName(token); }

// The container names token i lists, read through the device object's own
// context (another open would reset the token's session).
std::vector<std::string> OnToken(int token) {
  DEV_CTX* ctx = nullptr;
  EXPECT_EQ(g_pDeviceHandle->GetDevCtx(Dev(token).c_str(), &ctx), S_OK);
  CONTAINER_RECORD records[8] = {};
  DWORD count = 8;
  EXPECT_EQ(EnumContainer(ctx, records, &count), S_OK);
  std::vector<std::string> names;
  for (DWORD i = 0; i < count && i < 8; ++i) {
    names.emplace_back(records[i].szContainerName, strnlen(records[i].szContainerName, 64));
  }
  return names;
}

// "<token>:<name>" of every container in the device object's list.
std::vector<std::string> Listed() {
  std::vector<std::string> out;
  for (const auto& item : g_pDeviceHandle->m_vtrContainerSet) {
    const std::string name(item.pstContainer()->szContainerName,
                           strnlen(item.pstContainer()->szContainerName, 64));
    out.push_back((item.szDeviceName == Dev(0) ? "0:" : "1:") + name);
  }
  return out;
}

CONTAINER_RECORD ListedRecord(const Container& c) {
  DWORD index = 0;
  EXPECT_EQ(g_pDeviceHandle->CheckContainerExist(c.m_szDeviceName, c.m_szContainerName, &index),
            S_OK);
  return *g_pDeviceHandle->m_vtrContainerSet.at(index).pstContainer();
}

bool SameRecord(const CONTAINER_RECORD& a, const CONTAINER_RECORD& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// merro-fake-manager.exe as Windows programs see it (the build tree is on Z:).
std::string FakeManagerPath() {
  std::string path = "Z:";
  for (const char* p = MERRO_FAKE_MANAGER_PATH; *p != '\0'; ++p) {
    path += *p == '/' ? '\\' : *p;
  }
  return path;
}

// The marker that lets SM2 certificates into the store.
std::filesystem::path MarkerPath() {
  std::wstring path;
  EXPECT_EQ(Sm2BrowserMarkerPath(&path), S_OK);
  return std::filesystem::path(path);
}

class EnrolmentTest : public ::testing::Test {
 protected:
  static constexpr char kPin[] = "47193628";

  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    for (int i = 0; i < 2; ++i) {
      DeviceBench::Insert(i);
      ASSERT_TRUE(DeviceBench::Prepare(i));
    }
    ASSERT_TRUE(merro::testing::ClearStores());
    std::error_code ec;
    std::filesystem::remove(MarkerPath(), ec);
    ASSERT_EQ(Container::TokenInitialize(DefaultProviderSettings(FALSE)), S_OK);
    ASSERT_NE(g_pDeviceHandle, nullptr);
  }
  void TearDown() override {
    m_containers.clear();
    Container::TokenUninitialize();
    merro::testing::ClearStores();
    std::error_code ec;
    std::filesystem::remove(MarkerPath(), ec);
  }

  // A new empty container on the token, listed by the device object.
  Container& NewContainer(int token, const std::string& name, BOOL bMachineKeySet = FALSE) {
    EXPECT_TRUE(DeviceBench::CreateContainers(token, {name}));
    EXPECT_EQ(g_pDeviceHandle->UpdateContainer(), S_OK);
    m_containers.push_back(std::make_unique<Container>(Dev(token).c_str(), name.c_str(), TRUE,
                                                       bMachineKeySet, TRUE, FALSE));
    return *m_containers.back();
  }

  // The exchange key object of the container, as the provider core makes it.
  static std::unique_ptr<KeyHandle> ExchangeKey(Container& c, ALG_ID uAlgID, DWORD dwBits) {
    auto key = std::make_unique<KeyHandle>();
    EXPECT_EQ(key->InitKeyHandle(uAlgID, 0), S_OK);
    key->m_pContainer = &c;
    key->m_dwModulusBits = dwBits;
    return key;
  }

  DEV_CTX* Context(int token) {
    DEV_CTX* ctx = nullptr;
    EXPECT_EQ(g_pDeviceHandle->GetDevCtx(Dev(token).c_str(), &ctx), S_OK);
    return ctx;
  }

  // The PIN typed when the token asks for it (kept afterwards).
  void AnswerPin() { m_ui->Push(std::string("pin ") + kPin); }

  // Imports into the container's exchange slot: an SM2 pair, the pair of an
  // RSA-2048 envelope or a platform RSA-1024 body.
  std::unique_ptr<KeyHandle> ImportSm2(Container& c, int token) {
    auto key = ExchangeKey(c, CALG_SM2_KEYX, kSm2Bits);
    const auto sm2 = merro::testing::MakeSm2Material(Context(token), Sm2Form::Wrapped);
    AnswerPin();
    EXPECT_EQ(key->ImportPrivateKey(sm2.material.data(), Size(sm2.material), kSm2Bits), S_OK);
    return key;
  }
  std::unique_ptr<KeyHandle> ImportRsa1024(Container& c, const PlatformRsaKey& rsa) {
    auto key = ExchangeKey(c, CALG_RSA_KEYX, 1024);
    const ByteVector body = rsa.Body();
    AnswerPin();
    EXPECT_EQ(key->ImportPrivateKey(body.data(), Size(body), 1024), S_OK);
    return key;
  }
  std::unique_ptr<KeyHandle> ImportRsa2048(Container& c, int token) {
    auto key = ExchangeKey(c, CALG_RSA_KEYX, 2048);
    const auto rsa = merro::testing::MakeRsa2048Envelope(Context(token));
    AnswerPin();
    EXPECT_EQ(key->ImportPrivateKey(rsa.envelope.data(), Size(rsa.envelope), 2048), S_OK);
    return key;
  }

  // What the token's private-key operation of the exchange slot makes of
  // the block: the padded plaintext.
  static ByteVector DecryptOnToken(const Container& c, const ByteVector& cipher) {
    BYTE* out = nullptr;
    DWORD outLen = 0;
    EXPECT_EQ(g_pDeviceHandle->DecryptByDevice(c.m_szDeviceName, c.m_szContainerName,
                                               AT_KEYEXCHANGE, cipher.data(), Size(cipher), &out,
                                               &outLen),
              S_OK);
    const std::unique_ptr<BYTE[]> owned(out);
    return out != nullptr ? ByteVector(out, out + outLen) : ByteVector();
  }

  // A certificate over the key of the container's exchange slot.
  static CertBytes CertificateFor(const Container& c) {
    DWORD alg = 0;
    BYTE* pub = nullptr;
    DWORD pubLen = 0;
    EXPECT_EQ(g_pDeviceHandle->ExportPubKey(c.m_szDeviceName, c.m_szContainerName, AT_KEYEXCHANGE,
                                            &alg, &pub, &pubLen),
              S_OK);
    const std::unique_ptr<BYTE[]> owned(pub);
    if (pub == nullptr) {
      return {};
    }
    return merro::testing::CertificateOver(ByteVector(pub, pub + pubLen),
                                           alg == Container::KEYSETALGORITHM_SM2);
  }

  // The certificate of the exchange slot; empty when the slot has none.
  static CertBytes TokenCertificate(const Container& c) {
    BYTE* der = nullptr;
    DWORD len = 0;
    const HRESULT hr = g_pDeviceHandle->ExportCertificate(c.m_szDeviceName, c.m_szContainerName,
                                                          AT_KEYEXCHANGE, &der, &len);
    const std::unique_ptr<BYTE[]> owned(der);
    return hr == S_OK && der != nullptr ? CertBytes(der, der + len) : CertBytes();
  }

  merro::testing::ScopedScriptedUi m_ui;
  std::vector<std::unique_ptr<Container>> m_containers;
};

// ---- private keys ----

TEST_F(EnrolmentTest, Sm2PairsInTheTokensFormsLandInTheExchangeSlot) {
  const Sm2Form forms[] = {Sm2Form::Wrapped, Sm2Form::Encrypted, Sm2Form::EncryptedC1C3C2};
  for (const Sm2Form form : forms) {
    SCOPED_TRACE(::testing::Message() << "form " << static_cast<int>(form));
    Container& c = NewContainer(0, "sm2-form-" + std::to_string(static_cast<int>(form)));
    auto key = ExchangeKey(c, CALG_SM2_KEYX, kUntouchedBits);
    const auto sm2 = merro::testing::MakeSm2Material(Context(0), form);
    AnswerPin();
    ASSERT_EQ(key->ImportPrivateKey(sm2.material.data(), Size(sm2.material), kSm2Bits), S_OK);
    EXPECT_EQ(key->m_dwModulusBits, kUntouchedBits);
    EXPECT_EQ(c.GetKeySetAlgorithm(), Container::KEYSETALGORITHM_SM2);

    BYTE* x = nullptr;
    BYTE* y = nullptr;
    DWORD xLen = 0, yLen = 0;
    ASSERT_EQ(key->ExportPublicKey(&x, &xLen, &y, &yLen), S_OK);
    const std::unique_ptr<BYTE[]> ownedX(x), ownedY(y);
    EXPECT_EQ(ByteVector(x, x + xLen), ByteVector(sm2.key.x, sm2.key.x + 32));
    EXPECT_EQ(ByteVector(y, y + yLen), ByteVector(sm2.key.y, sm2.key.y + 32));
  }
}

TEST_F(EnrolmentTest, RsaEnvelopeAndPlatformBodyLandAndTheKeyDecrypts) {
  Container& enveloped = NewContainer(0, "rsa-2048-envelope");
  auto key2048 = ExchangeKey(enveloped, CALG_RSA_KEYX, 1024);
  const auto envelope = merro::testing::MakeRsa2048Envelope(Context(0));
  AnswerPin();
  ASSERT_EQ(key2048->ImportPrivateKey(envelope.envelope.data(), Size(envelope.envelope), 2048),
            S_OK);
  EXPECT_EQ(key2048->m_dwModulusBits, 2048u);
  BYTE* n = nullptr;
  BYTE* e = nullptr;
  DWORD nLen = 0, eLen = 0;
  ASSERT_EQ(key2048->ExportPublicKey(&n, &nLen, &e, &eLen), S_OK);
  {
    const std::unique_ptr<BYTE[]> ownedN(n), ownedE(e);
    EXPECT_EQ(ByteVector(n, n + nLen), envelope.modulus);
  }

  // A pair the platform's RSA provider made and exported: the token holds
  // its modulus and decrypts what the provider encrypted for it.
  Container& plain = NewContainer(0, "rsa-1024-body");
  const PlatformRsaKey rsa = PlatformRsaKey::Generate(1024);
  ASSERT_TRUE(rsa);
  auto key1024 = ExchangeKey(plain, CALG_RSA_KEYX, 1024);
  const ByteVector body = rsa.Body();
  ASSERT_EQ(body.size(), 12u + 576u);
  ASSERT_EQ(key1024->ImportPrivateKey(body.data(), Size(body), 1024), S_OK);
  EXPECT_EQ(key1024->m_dwModulusBits, 1024u);
  ASSERT_EQ(key1024->ExportPublicKey(&n, &nLen, &e, &eLen), S_OK);
  {
    const std::unique_ptr<BYTE[]> ownedN(n), ownedE(e);
    EXPECT_EQ(ByteVector(n, n + nLen), rsa.Modulus());
  }

  const ByteVector message = {'e', 'n', 'r', 'o', 'l', 'm', 'e', 'n', 't'};
  const ByteVector cipher = rsa.Encrypt(message);
  const ByteVector block = DecryptOnToken(plain, cipher);
  ASSERT_GE(block.size(), message.size());
  EXPECT_EQ(ByteVector(block.end() - message.size(), block.end()), message);
}

// Everything the material alone gives away is refused before the user is
// asked for the PIN and before the token hears a command; the container's
// record stays as it was.
TEST_F(EnrolmentTest, RefusalsReachNeitherTheUserNorTheToken) {
  Container& sm2 = NewContainer(0, "refusal-sm2");
  Container& rsa = NewContainer(0, "refusal-rsa");
  Container missing(Dev(0).c_str(), "not-on-any-token", TRUE, FALSE, TRUE, FALSE);

  const auto sm2Material = merro::testing::MakeSm2Material(Context(0), Sm2Form::Wrapped);
  const auto envelope = merro::testing::MakeRsa2048Envelope(Context(0));
  const PlatformRsaKey platform = PlatformRsaKey::Generate(1024);
  ASSERT_TRUE(platform);
  const ByteVector body = platform.Body();

  auto elements = merro::testing::RsaEnvelopeElements(envelope.keyBlock, envelope.pair);
  const ByteVector fourElements = merro::testing::DerSequence(
      std::vector<ByteVector>(elements.begin() + 1, elements.end()));
  auto sixList = elements;
  sixList.push_back(merro::testing::DerElement(0x05, {}));
  const ByteVector sixElements = merro::testing::DerSequence(sixList);
  const ByteVector shortKeyBlock = merro::testing::RsaEnvelope(
      ByteVector(envelope.keyBlock.begin(), envelope.keyBlock.end() - 1), envelope.pair);
  const ByteVector truncated(envelope.envelope.begin(), envelope.envelope.end() - 1);
  const ByteVector longSm2(255, 0x5A);
  ByteVector exponent3 = body;
  exponent3[8] = 3;
  exponent3[9] = exponent3[10] = exponent3[11] = 0;
  const ByteVector shortBody(body.begin(), body.end() - 1);
  const ByteVector header11(body.begin(), body.begin() + 11);

  struct Case {
    const char* what;
    Container* container;
    ALG_ID alg;
    DWORD keyBits;  // m_dwModulusBits of the key object
    const ByteVector* data;
    DWORD bits;  // the modulus length given to the import
    HRESULT expected;
  };
  const Case cases[] = {
      {"RSA 512 bits", &rsa, CALG_RSA_KEYX, 1024, &body, 512, kBadArgument},
      {"RSA 3072 bits", &rsa, CALG_RSA_KEYX, 1024, &body, 3072, kBadArgument},
      {"RSA 256 bits", &rsa, CALG_RSA_KEYX, 1024, &envelope.envelope, 256, kBadArgument},
      {"RSA 4096 bits", &rsa, CALG_RSA_KEYX, 1024, &envelope.envelope, 4096, kBadArgument},
      {"SM2 2048 bits", &sm2, CALG_SM2_KEYX, kSm2Bits, &sm2Material.material, 2048, kBadArgument},
      {"envelope of 4 elements", &rsa, CALG_RSA_KEYX, 2048, &fourElements, 2048, kFail},
      {"envelope of 6 elements", &rsa, CALG_RSA_KEYX, 2048, &sixElements, 2048, kFail},
      {"truncated envelope", &rsa, CALG_RSA_KEYX, 2048, &truncated, 2048, kInvalidData},
      {"127-byte key block", &rsa, CALG_RSA_KEYX, 2048, &shortKeyBlock, 2048, kBadArgument},
      {"255 bytes of SM2 material", &sm2, CALG_SM2_KEYX, kSm2Bits, &longSm2, kSm2Bits,
       kBadArgument},
      {"RSA-1024 exponent 3", &rsa, CALG_RSA_KEYX, 1024, &exponent3, 1024, kBadData},
      {"RSA-1024 body one byte short", &rsa, CALG_RSA_KEYX, 1024, &shortBody, 1024, kBadData},
      {"RSA-1024 material under 12 bytes", &rsa, CALG_RSA_KEYX, 1024, &header11, 1024,
       kBadArgument},
      {"RSA-1024 into a 2048-bit key", &rsa, CALG_RSA_KEYX, 2048, &body, 1024, kBadKey},
      {"no container", &missing, CALG_RSA_KEYX, 1024, &body, 1024, kBadKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CONTAINER_RECORD before = ListedRecord(c.container == &missing ? rsa : *c.container);
    DeviceBench::CommandLog(0, true);
    const size_t prompts = m_ui->Transcript().size();
    auto key = ExchangeKey(*c.container, c.alg, c.keyBits);
    EXPECT_EQ(key->ImportPrivateKey(c.data->data(), Size(*c.data), c.bits), c.expected);
    EXPECT_EQ(m_ui->Transcript().size(), prompts) << m_ui->TranscriptLines().back();
    EXPECT_TRUE(DeviceBench::CommandLog(0).empty());
    EXPECT_TRUE(SameRecord(ListedRecord(c.container == &missing ? rsa : *c.container), before));
    EXPECT_EQ(key->m_dwModulusBits, c.keyBits);
  }
}

// ---- certificates into the token ----

TEST_F(EnrolmentTest, CertificatesLandOnlyOverTheContainersOwnKey) {
  const PlatformRsaKey platform = PlatformRsaKey::Generate(1024);
  ASSERT_TRUE(platform);
  // Each container is completed before the next is made: a completed
  // container takes the other containers of its family off the token.
  struct Case {
    const char* name;
    int kind;  // 0 RSA-1024, 1 RSA-2048, 2 SM2
  };
  const Case cases[] = {{"cert-rsa-1024", 0}, {"cert-rsa-2048", 1}, {"cert-sm2", 2}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Container& c = NewContainer(0, k.name);
    std::unique_ptr<KeyHandle> key = k.kind == 0   ? ImportRsa1024(c, platform)
                                     : k.kind == 1 ? ImportRsa2048(c, 0)
                                                   : ImportSm2(c, 0);
    const CertBytes own = CertificateFor(c);
    ASSERT_FALSE(own.empty());

    // Another key's certificate, one whose header has a one-byte length and
    // a SEQUENCE that is no certificate are refused; the slot stays empty.
    const CertBytes other = merro::testing::CertificateOver(
        k.kind == 2 ? merro::testing::TestKey::GenerateSm2().PublicExport()
                    : merro::testing::TestKey::GenerateRsa(1024).PublicExport(),
        k.kind == 2);
    EXPECT_EQ(key->ImportCertificate(other.data()), kBadData);
    CertBytes shortHeader = own;
    shortHeader[1] = 0x81;
    EXPECT_EQ(key->ImportCertificate(shortHeader.data()), kBadData);
    const ByteVector noCertificate = {0x30, 0x82, 0x00, 0x04, 0x02, 0x02, 0x01, 0x00};
    EXPECT_EQ(key->ImportCertificate(noCertificate.data()), kBadData);
    EXPECT_TRUE(TokenCertificate(c).empty());

    ASSERT_EQ(key->ImportCertificate(own.data()), S_OK);
    EXPECT_EQ(TokenCertificate(c), own);
    EXPECT_EQ(ListedRecord(c).byFlag, MR_CTNR_AVL_SINGLE);
    EXPECT_EQ(key->ImportCertificate(other.data()), kBadData);
    EXPECT_EQ(TokenCertificate(c), own);
  }
}

// Token 0 holds SM2 X (its key only), the finished SM2 Y and RSA Z, token 1
// the finished SM2 W. Completing X takes Y off its token and out of the
// list; Z (another family) and W (another token) stay where they are.
TEST_F(EnrolmentTest, ACompletedContainerRemovesOnlyItsFamilyOnItsToken) {
  Container& y = NewContainer(0, "family-Y");
  auto keyY = ImportSm2(y, 0);
  ASSERT_EQ(keyY->ImportCertificate(CertificateFor(y).data()), S_OK);
  Container& z = NewContainer(0, "family-Z");
  auto keyZ = ImportRsa1024(z, PlatformRsaKey::Generate(1024));
  ASSERT_EQ(keyZ->ImportCertificate(CertificateFor(z).data()), S_OK);
  Container& w = NewContainer(1, "family-W");
  auto keyW = ImportSm2(w, 1);
  ASSERT_EQ(keyW->ImportCertificate(CertificateFor(w).data()), S_OK);
  Container& x = NewContainer(0, "family-X");
  auto keyX = ImportSm2(x, 0);
  ASSERT_EQ(OnToken(0), (std::vector<std::string>{"family-Y", "family-Z", "family-X"}));

  ASSERT_EQ(keyX->ImportCertificate(CertificateFor(x).data()), S_OK);
  EXPECT_EQ(ListedRecord(x).byFlag, MR_CTNR_AVL_SINGLE);
  EXPECT_EQ(OnToken(0), (std::vector<std::string>{"family-Z", "family-X"}));
  EXPECT_EQ(OnToken(1), (std::vector<std::string>{"family-W"}));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"0:family-Z", "0:family-X", "1:family-W"}));
}

// ---- the store ----

merro::testing::StoreSnapshot SnapshotInChild(StoreLocation location) {
  auto snapshot = merro::testing::ReadStoreSnapshotInChild(location);
  EXPECT_TRUE(snapshot.has_value()) << "the second process failed";
  return snapshot.value_or(StoreSnapshot());
}

TEST_F(EnrolmentTest, WithoutAManagerTheProviderWritesTheStoreEntry) {
  // A UTF-8 container name with characters beyond ASCII, in the user's
  // store; a machine key set's container in the machine's.
  const PlatformRsaKey platform = PlatformRsaKey::Generate(1024);
  ASSERT_TRUE(platform);
  struct Case {
    const char* utf8;
    const wchar_t* utf16;
    BOOL machine;
    StoreLocation location;
    DWORD flags;
  };
  const Case cases[] = {
      {"\xE8\xAF\x81\xE4\xB9\xA6-\xE5\xAE\xB9\xE5\x99\xA8", L"\x8BC1\x4E66-\x5BB9\x5668", FALSE,
       StoreLocation::CurrentUser, 0},
      {"machine-container", L"machine-container", TRUE, StoreLocation::LocalMachine,
       CRYPT_MACHINE_KEYSET},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.utf8);
    Container& c = NewContainer(k.machine ? 1 : 0, k.utf8, k.machine);
    auto key = ImportRsa1024(c, platform);
    const CertBytes der = CertificateFor(c);
    ASSERT_EQ(key->ImportCertificate(der.data()), S_OK);
    const auto entries = merro::testing::EntriesFor(SnapshotInChild(k.location), der);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(entries[0].hasKeyProvInfo);
    const StoreEntryInfo& info = entries[0].info;
    EXPECT_EQ(info.wstrContainerName, k.utf16);
    EXPECT_EQ(info.wstrProviderName, L"Tolvane Merro CSP For TAVR V1.0");
    EXPECT_EQ(info.dwProvType, 1u);
    EXPECT_EQ(info.dwFlags, k.flags);
    EXPECT_EQ(info.dwProvParamCount, 0u);
    EXPECT_EQ(info.dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
  }
}

TEST_F(EnrolmentTest, Sm2CertificatesNeedTheMarkerAndTheBanksRules) {
  struct Case {
    const char* name;
    bool marker;
    DWORD customerType;
    bool entry;
  };
  const Case cases[] = {
      {"sm2-no-marker", false, 2, false},
      {"sm2-marker", true, 2, true},
      {"sm2-other-rules", true, 1, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::error_code ec;
    if (k.marker) {
      std::filesystem::create_directories(MarkerPath().parent_path(), ec);
      std::ofstream(MarkerPath()).put('\n');
    } else {
      std::filesystem::remove(MarkerPath(), ec);
    }
    g_pDeviceHandle->m_dwCustomerType = k.customerType;
    // Each on its own token turn, so that one completed SM2 container does
    // not take the previous one off the token before it is looked at.
    Container& c = NewContainer(0, k.name);
    auto key = ImportSm2(c, 0);
    const CertBytes der = CertificateFor(c);
    ASSERT_EQ(key->ImportCertificate(der.data()), S_OK);
    EXPECT_EQ(TokenCertificate(c), der);
    EXPECT_EQ(merro::testing::EntriesFor(SnapshotInChild(StoreLocation::CurrentUser), der).size(),
              k.entry ? 1u : 0u);
  }
}

// The same certificate imported for a container on the other token: the
// entry now names that container, also for a process that opens the store
// afterwards.
TEST_F(EnrolmentTest, AReplacedStoreEntryNamesTheNewContainer) {
  const PlatformRsaKey platform = PlatformRsaKey::Generate(1024);
  ASSERT_TRUE(platform);
  Container& first = NewContainer(0, "replace-first");
  auto firstKey = ImportRsa1024(first, platform);
  Container& second = NewContainer(1, "replace-second");
  auto secondKey = ImportRsa1024(second, platform);
  const CertBytes der = CertificateFor(first);

  ASSERT_EQ(firstKey->ImportCertificate(der.data()), S_OK);
  ASSERT_EQ(secondKey->ImportCertificate(der.data()), S_OK);
  const auto entries = merro::testing::EntriesFor(SnapshotInChild(StoreLocation::CurrentUser), der);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].info.wstrContainerName, L"replace-second");
}

// A running manager (its instance event exists) is told through EVENT-A and
// does the store work itself: the provider waits for its EVENT-B, at most
// five seconds, and writes no entry.
TEST_F(EnrolmentTest, ARunningManagerIsToldInsteadOfTheStore) {
  const PlatformRsaKey platform = PlatformRsaKey::Generate(1024);
  ASSERT_TRUE(platform);
  struct Case {
    const char* mode;
    long minMs;
    long maxMs;
  };
  // A silent manager lives 20 s: an import that returns well before that
  // gave up its own wait, whatever the loaded machine added to the import's
  // token work around it.
  const Case cases[] = {{"answer", 0, 4500}, {"silent", 4500, 15000}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.mode);
    Container& c = NewContainer(k.mode[0] == 'a' ? 0 : 1, std::string("manager-") + k.mode);
    auto key = ImportRsa1024(c, platform);
    const CertBytes der = CertificateFor(c);

    const std::filesystem::path ready =
        std::filesystem::temp_directory_path() /
        ("merro-fake-manager-" + std::to_string(::GetCurrentProcessId()) + "-" + k.mode);
    std::error_code ec;
    std::filesystem::remove(ready, ec);
    merro::testing::ChildProcess manager = merro::testing::ChildProcess::Start(
        FakeManagerPath(), {"Tolvane Merro CSP For TAVR V1.0", k.mode, ready.string(), "20000"});
    ASSERT_TRUE(manager.Started());
    ASSERT_TRUE(merro::testing::WaitForFile(ready));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(key->ImportCertificate(der.data()), S_OK);
    const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
    EXPECT_GE(ms, k.minMs);
    EXPECT_LE(ms, k.maxMs);
    EXPECT_EQ(manager.Join(), 0) << "the manager did not see EVENT-A";
    // The provider kept no handle to the manager's instance event: with the
    // manager gone it is gone, and the next import finds no manager.
    const HANDLE instance = ::OpenEventW(READ_CONTROL, FALSE, g_wszInstanceEventName);
    EXPECT_EQ(instance, nullptr);
    if (instance != nullptr) {
      ::CloseHandle(instance);
    }
    EXPECT_TRUE(
        merro::testing::EntriesFor(SnapshotInChild(StoreLocation::CurrentUser), der).empty());
    EXPECT_EQ(TokenCertificate(c), der);
    std::filesystem::remove(ready, ec);
  }
}

}  // namespace
}  // namespace merro::provider
