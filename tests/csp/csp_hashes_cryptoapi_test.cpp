// Hashes, signatures and verification as CryptoAPI programs reach them:
// merrocsp.dll registered in the prefix and loaded by advapi32, one token
// in the simulator as a bank hands it out (factory PIN never changed,
// C:\windows\TAVR.flag present, so no PIN is asked), OpenSSL judging what
// the token signed and what crypt32 made of it.
//
// The containers are made once per program and their provider handles stay
// open throughout: advapi32 unloads the provider at the last release, and
// with it the PIN it keeps.
#include <openssl/evp.h>

#include "tests/csp/cryptoapi_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/csp/cms_oracle.h"
#include "tests/csp/private_key_commands.h"
#include "tests/csp/public_key_blob_oracle.h"
#include "tests/support/child_process.h"
#include "tests/support/test_certificates.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace {

using merro::testing::Bytes;
using merro::testing::Reversed;
using merro::testing::CallWithin;
using merro::testing::ChildProcess;
using merro::testing::DeviceBench;
using merro::testing::Outcome;
using merro::testing::PkeyPtr;
using namespace merro::testing::csp;

constexpr DWORD Code(HRESULT h) { return static_cast<DWORD>(h); }

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The transaction message of the bank's format that the token shows.
const std::string kTavrMessage = "<SignData><KeyType>1</KeyType><Fields>x</Fields></SignData>";
const Bytes kOtherData = ToBytes("Not a transaction message: signed as its hash value");

using Hash = ScopedHash;
using Key = ScopedKey;

template <class F>
Outcome Recorded(F call) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = call();
  return {ok, ::GetLastError()};
}

// A kind of signing container: its signature key and the hash it signs.
struct KeyKind {
  const char* what;
  ALG_ID keyAlg;
  DWORD keyBits;
  ALG_ID hashAlg;
  DWORD sigLen;
};
const KeyKind kRsa1024{"rsa1024", AT_SIGNATURE, 1024, CALG_SHA1, 128};
const KeyKind kRsa2048{"rsa2048", AT_SIGNATURE, 2048, CALG_SHA1, 256};
const KeyKind kSm2{"sm2", CALG_SM2_SIGN, 256, CALG_SM3, 64};

// A new container with its signature key, its provider handle open, and
// the key's PUBLICKEYBLOB.
struct SigningContainer {
  KeyKind kind;
  std::string name;
  Provider provider;
  Bytes publicBlob;
  PkeyPtr publicKey;
};

// The current user's "MY" entry of a certificate, removed from the store
// when the object goes.
class MyEntry {
 public:
  explicit MyEntry(const Bytes& der) {
    m_store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (m_store != nullptr && wanted != nullptr) {
      m_cert = ::CertFindCertificateInStore(m_store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                            CERT_FIND_EXISTING, wanted, nullptr);
    }
    if (wanted != nullptr) {
      ::CertFreeCertificateContext(wanted);
    }
  }
  ~MyEntry() {
    if (m_cert != nullptr) {
      ::CertDeleteCertificateFromStore(::CertDuplicateCertificateContext(m_cert));
      ::CertFreeCertificateContext(m_cert);
    }
    if (m_store != nullptr) {
      ::CertCloseStore(m_store, 0);
    }
  }
  MyEntry(const MyEntry&) = delete;
  MyEntry& operator=(const MyEntry&) = delete;
  PCCERT_CONTEXT Get() const { return m_cert; }

 private:
  HCERTSTORE m_store = nullptr;
  PCCERT_CONTEXT m_cert = nullptr;
};

class CspSigning : public ::testing::Test {
 public:
  // The token as the bank hands it out, and one provider handle that keeps
  // the library loaded for the whole program.
  static void SetUpTestSuite() {
    s_flag = std::make_unique<TavrFlag>(true);
    DeviceBench::Insert(0);
    if (!DeviceBench::Prepare(0)) {
      return;
    }
    s_loaded = std::make_unique<Provider>();
    const Outcome o = AcquireInto(s_loaded.get(), nullptr, CRYPT_VERIFYCONTEXT);
    s_ready = o.result != FALSE;
  }
  static void TearDownTestSuite() {
    s_loaded.reset();
    s_flag.reset();
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(s_ready) << "no provider handle for the program";
    DeviceBench::Control("display 0 clear");
    DeviceBench::Control("button 0 clear");
    DeviceBench::CommandLog(0, /*clear=*/true);
  }
  void TearDown() override { DeviceBench::Control("button 0 clear"); }

