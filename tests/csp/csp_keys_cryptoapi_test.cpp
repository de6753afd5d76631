// The provider's keys as CryptoAPI programs see them: merrocsp.dll loaded by
// advapi32, one token in the simulator whose user PIN was never changed and
// C:\windows\TAVR.flag present, so the factory PIN stands in for every
// prompt. Each test keeps its provider handle open from the first call to
// the last: advapi32 unloads the library at the last release, and the kept
// PIN goes with it. OpenSSL judges the exported blobs against what the
// token API reads from the token itself.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "provider/cert_store.h"
#include "provider/manager_events.h"
#include "tests/csp/cryptoapi_fixture.h"
// (after the fixture, whose lock helpers name merro::csp as csp::)
#include "tests/csp/blob_certificate.h"
#include "tests/csp/public_key_blob_oracle.h"
#include "tests/support/child_process.h"
#include "tests/support/test_certificates.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/api/token_api.h"
#include "tools/simplug/device_broadcast.h"

namespace {

using merro::testing::Bytes;
using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::OpenToken;
using merro::testing::Outcome;
using merro::testing::PkeyPtr;
using namespace merro::testing::csp;

constexpr DWORD Code(HRESULT hr) { return static_cast<DWORD>(hr); }
constexpr auto kCallLimit = std::chrono::seconds(120);

// A key handle destroyed at scope exit (declared after its provider, so it
// goes first).
struct Key {
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h != 0) {
      ::CryptDestroyKey(h);
    }
  }
  HCRYPTKEY h = 0;
};

// A call's result and last error, bounded in time: a PIN prompt that nobody
// answers must fail the test, not hang it.
Outcome Bounded(const std::function<BOOL()>& call) {
  return CallWithin(kCallLimit, [&call] {
    ::SetLastError(0xdeadbeef);
    return call();
  });
}

Outcome NewContainer(Provider* p, const char* name) {
  return Bounded([&] {
    return ::CryptAcquireContextA(&p->h, name, kProviderName, PROV_RSA_FULL, CRYPT_NEWKEYSET);
  });
}

Outcome GenKey(HCRYPTPROV h, ALG_ID algId, DWORD flags, Key* key) {
  return Bounded([&] { return ::CryptGenKey(h, algId, flags, &key->h); });
}

Outcome GetUserKey(HCRYPTPROV h, DWORD keySpec, Key* key) {
  return Bounded([&] { return ::CryptGetUserKey(h, keySpec, &key->h); });
}

DWORD DwordParam(HCRYPTKEY h, DWORD param) {
  DWORD value = 0;
  DWORD length = sizeof value;
  EXPECT_TRUE(::CryptGetKeyParam(h, param, reinterpret_cast<BYTE*>(&value), &length, 0))
      << param << " " << std::hex << ::GetLastError();
  EXPECT_EQ(length, sizeof value);
  return value;
}

struct Export {
  Outcome outcome;
  DWORD length;
  Bytes blob;
};

// CryptExportKey into a buffer of `capacity` bytes (none: a size query).
Export ExportKey(HCRYPTKEY h, DWORD blobType, DWORD capacity, bool withBuffer = true,
                 HCRYPTKEY hPubKey = 0) {
  Export out{};
  out.blob.assign(capacity, 0xCC);
  out.length = capacity;
  out.outcome = Bounded([&] {
    return ::CryptExportKey(h, hPubKey, blobType, 0, withBuffer ? out.blob.data() : nullptr,
                            &out.length);
  });
  if (out.outcome.result && withBuffer) {
    out.blob.resize(out.length);
  }
  return out;
}

// The public key of a container's key pair as the token API reads it from
// the token, for OpenSSL. Read through a context of the test's own, so only
// after the provider's last call of the test.
PkeyPtr TokenPublicKey(const std::string& container, DWORD keySpec) {
  OpenToken token;
  EXPECT_TRUE(DeviceBench::Open(0, &token));
  if (!token) {
    return nullptr;
  }
  CONTAINER_RECORD record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(record.szContainerName, container.data(), container.size());
  EXPECT_EQ(::ReadContainer(token.get(), &record), S_OK) << container;
  const WORD fid = keySpec == AT_SIGNATURE ? record.SignKeyFID : record.ExchangeKeyFID;
  if (record.AlgType == MR_ALG_SM2) {
    BYTE xy[64] = {};
    EXPECT_EQ(::ExportPublicKey(token.get(), record.AlgType, fid, xy), S_OK) << container;
    return merro::testing::Sm2PublicKey(Bytes(xy, xy + 64));
  }
  RSA_KEY key{};
  EXPECT_EQ(::ExportPublicKey(token.get(), record.AlgType, fid, &key), S_OK) << container;
  return merro::testing::RsaPublicKey(Bytes(key.n, key.n + key.nLen),
                                      Bytes(key.e, key.e + key.eLen));
}