  // Creates the container and its key pair and reads the public key. The
  // token keeps one unfinished container at a time: the next creation
  // reclaims this one. With the marker file the factory PIN stands in for
  // the prompt, so the calls return on their own.
  static void MakeContainer(const KeyKind& kind, SigningContainer* c) {
    c->kind = kind;
    c->name = merro::testing::UniqueName(kind.what);
    const Outcome created = CallWithin(std::chrono::seconds(120), [c] {
      const Outcome o = AcquireInto(&c->provider, c->name.c_str(), CRYPT_NEWKEYSET);
      ::SetLastError(o.error);
      return o.result;
    });
    ASSERT_TRUE(created.result) << kind.what << ": acquire 0x" << std::hex << created.error;
    Key key;
    const Outcome generated = CallWithin(std::chrono::seconds(120), [&] {
      return ::CryptGenKey(c->provider.h, kind.keyAlg, kind.keyBits << 16, &key.h);
    });
    ASSERT_TRUE(generated.result) << kind.what << ": CryptGenKey 0x" << std::hex << generated.error;
    DWORD length = 0;
    ASSERT_TRUE(::CryptExportKey(key.h, 0, PUBLICKEYBLOB, 0, nullptr, &length));
    c->publicBlob.resize(length);
    ASSERT_TRUE(::CryptExportKey(key.h, 0, PUBLICKEYBLOB, 0, c->publicBlob.data(), &length));
    c->publicKey = KeyFromBlob(c->publicBlob);
    ASSERT_TRUE(c->publicKey) << kind.what << ": no public key in the blob";
  }

  // A hash of the provider handle over data (checked).
  static void HashOver(HCRYPTPROV hProv, ALG_ID alg, const Bytes& data, Hash* pHash) {
    ASSERT_TRUE(::CryptCreateHash(hProv, alg, 0, 0, &pHash->h)) << std::hex << ::GetLastError();
    ASSERT_TRUE(::CryptHashData(pHash->h, data.data(), static_cast<DWORD>(data.size()), 0))
        << std::hex << ::GetLastError();
  }
  // Bounded: a PIN dialog that should not have come would otherwise wait.
  static Outcome Sign(HCRYPTHASH h, BYTE* signature, DWORD* length) {
    return CallWithin(std::chrono::seconds(90), [&] {
      ::SetLastError(0xdeadbeef);
      return ::CryptSignHashW(h, AT_SIGNATURE, nullptr, 0, signature, length);
    });
  }
  static bool Verifies(const SigningContainer& c, ALG_ID hashAlg, const Bytes& data,
                       const Bytes& signature) {
    if (c.kind.keyAlg == CALG_SM2_SIGN) {
      if (signature.size() != 64) {
        return false;
      }
      // r and s each come least significant byte first.
      Bytes rs = Reversed(Bytes(signature.begin(), signature.begin() + 32));
      const Bytes s = Reversed(Bytes(signature.begin() + 32, signature.end()));
      rs.insert(rs.end(), s.begin(), s.end());
      return merro::testing::Sm2VerifyMessage(c.publicKey.get(), data, rs);
    }
    const EVP_MD* md = hashAlg == CALG_SHA1 ? EVP_sha1() : EVP_sha256();
    return merro::testing::RsaVerifyDigest(c.publicKey.get(), md, merro::testing::Digest(md, data),
                                           Reversed(signature));
  }
  static std::string Display() { return DeviceBench::Control("display 0"); }

  static std::unique_ptr<TavrFlag> s_flag;
  static std::unique_ptr<Provider> s_loaded;
  static bool s_ready;
};

std::unique_ptr<TavrFlag> CspSigning::s_flag;
std::unique_ptr<Provider> CspSigning::s_loaded;
bool CspSigning::s_ready = false;