class CspKeys : public CspCryptoApi {
 protected:
  // A new container with a key pair of one specification, and its blob.
  void MakeKey(Provider* p, const char* name, ALG_ID algId, DWORD flags, Key* key, Bytes* blob) {
    if (p->h == 0) {
      const Outcome o = NewContainer(p, name);
      ASSERT_TRUE(o.result) << name << " " << std::hex << o.error;
    }
    const Outcome o = GenKey(p->h, algId, flags, key);
    ASSERT_TRUE(o.result) << name << " " << std::hex << o.error;
    const Export e = ExportKey(key->h, PUBLICKEYBLOB, 512);
    ASSERT_TRUE(e.outcome.result) << name << " " << std::hex << e.outcome.error;
    *blob = e.blob;
  }

  TavrFlag m_flag{true};
};

// Key pairs of each kind through CryptGenKey, with their lengths and
// algorithms as the key parameters tell them, their PUBLICKEYBLOBs of the
// right size and exponent, and the key in each blob the token's own. One
// container at a time: the token reclaims a container without certificates
// when the next one is created.
TEST_F(CspKeys, GeneratedPairsAndTheirPublicKeyBlobs) {
  struct Case {
    ALG_ID algId;
    DWORD flags;
    DWORD keySpec;
    ALG_ID keyAlg;
    DWORD bits;
    DWORD blobSize;
  };
  struct ContainerCase {
    const char* name;
    std::vector<Case> keys;
  } const containers[] = {
      {"rsa1024",
       {{AT_SIGNATURE, 1024u << 16, AT_SIGNATURE, CALG_RSA_SIGN, 1024, 148},
        {AT_KEYEXCHANGE, 0, AT_KEYEXCHANGE, CALG_RSA_KEYX, 1024, 148}}},
      {"rsa2048",
       {{CALG_RSA_SIGN, 2048u << 16, AT_SIGNATURE, CALG_RSA_SIGN, 2048, 276},
        {CALG_RSA_KEYX, 2048u << 16 | CRYPT_EXPORTABLE, AT_KEYEXCHANGE, CALG_RSA_KEYX, 2048, 276}}},
      {"sm2",
       {{CALG_SM2_SIGN, 256u << 16, AT_SIGNATURE, CALG_SM2_SIGN, 256, 140},
        {CALG_SM2_KEYX, 256u << 16, AT_KEYEXCHANGE, CALG_SM2_KEYX, 256, 140}}},
  };
  for (const ContainerCase& container : containers) {
    Provider p;
    const Outcome created = NewContainer(&p, container.name);
    ASSERT_TRUE(created.result) << container.name << " " << std::hex << created.error;
    std::vector<Bytes> blobs;
    for (const Case& c : container.keys) {
      SCOPED_TRACE(std::string(container.name) + " " + std::to_string(c.keySpec));
      Key generated;
      Outcome o = GenKey(p.h, c.algId, c.flags, &generated);
      ASSERT_TRUE(o.result) << std::hex << o.error;
      EXPECT_EQ(o.error, 0u);
      EXPECT_EQ(DwordParam(generated.h, KP_KEYLEN), c.bits);
      EXPECT_EQ(DwordParam(generated.h, KP_ALGID), c.keyAlg);

      // The container's own key of that specification says the same.
      Key user;
      o = GetUserKey(p.h, c.keySpec, &user);
      ASSERT_TRUE(o.result) << std::hex << o.error;
      EXPECT_EQ(o.error, 0u);
      EXPECT_NE(user.h, generated.h);
      EXPECT_EQ(DwordParam(user.h, KP_KEYLEN), c.bits);
      EXPECT_EQ(DwordParam(user.h, KP_ALGID), c.keyAlg);
      EXPECT_EQ(DwordParam(user.h, KP_PERMISSIONS), DWORD{CRYPT_DECRYPT});

      const Export query = ExportKey(user.h, PUBLICKEYBLOB, 0, /*withBuffer=*/false);
      EXPECT_TRUE(query.outcome.result) << std::hex << query.outcome.error;
      EXPECT_EQ(query.length, c.blobSize);
      const Export e = ExportKey(user.h, PUBLICKEYBLOB, 512);
      ASSERT_TRUE(e.outcome.result) << std::hex << e.outcome.error;
      EXPECT_EQ(e.outcome.error, 0u);
      ASSERT_EQ(e.blob.size(), c.blobSize);
      ALG_ID blobAlg = 0;
      std::memcpy(&blobAlg, e.blob.data() + 4, 4);
      EXPECT_EQ(blobAlg, c.keyAlg);
      if (c.keyAlg != CALG_SM2_SIGN && c.keyAlg != CALG_SM2_KEYX) {
        DWORD exponent = 0;
        std::memcpy(&exponent, e.blob.data() + 16, 4);
        EXPECT_EQ(exponent, 65537u);
      }
      // The generated key's handle exports the same blob.
      EXPECT_EQ(ExportKey(generated.h, PUBLICKEYBLOB, 512).blob, e.blob);
      blobs.push_back(e.blob);
    }

    // The keys on the token, read by the token API once the provider is done
    // with the container.
    ASSERT_EQ(blobs.size(), container.keys.size());
    for (size_t i = 0; i < blobs.size(); ++i) {
      SCOPED_TRACE(std::string(container.name) + " " + std::to_string(container.keys[i].keySpec));
      const PkeyPtr fromBlob = KeyFromBlob(blobs[i]);
      const PkeyPtr onToken = TokenPublicKey(container.name, container.keys[i].keySpec);
      ASSERT_TRUE(fromBlob);
      ASSERT_TRUE(onToken);
      EXPECT_EQ(EVP_PKEY_eq(fromBlob.get(), onToken.get()), 1);
      EXPECT_EQ(EVP_PKEY_get_bits(fromBlob.get()), static_cast<int>(container.keys[i].bits));
    }
  }
}