// Each key signs other data as its hash value (RSA over SHA-1, SM2 over
// SM3) and OpenSSL accepts it under the exported public key. The length is
// asked first, and a buffer too small gets it back with ERROR_MORE_DATA,
// neither with a private-key command. CryptVerifySignature accepts the
// signature twice from one buffer, refuses a flipped byte or a wrong
// length, and asks no PIN.
TEST_F(CspSigning, KeysSignAndVerify) {
  for (const KeyKind& kind : {kRsa1024, kRsa2048, kSm2}) {
    SCOPED_TRACE(kind.what);
    auto c = std::make_unique<SigningContainer>();
    MakeContainer(kind, c.get());
    ASSERT_FALSE(HasFatalFailure());
    Hash hash;
    HashOver(c->provider.h, c->kind.hashAlg, kOtherData, &hash);
    DeviceBench::CommandLog(0, true);
    DWORD length = 0;
    Outcome o = Sign(hash.h, nullptr, &length);
    EXPECT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
    EXPECT_EQ(length, c->kind.sigLen);
    Bytes small(16, 0xAB);
    length = 16;
    o = Sign(hash.h, small.data(), &length);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(length, c->kind.sigLen);
    EXPECT_EQ(small, Bytes(16, 0xAB));
    EXPECT_FALSE(SentPrivateKeyCommand(DeviceBench::CommandLog(0, true)));

    Bytes signature(c->kind.sigLen);
    length = c->kind.sigLen;
    o = Sign(hash.h, signature.data(), &length);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
    ASSERT_EQ(length, c->kind.sigLen);
    EXPECT_TRUE(Verifies(*c, c->kind.hashAlg, kOtherData, signature));
    EXPECT_EQ(Display(), "");

    Key key;
    ASSERT_TRUE(::CryptGetUserKey(c->provider.h, AT_SIGNATURE, &key.h)) << std::hex << ::GetLastError();
    DeviceBench::CommandLog(0, true);
    const Bytes kept = signature;
    for (int i = 0; i < 2; ++i) {
      Hash check;
      HashOver(c->provider.h, c->kind.hashAlg, kOtherData, &check);
      o = Recorded([&] {
        return ::CryptVerifySignatureW(check.h, signature.data(), length, key.h, nullptr, 0);
      });
      EXPECT_TRUE(o.result) << i << std::hex << " 0x" << o.error;
      EXPECT_EQ(signature, kept);
    }
    Bytes flipped = signature;
    flipped[3] ^= 0x01;
    struct Refusal {
      const char* what;
      const BYTE* data;
      DWORD length;
      DWORD code;  // 0: any failure
    } const refusals[] = {
        {"flipped byte", flipped.data(), length, 0},
        {"one byte short", signature.data(), length - 1, Code(NTE_BAD_SIGNATURE)},
        {"no bytes", signature.data(), 0, ERROR_INVALID_PARAMETER},
    };
    for (const Refusal& r : refusals) {
      Hash check;
      HashOver(c->provider.h, c->kind.hashAlg, kOtherData, &check);
      o = Recorded([&] {
        return ::CryptVerifySignatureW(check.h, r.data, r.length, key.h, nullptr, 0);
      });
      EXPECT_FALSE(o.result) << r.what;
      if (r.code != 0) {
        EXPECT_EQ(o.error, r.code) << r.what;
      }
    }
    EXPECT_FALSE(SentPinVerification(DeviceBench::CommandLog(0, true)));
  }
}