// Requests CryptGenKey turns down, each before the token is asked anything
// (its command log stays empty); and key derivation, which the provider
// does not offer.
TEST_F(CspKeys, GenKeyRefusals) {
  Provider p;
  Outcome o = NewContainer(&p, "refusals");
  ASSERT_TRUE(o.result) << std::hex << o.error;
  Provider silent;
  o = Bounded([&] {
    return ::CryptAcquireContextA(&silent.h, "refusals", kProviderName, PROV_RSA_FULL,
                                  CRYPT_SILENT);
  });
  ASSERT_TRUE(o.result) << std::hex << o.error;

  struct Case {
    const char* what;
    HCRYPTPROV h;
    ALG_ID algId;
    DWORD flags;
    DWORD code;
  } const cases[] = {
      {"512 bits", p.h, AT_SIGNATURE, 512u << 16, ERROR_INVALID_PARAMETER},
      {"CRYPT_CREATE_IV", p.h, AT_SIGNATURE, CRYPT_CREATE_IV, Code(NTE_BAD_FLAGS)},
      {"CRYPT_VOLATILE", p.h, CALG_SM2_SIGN, 256u << 16 | CRYPT_VOLATILE, Code(NTE_BAD_FLAGS)},
      {"user protected, silent", silent.h, AT_SIGNATURE, CRYPT_USER_PROTECTED,
       Code(NTE_SILENT_CONTEXT)},
  };
  DeviceBench::CommandLog(0, /*clear=*/true);
  for (const Case& c : cases) {
    Key key;
    o = GenKey(c.h, c.algId, c.flags, &key);
    EXPECT_FALSE(o.result) << c.what;
    EXPECT_EQ(o.error, c.code) << c.what;
    EXPECT_EQ(key.h, 0u) << c.what;
  }
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty());

  // Without the refused flags the same container takes the key, silently.
  Key key;
  o = GenKey(silent.h, AT_SIGNATURE, 0, &key);
  EXPECT_TRUE(o.result) << std::hex << o.error;
  EXPECT_EQ(DwordParam(key.h, KP_KEYLEN), 1024u);
}