// A key pair of the other algorithm family is refused before the token is
// asked anything: the token's record has one algorithm for both slots, so
// making that pair would destroy the keys the container holds. The call
// fails with NTE_BAD_KEY, and the container's key is still its own and
// signs.
TEST_F(CspSigning, AKeyOfTheOtherFamilyIsRefusedAndTheHeldKeyStays) {
  struct Case {
    const KeyKind* held;
    ALG_ID heldAlg;
    std::vector<std::pair<ALG_ID, DWORD>> refused;  // ALG_ID, flags
  } const cases[] = {
      {&kRsa1024, CALG_RSA_SIGN, {{CALG_SM2_SIGN, 256u << 16}, {CALG_SM2_KEYX, 0}}},
      {&kSm2,
       CALG_SM2_SIGN,
       {{AT_SIGNATURE, 0}, {AT_KEYEXCHANGE, 1024u << 16}, {CALG_RSA_SIGN, 2048u << 16}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held->what);
    auto container = std::make_unique<SigningContainer>();
    MakeContainer(*c.held, container.get());
    ASSERT_FALSE(HasFatalFailure());
    const HCRYPTPROV h = container->provider.h;
    DeviceBench::CommandLog(0, true);
    for (const auto& [algId, flags] : c.refused) {
      Key key;
      const Outcome o = CallWithin(std::chrono::seconds(90), [&] {
        ::SetLastError(0xdeadbeef);
        return ::CryptGenKey(h, algId, flags, &key.h);
      });
      EXPECT_FALSE(o.result) << std::hex << algId;
      EXPECT_EQ(o.error, Code(NTE_BAD_KEY)) << std::hex << algId;
      EXPECT_EQ(key.h, 0u) << std::hex << algId;
    }
    // Not a command: no generation, no record write, not even the PIN.
    EXPECT_EQ(DeviceBench::CommandLog(0, true), std::vector<BYTE>{});

    Key user;
    ASSERT_TRUE(::CryptGetUserKey(h, AT_SIGNATURE, &user.h)) << std::hex << ::GetLastError();
    DWORD algId = 0;
    DWORD length = sizeof algId;
    ASSERT_TRUE(::CryptGetKeyParam(user.h, KP_ALGID, reinterpret_cast<BYTE*>(&algId), &length, 0));
    EXPECT_EQ(algId, c.heldAlg);
    DWORD bits = 0;
    length = sizeof bits;
    ASSERT_TRUE(::CryptGetKeyParam(user.h, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &length, 0));
    EXPECT_EQ(bits, c.held->keyBits);

    Hash hash;
    HashOver(h, c.held->hashAlg, kOtherData, &hash);
    Bytes signature(c.held->sigLen);
    length = c.held->sigLen;
    const Outcome o = Sign(hash.h, signature.data(), &length);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_TRUE(Verifies(*container, c.held->hashAlg, kOtherData, signature));
  }
}

// The bank's transaction message: SHA-256 sends it to the token, which
// shows it and signs after its OK button (C and no answer both cancel);
// SHA-1 signs it as a hash value without the display; MD5 is refused before
// anything is asked. Other data is never signed over SHA-256.
TEST_F(CspSigning, TheTransactionMessageRules) {
  const Bytes message = ToBytes(kTavrMessage);
  struct Case {
    const char* what;
    ALG_ID hash;
    const Bytes* data;
    const char* button;  // null: none queued (an unexpected confirmation is C)
    DWORD code;
    bool shown;
  } const cases[] = {
      {"SHA-256, OK", CALG_SHA_256, &message, "ok", 0, true},
      {"SHA-256, C", CALG_SHA_256, &message, "cancel", Code(SCARD_W_CANCELLED_BY_USER), true},
      {"SHA-256, no answer", CALG_SHA_256, &message, "timeout", Code(SCARD_W_CANCELLED_BY_USER),
       true},
      {"SHA-1", CALG_SHA1, &message, nullptr, 0, false},
      {"MD5", CALG_MD5, &message, nullptr, Code(NTE_BAD_HASH), false},
      {"other data, SHA-256", CALG_SHA_256, &kOtherData, nullptr, Code(NTE_BAD_HASH), false},
  };
  SigningContainer rsa;
  MakeContainer(kRsa2048, &rsa);
  ASSERT_FALSE(HasFatalFailure());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceBench::Control("display 0 clear");
    DeviceBench::Control("button 0 clear");
    if (c.button != nullptr) {
      DeviceBench::Control(std::string("button 0 ") + c.button + " after 2");
    }
    Hash hash;
    HashOver(rsa.provider.h, c.hash, *c.data, &hash);
    DeviceBench::CommandLog(0, true);
    Bytes signature(256, 0xAB);
    DWORD length = 256;
    const Outcome o = Sign(hash.h, signature.data(), &length);
    EXPECT_EQ(o.result, c.code == 0 ? TRUE : FALSE);
    EXPECT_EQ(o.error, c.code) << std::hex << o.error;
    EXPECT_EQ(Display(), c.shown ? kTavrMessage + "\n" : "");
    if (c.code == 0) {
      EXPECT_EQ(length, 256u);
      EXPECT_TRUE(Verifies(rsa, c.hash, *c.data, signature));
    } else {
      EXPECT_EQ(signature, Bytes(256, 0xAB));
    }
    if (c.code == Code(NTE_BAD_HASH)) {
      // Refused before any PIN or private-key command.
      EXPECT_FALSE(SentPrivateKeyCommand(DeviceBench::CommandLog(0)));
    }
  }
}

// Verification contexts released while an SM3 hash of a signing handle is
// in flight: a release sends the token nothing (no token is reopened or
// reset), and the hash still signs.
TEST_F(CspSigning, ReleasingAVerificationContextLeavesOtherHandlesWorking) {
  SigningContainer sm2;
  MakeContainer(kSm2, &sm2);
  ASSERT_FALSE(HasFatalFailure());
  Hash hash;
  HashOver(sm2.provider.h, CALG_SM3, kOtherData, &hash);
  for (int i = 0; i < 2; ++i) {
    auto verify = std::make_unique<Provider>();
    const Outcome acquired = AcquireInto(verify.get(), nullptr, CRYPT_VERIFYCONTEXT);
    ASSERT_TRUE(acquired.result) << std::hex << acquired.error;
    DeviceBench::CommandLog(0, true);
    verify.reset();
    EXPECT_TRUE(DeviceBench::CommandLog(0, true).empty()) << "the release reached the token";
  }
  Bytes signature(kSm2.sigLen);
  DWORD length = kSm2.sigLen;
  const Outcome o = Sign(hash.h, signature.data(), &length);
  ASSERT_TRUE(o.result) << std::hex << o.error;
  EXPECT_TRUE(Verifies(sm2, CALG_SM3, kOtherData, signature));
}

// The hash parameters through advapi32; a duplicate of an unfinished SHA-1
// hash and its source both end with OpenSSL's digest of what each was given;
// a key of another provider handle verifies nothing.
TEST_F(CspSigning, HashParametersAndDuplicates) {
  // Every hash needs a container with a key on its token; a second handle
  // on the same container is another provider handle.
  SigningContainer sm2;
  MakeContainer(kSm2, &sm2);
  ASSERT_FALSE(HasFatalFailure());
  Provider second;
  ASSERT_TRUE(AcquireInto(&second, sm2.name.c_str(), 0).result);
  struct Size {
    ALG_ID alg;
    DWORD size;
  } const sizes[] = {{CALG_SHA1, 20}, {CALG_SHA_256, 32}, {CALG_SM3, 32}, {CALG_MD5, 16},
                     {CALG_SSL3_SHAMD5, 36}};
  for (const Size& s : sizes) {
    Hash hash;
    ASSERT_TRUE(::CryptCreateHash(sm2.provider.h, s.alg, 0, 0, &hash.h)) << s.alg;
    DWORD value = 0;
    DWORD length = sizeof value;
    EXPECT_TRUE(::CryptGetHashParam(hash.h, HP_HASHSIZE, reinterpret_cast<BYTE*>(&value), &length, 0));
    EXPECT_EQ(value, s.size) << s.alg;
  }

  const Bytes first = ToBytes("the first part; ");
  const Bytes more = ToBytes("the rest");
  Bytes both = first;
  both.insert(both.end(), more.begin(), more.end());
  Hash source;
  HashOver(sm2.provider.h, CALG_SHA1, first, &source);
  // Zero bytes are refused and the hash stays open.
  Outcome o = Recorded([&] { return ::CryptHashData(source.h, first.data(), 0, 0); });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  Hash copy;
  ASSERT_TRUE(::CryptDuplicateHash(source.h, nullptr, 0, &copy.h)) << std::hex << ::GetLastError();
  ASSERT_TRUE(::CryptHashData(source.h, more.data(), static_cast<DWORD>(more.size()), 0));
  const auto value = [](HCRYPTHASH h) {
    Bytes v(64);
    DWORD length = static_cast<DWORD>(v.size());
    EXPECT_TRUE(::CryptGetHashParam(h, HP_HASHVAL, v.data(), &length, 0)) << std::hex << ::GetLastError();
    v.resize(length);
    return v;
  };
  EXPECT_EQ(value(source.h), merro::testing::Digest(EVP_sha1(), both));
  EXPECT_EQ(value(copy.h), merro::testing::Digest(EVP_sha1(), first));

  // HP_HASHVAL one byte short: 87, the length as given, the hash finished.
  Hash shortHash;
  HashOver(sm2.provider.h, CALG_SHA1, first, &shortHash);
  Bytes buffer(19, 0xEE);
  DWORD length = 19;
  o = Recorded([&] { return ::CryptGetHashParam(shortHash.h, HP_HASHVAL, buffer.data(), &length, 0); });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(length, 19u);
  o = Recorded([&] { return ::CryptHashData(shortHash.h, first.data(), 1, 0); });
  EXPECT_EQ(o.error, Code(NTE_BAD_HASH_STATE));
  o = Recorded([&] { return ::CryptSetHashParam(shortHash.h, HP_HMAC_INFO, buffer.data(), 0); });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));

  // advapi32 hands each hash to its own provider handle; a key of another
  // handle of this provider does not verify it.
  Hash foreign;
  HashOver(sm2.provider.h, CALG_SHA1, kOtherData, &foreign);
  Key otherKey;
  ASSERT_TRUE(::CryptGetUserKey(second.h, AT_SIGNATURE, &otherKey.h));
  Bytes signature(64, 0x11);
  o = Recorded([&] {
    return ::CryptVerifySignatureW(foreign.h, signature.data(), 64, otherKey.h, nullptr, 0);
  });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, Code(NTE_BAD_KEY));
}