// What CryptExportKey refuses, and the size rule of a PUBLICKEYBLOB: a
// buffer one byte short is told the size, with ERROR_MORE_DATA.
TEST_F(CspKeys, ExportRefusalsAndTheBlobSize) {
  Provider p;
  Key key;
  Bytes blob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "export", CALG_SM2_SIGN, 256u << 16, &key, &blob));
  Key other;
  Outcome o = GetUserKey(p.h, AT_SIGNATURE, &other);
  ASSERT_TRUE(o.result) << std::hex << o.error;

  Export e = ExportKey(key.h, PUBLICKEYBLOB, 139);
  EXPECT_FALSE(e.outcome.result);
  EXPECT_EQ(e.outcome.error, DWORD{ERROR_MORE_DATA});
  EXPECT_EQ(e.length, 140u);
  e = ExportKey(key.h, PUBLICKEYBLOB, 140);
  EXPECT_TRUE(e.outcome.result);
  EXPECT_EQ(e.outcome.error, 0u);
  EXPECT_EQ(e.length, 140u);

  struct Case {
    const char* what;
    DWORD blobType;
    HCRYPTKEY hPubKey;
    DWORD code;
  } const cases[] = {
      {"SIMPLEBLOB", SIMPLEBLOB, 0, Code(NTE_BAD_TYPE)},
      {"PRIVATEKEYBLOB", PRIVATEKEYBLOB, 0, Code(NTE_NOT_SUPPORTED)},
      {"with an exporting key", PUBLICKEYBLOB, other.h, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    e = ExportKey(key.h, c.blobType, 512, true, c.hPubKey);
    EXPECT_FALSE(e.outcome.result) << c.what;
    EXPECT_EQ(e.outcome.error, c.code) << c.what;
    EXPECT_EQ(e.length, 0u) << c.what;
  }

  // A container without an exchange key has no such user key.
  Key missing;
  o = GetUserKey(p.h, AT_KEYEXCHANGE, &missing);
  EXPECT_FALSE(o.result);
  EXPECT_NE(o.error, 0u);
  EXPECT_EQ(missing.h, 0u);
}

// A copy of a container key names the same pair and outlives the original;
// key derivation is not offered, whatever the base hash.
TEST_F(CspKeys, DuplicatedKeysAndDerivation) {
  Provider p;
  Key key;
  Bytes blob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "copies", AT_KEYEXCHANGE, 2048u << 16, &key, &blob));

  Key copy;
  Outcome o = Bounded([&] { return ::CryptDuplicateKey(key.h, nullptr, 0, &copy.h); });
  ASSERT_TRUE(o.result) << std::hex << o.error;
  EXPECT_EQ(o.error, 0u);
  ASSERT_TRUE(::CryptDestroyKey(key.h));
  key.h = 0;
  EXPECT_EQ(DwordParam(copy.h, KP_KEYLEN), 2048u);
  EXPECT_EQ(DwordParam(copy.h, KP_ALGID), ALG_ID{CALG_RSA_KEYX});
  EXPECT_EQ(ExportKey(copy.h, PUBLICKEYBLOB, 512).blob, blob);

  // advapi32 hands the provider any hash; a hash of the platform's own
  // provider does.
  HCRYPTPROV platform = 0;
  ASSERT_TRUE(::CryptAcquireContextW(&platform, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(::CryptCreateHash(platform, CALG_SHA1, 0, 0, &hash));
  Key derived;
  o = Bounded([&] { return ::CryptDeriveKey(p.h, CALG_RC4, hash, 0, &derived.h); });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, Code(NTE_NOT_SUPPORTED));
  ::CryptDestroyHash(hash);
  ::CryptReleaseContext(platform, 0);
}

// ---- KP_CERTIFICATE ----

using merro::provider::StoreLocation;
using merro::testing::CertBytes;

Outcome SetCertificate(HCRYPTKEY h, const CertBytes& der) {
  return Bounded([&] { return ::CryptSetKeyParam(h, KP_CERTIFICATE, der.data(), 0); });
}