// The token's SM3 digest commands (SM2 key).
bool SentDigestCommand(const std::vector<BYTE>& ins) {
  return std::find(ins.begin(), ins.end(), BYTE{0x81}) != ins.end();
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Two SM3 hashes open at once, hash A, hash B, sign A, sign B: in one
// process, and with B in a second process that loaded the provider itself
// (its load and acquire in between). Both signatures verify with OpenSSL
// (SM2, identity 1234567812345678), each hash value is OpenSSL's SM3(Z || M),
// and the token got no digest command before a signature or value was
// asked.
TEST_F(CspSigning, TwoSm3HashesOpenAtOnceBothSign) {
  SigningContainer sm2;
  MakeContainer(kSm2, &sm2);
  ASSERT_FALSE(HasFatalFailure());
  const Bytes dataA = ToBytes("hash A: 1 x 10.00 to Tolvane");
  const Bytes dataB = ToBytes("hash B: 2 x 20.00 to Merro");
  const auto value = [](HCRYPTHASH h) {
    Bytes v(32);
    DWORD length = 32;
    EXPECT_TRUE(::CryptGetHashParam(h, HP_HASHVAL, v.data(), &length, 0)) << std::hex << ::GetLastError();
    return v;
  };
  const auto sign = [&](HCRYPTHASH h) {
    Bytes signature(64);
    DWORD length = 64;
    const Outcome o = Sign(h, signature.data(), &length);
    EXPECT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(length, 64u);
    return signature;
  };

  {
    SCOPED_TRACE("one process");
    DeviceBench::CommandLog(0, true);
    Hash a, b;
    HashOver(sm2.provider.h, CALG_SM3, dataA, &a);
    HashOver(sm2.provider.h, CALG_SM3, dataB, &b);
    EXPECT_FALSE(SentDigestCommand(DeviceBench::CommandLog(0, true)));
    EXPECT_TRUE(Verifies(sm2, CALG_SM3, dataA, sign(a.h)));
    EXPECT_TRUE(Verifies(sm2, CALG_SM3, dataB, sign(b.h)));
    EXPECT_EQ(value(a.h), merro::testing::Sm2MessageDigest(sm2.publicKey.get(), dataA));
    EXPECT_EQ(value(b.h), merro::testing::Sm2MessageDigest(sm2.publicKey.get(), dataB));

    // The value asked first is the token's too, and signed as it was read.
    Hash c;
    HashOver(sm2.provider.h, CALG_SM3, dataA, &c);
    EXPECT_EQ(value(c.h), merro::testing::Sm2MessageDigest(sm2.publicKey.get(), dataA));
    EXPECT_TRUE(Verifies(sm2, CALG_SM3, dataA, sign(c.h)));
  }

  SCOPED_TRACE("two processes");
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / merro::testing::UniqueName("sm3-signer");
  std::filesystem::create_directories(dir);
  const std::filesystem::path ready = dir / "ready", go = dir / "go", out = dir / "signature";
  Hash a;
  HashOver(sm2.provider.h, CALG_SM3, dataA, &a);
  // The second process keeps no PIN yet: its library asks once, scripted.
  ProviderUiScript ui({"pin 47193628"});
  DeviceBench::CommandLog(0, true);
  ChildProcess child = ChildProcess::StartSelf({"--sm3-signer", sm2.name,
                                                std::string(dataB.begin(), dataB.end()),
                                                ready.string(), go.string(), out.string()});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(merro::testing::WaitForFile(ready)) << "hash B never made in the second process";
  EXPECT_FALSE(SentDigestCommand(DeviceBench::CommandLog(0, true)));
  EXPECT_TRUE(Verifies(sm2, CALG_SM3, dataA, sign(a.h)));
  std::ofstream(go) << "go";
  const Outcome joined = CallWithin(std::chrono::seconds(90), [&child] {
    ::SetLastError(static_cast<DWORD>(child.Join()));
    return TRUE;
  });
  EXPECT_EQ(joined.error, 0u) << "the second process failed at step " << joined.error;
  EXPECT_TRUE(Verifies(sm2, CALG_SM3, dataB, ReadFileBytes(out)));
  EXPECT_EQ(ui.Transcript("pin").size(), 1u);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// crypt32 signs a message with the private key on the token of the
// certificate that KP_CERTIFICATE entered in "MY": OpenSSL verifies the CMS
// and the certificate as the test CA's. With SHA-256 the provider
// refuses the hash of data that is no transaction message.
TEST_F(CspSigning, Crypt32SignsMessagesWithTheTokensKey) {
  SigningContainer rsa;
  MakeContainer(kRsa2048, &rsa);
  ASSERT_FALSE(HasFatalFailure());
  const merro::testing::TestKey subject =
      merro::testing::TestKey::FromRsaComponents(
          Reversed(Bytes(rsa.publicBlob.begin() + 20, rsa.publicBlob.end())),
          {0x01, 0x00, 0x01});
  merro::testing::CertificateSpec spec;
  spec.subjectKey = subject;
  const Bytes der = merro::testing::TestCa::Shared().Issue(spec);
  ASSERT_FALSE(der.empty());
  // The certificate goes to the key on the token; with no certificate
  // manager running the provider enters it in "MY" itself, tied to the
  // container, and that entry is what crypt32 signs with.
  {
    Key user;
    ASSERT_TRUE(::CryptGetUserKey(rsa.provider.h, AT_SIGNATURE, &user.h));
    const Outcome o = CallWithin(std::chrono::seconds(90), [&] {
      return ::CryptSetKeyParam(user.h, KP_CERTIFICATE, der.data(), 0);
    });
    ASSERT_TRUE(o.result) << std::hex << o.error;
  }
  const MyEntry entry(der);
  PCCERT_CONTEXT cert = entry.Get();
  ASSERT_NE(cert, nullptr) << "no \"MY\" entry for the certificate";

  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hKeyProv = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  ASSERT_TRUE(::CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &hKeyProv, &keySpec, &callerFrees))
      << std::hex << ::GetLastError();
  EXPECT_EQ(keySpec, static_cast<DWORD>(AT_SIGNATURE));
  if (callerFrees) {
    ::CryptReleaseContext(hKeyProv, 0);
  }

  const Bytes content = ToBytes("A message signed through crypt32");
  const auto signMessage = [&](const char* hashOid, Bytes* pSigned) {
    CRYPT_SIGN_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = cert;
    para.HashAlgorithm.pszObjId = const_cast<char*>(hashOid);
    para.cMsgCert = 1;
    para.rgpMsgCert = &cert;
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {static_cast<DWORD>(content.size())};
    DWORD length = 0;
    Outcome o = CallWithin(std::chrono::seconds(90), [&] {
      ::SetLastError(0xdeadbeef);
      return ::CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &length);
    });
    if (!o.result) {
      return o;
    }
    pSigned->resize(length);
    o = CallWithin(std::chrono::seconds(90), [&] {
      ::SetLastError(0xdeadbeef);
      return ::CryptSignMessage(&para, FALSE, 1, pieces, sizes, pSigned->data(), &length);
    });
    pSigned->resize(length);
    return o;
  };

  Bytes signedData;
  Outcome o = signMessage(szOID_OIWSEC_sha1, &signedData);
  ASSERT_TRUE(o.result) << std::hex << o.error;
  Bytes verified;
  EXPECT_TRUE(CmsVerifiesWithCa(signedData, merro::testing::TestCa::Shared().Certificate(), &verified));
  EXPECT_EQ(verified, content);

  o = signMessage(szOID_NIST_sha256, &signedData);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, Code(NTE_BAD_HASH));
}

// A signature reads nothing the provider already knows: no chip serial
// number (each token context keeps it), and no public key of the container
// to learn that the key pair is there (its record says so). The one read an
// SM2 signature makes is the token digest's own: the host checks the
// token's digest against its own SM3 over Z of that public key.
TEST_F(CspSigning, SignatureReadsNothingAlreadyKnown) {
  constexpr BYTE kChipSerial = 0x93, kPublicKey = 0x53;
  for (const KeyKind& kind : {kRsa1024, kRsa2048, kSm2}) {
    SCOPED_TRACE(kind.what);
    auto c = std::make_unique<SigningContainer>();
    MakeContainer(kind, c.get());
    ASSERT_FALSE(HasFatalFailure());
    Hash hash;
    HashOver(c->provider.h, kind.hashAlg, kOtherData, &hash);
    DeviceBench::CommandLog(0, true);
    Bytes signature(kind.sigLen);
    DWORD length = kind.sigLen;
    const Outcome o = Sign(hash.h, signature.data(), &length);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_TRUE(Verifies(*c, kind.hashAlg, kOtherData, signature));
    const std::vector<BYTE> log = DeviceBench::CommandLog(0, true);
    std::string sent;
    for (BYTE ins : log) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", ins);
      sent += hex;
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), kChipSerial), 0) << sent;
    const long digestReads = kind.keyAlg == CALG_SM2_SIGN ? 1 : 0;
    EXPECT_EQ(std::count(log.begin(), log.end(), kPublicKey), digestReads) << sent;
  }
}

// The token pulled out between CryptCreateHash and CryptSignHash: the
// signature fails with an error, within its bound, and once the token is
// back a new handle of the container signs again.
TEST_F(CspSigning, TokenPulledBeforeTheSignature) {
  for (const KeyKind& kind : {kRsa2048, kSm2}) {
    SCOPED_TRACE(kind.what);
    auto c = std::make_unique<SigningContainer>();
    MakeContainer(kind, c.get());
    ASSERT_FALSE(HasFatalFailure());
    {
      Hash hash;
      HashOver(c->provider.h, kind.hashAlg, kOtherData, &hash);
      DeviceBench::Pull(0);
      Bytes signature(kind.sigLen);
      DWORD length = kind.sigLen;
      const Outcome o = Sign(hash.h, signature.data(), &length);
      DeviceBench::Insert(0);
      EXPECT_FALSE(o.result);
      EXPECT_NE(o.error, 0u);
      EXPECT_NE(o.error, 0xdeadbeefu);
    }
    Provider again;
    ASSERT_TRUE(AcquireInto(&again, c->name.c_str(), 0).result);
    Hash hash;
    HashOver(again.h, kind.hashAlg, kOtherData, &hash);
    Bytes signature(kind.sigLen);
    DWORD length = kind.sigLen;
    const Outcome o = Sign(hash.h, signature.data(), &length);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_TRUE(Verifies(*c, kind.hashAlg, kOtherData, signature));
  }
}