// KP_CERTIFICATE as the key reads it from the token; empty when it fails.
CertBytes ReadCertificate(HCRYPTKEY h) {
  DWORD length = 0;
  if (!::CryptGetKeyParam(h, KP_CERTIFICATE, nullptr, &length, 0)) {
    return {};
  }
  CertBytes der(length);
  if (!::CryptGetKeyParam(h, KP_CERTIFICATE, der.data(), &length, 0)) {
    return {};
  }
  der.resize(length);
  return der;
}

struct StoreEntry {
  CertBytes der;
  merro::provider::StoreEntryInfo info;
};

// The current user's "MY" entries that name the provider.
std::vector<StoreEntry> ProviderEntries() {
  merro::provider::CertContextList found;
  EXPECT_EQ(merro::provider::FindProviderEntries(StoreLocation::CurrentUser,
                                                 merro::provider::kProviderName, &found),
            S_OK);
  std::vector<StoreEntry> entries;
  for (const auto& cert : found) {
    StoreEntry entry;
    entry.der.assign(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
    EXPECT_EQ(merro::provider::ReadStoreEntryInfo(cert.Get(), &entry.info), S_OK);
    entries.push_back(entry);
  }
  return entries;
}

void RemoveProviderEntries() {
  for (const StoreEntry& entry : ProviderEntries()) {
    merro::provider::DeleteEntry(StoreLocation::CurrentUser, entry.der.data(),
                                 static_cast<DWORD>(entry.der.size()));
  }
}

// %APPDATA%\Tolvane\Merro\sm2browser.spt, present while the object lives.
class Sm2BrowserMarker {
 public:
  Sm2BrowserMarker() {
    std::wstring path;
    EXPECT_EQ(merro::provider::Sm2BrowserMarkerPath(&path), S_OK);
    m_path = path;
    std::error_code ignored;
    std::filesystem::create_directories(m_path.parent_path(), ignored);
    std::ofstream(m_path) << "";
  }
  ~Sm2BrowserMarker() {
    std::error_code ignored;
    std::filesystem::remove(m_path, ignored);
  }
  Sm2BrowserMarker(const Sm2BrowserMarker&) = delete;
  Sm2BrowserMarker& operator=(const Sm2BrowserMarker&) = delete;

 private:
  std::filesystem::path m_path;
};

// Certificates written through the keys, with no certificate manager
// running: the store entries the provider writes itself are removed before
// and after each test.
class CspKeyCertificates : public CspKeys {
 protected:
  void SetUp() override {
    CspKeys::SetUp();
    RemoveProviderEntries();
  }
  void TearDown() override {
    RemoveProviderEntries();
    CspKeys::TearDown();
  }
};

// The certificate of the key's own pair is written to the token, reads back
// equal and is entered in "MY" for the provider and container; another
// key's certificate is refused and written nowhere.
TEST_F(CspKeyCertificates, TheKeysCertificateReadsBackAndIsEntered) {
  Provider p;
  Key key;
  Bytes blob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "cert-a", AT_SIGNATURE, 1024u << 16, &key, &blob));

  const CertBytes foreign = CertificateFor(blob, /*otherKey=*/true);
  ASSERT_FALSE(foreign.empty());
  Outcome o = SetCertificate(key.h, foreign);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, Code(NTE_BAD_DATA));
  EXPECT_TRUE(ReadCertificate(key.h).empty());
  EXPECT_TRUE(ProviderEntries().empty());

  const CertBytes own = CertificateFor(blob);
  ASSERT_FALSE(own.empty());
  o = SetCertificate(key.h, own);
  ASSERT_TRUE(o.result) << std::hex << o.error;
  EXPECT_EQ(o.error, 0u);
  EXPECT_EQ(ReadCertificate(key.h), own);
  Key user;
  ASSERT_TRUE(GetUserKey(p.h, AT_SIGNATURE, &user).result);
  EXPECT_EQ(ReadCertificate(user.h), own);

  const std::vector<StoreEntry> entries = ProviderEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].der, own);
  EXPECT_EQ(entries[0].info.wstrContainerName, L"cert-a");
  EXPECT_EQ(entries[0].info.wstrProviderName, merro::provider::kProviderName);
  EXPECT_EQ(entries[0].info.dwProvType, DWORD{PROV_RSA_FULL});
  EXPECT_EQ(entries[0].info.dwFlags, 0u);
  EXPECT_EQ(entries[0].info.dwKeySpec, DWORD{AT_SIGNATURE});
}

// Every key parameter answers a short buffer the way callers retry on:
// ERROR_MORE_DATA with the needed length, the buffer untouched; the full
// buffer then reads the value.
TEST_F(CspKeyCertificates, AShortBufferIsToldTheNeededLength) {
  Provider p;
  Key key;
  Bytes blob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "short", AT_SIGNATURE, 1024u << 16, &key, &blob));
  const CertBytes own = CertificateFor(blob);
  ASSERT_FALSE(own.empty());
  ASSERT_TRUE(SetCertificate(key.h, own).result);

  struct Case {
    DWORD param;
    Bytes value;
  } const cases[] = {
      {KP_ALGID, {0x00, 0x24, 0x00, 0x00}},
      {KP_KEYLEN, {0x00, 0x04, 0x00, 0x00}},
      {KP_PERMISSIONS, {CRYPT_DECRYPT, 0x00, 0x00, 0x00}},
      {KP_BLOCKLEN, {0x00, 0x04, 0x00, 0x00}},
      {KP_CERTIFICATE, Bytes(own.begin(), own.end())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param);
    const DWORD needed = static_cast<DWORD>(c.value.size());
    Bytes buffer(needed, 0xCC);
    DWORD length = needed - 1;
    Outcome o =
        Bounded([&] { return ::CryptGetKeyParam(key.h, c.param, buffer.data(), &length, 0); });
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.error, DWORD{ERROR_MORE_DATA});
    EXPECT_EQ(length, needed);
    EXPECT_EQ(buffer, Bytes(needed, 0xCC));
    o = Bounded([&] { return ::CryptGetKeyParam(key.h, c.param, buffer.data(), &length, 0); });
    EXPECT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(buffer, c.value);
  }
}

// The certificate that completes an RSA container (its exchange pair and
// certificate, nothing else) deletes the other RSA containers of the token;
// SM2 containers stay. Each container is completed in turn, so that no
// creation reclaims an unfinished one; a verification context keeps the
// library loaded between them.
TEST_F(CspKeyCertificates, CompletingAnRsaContainerDeletesTheOtherRsaContainers) {
  Provider keeper;
  ASSERT_TRUE(AcquireInto(&keeper, nullptr, CRYPT_VERIFYCONTEXT).result);
  const auto complete = [this](const char* name, ALG_ID algId, DWORD flags) {
    Provider p;
    Key key;
    Bytes blob;
    MakeKey(&p, name, algId, flags, &key, &blob);
    if (::testing::Test::HasFatalFailure()) {
      return CertBytes{};
    }
    const CertBytes cert = CertificateFor(blob);
    const Outcome o = SetCertificate(key.h, cert);
    EXPECT_TRUE(o.result) << name << " " << std::hex << o.error;
    EXPECT_EQ(ReadCertificate(key.h), cert) << name;
    return cert;
  };
  complete("rsa-b", CALG_RSA_KEYX, 2048u << 16);
  complete("sm2-c", CALG_SM2_KEYX, 256u << 16);
  ASSERT_FALSE(HasFailure());
  std::vector<std::string> names = EnumContainers(keeper.h);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names, (std::vector<std::string>{"rsa-b", "sm2-c"}));

  complete("complete-a", AT_KEYEXCHANGE, 1024u << 16);
  names = EnumContainers(keeper.h);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"complete-a", "sm2-c"}));
}

// A container complete with its exchange pair and certificate takes no
// further pair: refused before the PIN is verified or anything else is
// sent, and its key stays.
TEST_F(CspKeyCertificates, ACompleteContainerRefusesAnotherPairBeforeThePin) {
  Provider p;
  Key key;
  Bytes blob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "complete", AT_KEYEXCHANGE, 1024u << 16, &key, &blob));
  ASSERT_TRUE(SetCertificate(key.h, CertificateFor(blob)).result);
  DeviceBench::CommandLog(0, /*clear=*/true);
  for (const ALG_ID algId : {ALG_ID{AT_SIGNATURE}, ALG_ID{AT_KEYEXCHANGE}}) {
    Key refused;
    const Outcome o = GenKey(p.h, algId, 1024u << 16, &refused);
    EXPECT_FALSE(o.result) << algId;
    EXPECT_EQ(o.error, Code(NTE_BAD_KEY_STATE)) << algId;
    EXPECT_EQ(refused.h, 0u) << algId;
  }
  EXPECT_EQ(DeviceBench::CommandLog(0, /*clear=*/true), std::vector<BYTE>{});
  EXPECT_EQ(ExportKey(key.h, PUBLICKEYBLOB, 512).blob, blob);
}