// A token is never signed with what an earlier one left behind: one whose
// temporary key pair is made anew while its handles stay open signs under
// the new key pair, and when it is pulled out and replaced under the same
// device name by a token provisioned afresh, the old handle's container is
// gone and a new container signs with the new token's key.
TEST_F(CspSigning, ReplacedTokenSignsWithItsOwnKeys) {
  const std::string factory = DeviceBench::kFactoryPin;
  const std::string provision =
      "provision 0 user " + factory + " admin " + factory + " unlock " + factory;
  for (const KeyKind& kind : {kRsa2048, kSm2}) {
    SCOPED_TRACE(kind.what);
    auto c = std::make_unique<SigningContainer>();
    MakeContainer(kind, c.get());
    ASSERT_FALSE(HasFatalFailure());
    // The first failing call's outcome, or the signature's.
    const auto signWith = [&](HCRYPTPROV h, Bytes* pSignature) {
      Hash hash;
      Outcome o = Recorded([&] {
        return ::CryptCreateHash(h, kind.hashAlg, 0, 0, &hash.h) &&
               ::CryptHashData(hash.h, kOtherData.data(), static_cast<DWORD>(kOtherData.size()), 0);
      });
      if (!o.result) {
        return o;
      }
      pSignature->assign(kind.sigLen, 0);
      DWORD length = kind.sigLen;
      return Sign(hash.h, pSignature->data(), &length);
    };
    Bytes signature;
    ASSERT_TRUE(signWith(c->provider.h, &signature).result);

    DeviceBench::Control(provision);
    DeviceBench::CommandLog(0, true);
    Outcome o = signWith(c->provider.h, &signature);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_TRUE(Verifies(*c, kind.hashAlg, kOtherData, signature));
    const std::vector<BYTE> log = DeviceBench::CommandLog(0, true);
    EXPECT_NE(std::find(log.begin(), log.end(), BYTE{0x53}), log.end())
        << "the new public key of the session was read";

    // Another token under the same device name: provisioned afresh (a new
    // temporary key pair) and emptied.
    DeviceBench::Pull(0);
    DeviceBench::Control(provision);
    DeviceBench::Insert(0);
    ASSERT_TRUE(DeviceBench::Prepare(0));
    o = signWith(c->provider.h, &signature);
    EXPECT_FALSE(o.result) << "signed through a container the token no longer holds";
    EXPECT_NE(o.error, 0u);
    auto replaced = std::make_unique<SigningContainer>();
    MakeContainer(kind, replaced.get());
    ASSERT_FALSE(HasFatalFailure());
    o = signWith(replaced->provider.h, &signature);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_TRUE(Verifies(*replaced, kind.hashAlg, kOtherData, signature));
  }
}

}  // namespace

namespace {

// The second process of TwoSm3HashesOpenAtOnceBothSign: hashes its data
// with SM3 on the named container, says so with the ready file, signs once
// the go file is there and writes the signature out. 0, or the step that
// failed.
int Sm3SignerChild(const std::string& container, const std::string& data,
                   const std::filesystem::path& ready, const std::filesystem::path& go,
                   const std::filesystem::path& out) {
  using merro::testing::csp::kProviderName;
  HCRYPTPROV hProv = 0;
  if (!::CryptAcquireContextA(&hProv, container.c_str(), kProviderName, PROV_RSA_FULL, 0)) {
    return 10;
  }
  int step = 0;
  HCRYPTHASH hHash = 0;
  if (!::CryptCreateHash(hProv, CALG_SM3, 0, 0, &hHash) ||
      !::CryptHashData(hHash, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()), 0)) {
    step = 11;
  }
  if (step == 0) {
    std::ofstream(ready) << "ready";
    // Bounded: the first process signs its own hash meanwhile.
    for (int i = 0; i < 9000 && !std::filesystem::exists(go); ++i) {
      ::Sleep(10);
    }
    BYTE signature[64] = {};
    DWORD length = sizeof signature;
    if (!std::filesystem::exists(go)) {
      step = 12;
    } else if (!::CryptSignHashW(hHash, AT_SIGNATURE, nullptr, 0, signature, &length) ||
               length != sizeof signature) {
      step = 13;
    } else {
      std::ofstream(out, std::ios::binary)
          .write(reinterpret_cast<const char*>(signature), sizeof signature);
    }
  }
  if (step != 0) {
    std::fprintf(stderr, "sm3 signer: step %d failed with 0x%08lx\n", step, ::GetLastError());
  }
  if (hHash != 0) {
    ::CryptDestroyHash(hHash);
  }
  ::CryptReleaseContext(hProv, 0);
  return step;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::string(argv[1]) == "--sm3-signer") {
    return Sm3SignerChild(argv[2], argv[3], argv[4], argv[5], argv[6]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