// An SM2 certificate goes to the token always, and into "MY" only while the
// marker file says the browser takes SM2 certificates.
TEST_F(CspKeyCertificates, Sm2CertificatesAreEnteredOnlyWithTheMarker) {
  Provider p;
  Key sign;
  Bytes signBlob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "sm2-cert", CALG_SM2_SIGN, 256u << 16, &sign, &signBlob));
  const CertBytes signCert = CertificateFor(signBlob);
  Outcome o = SetCertificate(sign.h, signCert);
  ASSERT_TRUE(o.result) << std::hex << o.error;
  EXPECT_EQ(ReadCertificate(sign.h), signCert);
  EXPECT_TRUE(ProviderEntries().empty());

  Sm2BrowserMarker marker;
  Key exch;
  Bytes exchBlob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "sm2-cert", CALG_SM2_KEYX, 256u << 16, &exch, &exchBlob));
  const CertBytes exchCert = CertificateFor(exchBlob);
  o = SetCertificate(exch.h, exchCert);
  ASSERT_TRUE(o.result) << std::hex << o.error;
  EXPECT_EQ(ReadCertificate(exch.h), exchCert);
  const std::vector<StoreEntry> entries = ProviderEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].der, exchCert);
  EXPECT_EQ(entries[0].info.wstrContainerName, L"sm2-cert");
  EXPECT_EQ(entries[0].info.dwKeySpec, DWORD{AT_KEYEXCHANGE});
}

// MerroCertManager.exe as Windows programs see it (the build tree is on Z:).
std::string ManagerPath() {
  std::string path = "Z:";
  for (const char* p = MERRO_CERTMANAGER_PATH; *p != '\0'; ++p) {
    path += *p == '/' ? '\\' : *p;
  }
  return path;
}

// Polls for up to ten seconds; whether the condition came true.
bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 200; ++i) {
    if (condition()) {
      return true;
    }
    ::Sleep(50);
  }
  return condition();
}

bool ManagerRuns() {
  const HANDLE instance =
      ::OpenEventW(READ_CONTROL, FALSE, merro::provider::g_wszInstanceEventName);
  if (instance == nullptr) {
    return false;
  }
  ::CloseHandle(instance);
  return merro::simplug::FindManagerMainDialog() != nullptr;
}

// With the certificate manager running in another process, the import
// tells it and waits for its answer instead of writing the store itself:
// the manager refreshes and answers within its one-second look, so the call
// returns before the wait it may sit out (a call that gave up waiting took
// at least that long), with the entry that the manager wrote. The manager is ended by its handle; the fixture removes
// the entries it left.
TEST_F(CspKeyCertificates, ARunningManagerAnswersTheImport) {
  Provider p;
  Key key;
  Bytes blob;
  ASSERT_NO_FATAL_FAILURE(MakeKey(&p, "managed", AT_KEYEXCHANGE, 1024u << 16, &key, &blob));
  const CertBytes cert = CertificateFor(blob);

  merro::testing::ChildProcess manager = merro::testing::ChildProcess::Start(ManagerPath(), {});
  ASSERT_TRUE(manager.Started());
  const bool up = WaitFor(ManagerRuns);
  EXPECT_TRUE(up) << "the manager did not come up";
  if (up) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = SetCertificate(key.h, cert);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_TRUE(o.result) << std::hex << o.error;
    EXPECT_LT(ms, merro::provider::kManagerAnswerWaitMs) << "the import gave up waiting for the manager";
    EXPECT_EQ(ReadCertificate(key.h), cert);
    bool entered = false;
    for (const StoreEntry& entry : ProviderEntries()) {
      entered = entered || (entry.der == cert && entry.info.wstrContainerName == L"managed" &&
                            entry.info.dwKeySpec == AT_KEYEXCHANGE);
    }
    EXPECT_TRUE(entered);
  }

  manager.Kill();
  manager.Join();
}

}  // namespace
