// The provider core's hash, signature and verification functions called
// directly, on the daemon's token with an RSA-2048 and an SM2 container
// registered as provider handles: their check tables, the hash parameters,
// duplicated hashes, and signatures judged by OpenSSL.
#include <openssl/evp.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "csp/core_trace.h"
#include "csp/deferred_release.h"
#include "csp/cp_core.h"
#include "csp/registries.h"
#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "tests/csp/host_window_in_dialog.h"
#include "tests/csp/private_key_commands.h"
#include "tests/provider/signing_bench.h"

namespace merro::testing {
namespace {

using provider::Container;
using provider::HashHandle;
using provider::KeyHandle;
using merro::testing::csp::SentPrivateKeyCommand;

constexpr DWORD Code(HRESULT h) { return static_cast<DWORD>(h); }

// The outcome of one core call: its result and the last error it left.
struct Result {
  BOOL ok;
  DWORD error;
  bool operator==(const Result& o) const { return ok == o.ok && error == o.error; }
};
std::ostream& operator<<(std::ostream& os, const Result& r) {
  return os << (r.ok ? "TRUE" : "FALSE") << " 0x" << std::hex << r.error;
}
Result Call(const std::function<BOOL()>& call) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = call();
  return {ok, ::GetLastError()};
}
const Result kOk{TRUE, 0};
Result Fails(DWORD code) { return {FALSE, code}; }

// The signing bench's two containers as registered provider handles, and
// keys and hashes made through the core or put into its registries.
class CoreHashes : public SigningBench {
 protected:
  void SetUp() override {
    SigningBench::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    m_pRsa = m_rsa.get();
    m_pSm2 = m_sm2.get();
    m_hRsa = merro::csp::AddProvHandle(std::move(m_rsa));
    m_hSm2 = merro::csp::AddProvHandle(std::move(m_sm2));
  }
  void TearDown() override {
    merro::csp::RemoveProvHandleWithItsObjects(m_hRsa);
    merro::csp::RemoveProvHandleWithItsObjects(m_hSm2);
    SigningBench::TearDown();
  }

  HCRYPTHASH CreateHash(HCRYPTPROV hProv, ALG_ID alg) {
    HCRYPTHASH h = 0;
    EXPECT_EQ(Call([&] { return CPCoreCreateHash(hProv, alg, 0, 0, &h); }), kOk) << alg;
    return h;
  }
  HCRYPTHASH HashOver(HCRYPTPROV hProv, ALG_ID alg, const Bytes& data) {
    const HCRYPTHASH h = CreateHash(hProv, alg);
    EXPECT_EQ(Call([&] {
                return CPCoreHashData(hProv, h, data.data(), static_cast<DWORD>(data.size()), 0);
              }),
              kOk);
    return h;
  }
  Bytes HashValue(HCRYPTPROV hProv, HCRYPTHASH h) {
    Bytes value(64);
    DWORD length = static_cast<DWORD>(value.size());
    EXPECT_EQ(Call([&] { return CPCoreGetHashParam(hProv, h, HP_HASHVAL, value.data(), &length, 0); }),
              kOk);
    value.resize(length);
    return value;
  }
  DWORD HashNumber(HCRYPTPROV hProv, HCRYPTHASH h, DWORD param) {
    DWORD value = 0;
    DWORD length = sizeof value;
    EXPECT_EQ(Call([&] {
                return CPCoreGetHashParam(hProv, h, param, reinterpret_cast<BYTE*>(&value), &length,
                                          0);
              }),
              kOk);
    EXPECT_EQ(length, 4u);
    return value;
  }
  // A key object put into the registry as the core's key functions would:
  // a container key of that algorithm and length, or a session key.
  HCRYPTKEY RegisterKey(HCRYPTPROV hProv, ALG_ID alg, DWORD bits = 0) {
    auto key = std::make_unique<KeyHandle>();
    EXPECT_EQ(key->InitKeyHandle(alg, 0), S_OK);
    if (bits != 0) {
      key->m_dwModulusBits = bits;
    }
    key->m_pContainer = merro::csp::g_vtrProvHandleSet.Lookup(hProv);
    return merro::csp::AddKeyHandle(std::move(key));
  }
  Container* m_pRsa = nullptr;
  Container* m_pSm2 = nullptr;
  HCRYPTPROV m_hRsa = 0;
  HCRYPTPROV m_hSm2 = 0;
};

// Every function's checks in their order: null and zero arguments first,
// then the registries, then whose the hash is. A hash of the other provider
// handle is refused as a bad hash by signing and verification, as an invalid
// handle elsewhere.
TEST_F(CoreHashes, ChecksComeInTheirOrderWithTheirCodes) {
  const HCRYPTHASH hRsaHash = HashOver(m_hRsa, CALG_SHA1, ToBytes("checked"));
  const HCRYPTKEY hRsaKey = RegisterKey(m_hRsa, CALG_RSA_SIGN, 2048);
  const HCRYPTKEY hOtherKey = RegisterKey(m_hSm2, CALG_3DES);
  const ULONG_PTR never = 0x12340;
  HCRYPTHASH out = 0;
  const BYTE data[64] = {1};
  BYTE buffer[256] = {};
  DWORD length = sizeof buffer;
  DWORD sigLen = 99;
  const DWORD inval = ERROR_INVALID_PARAMETER;
  const DWORD handle = ERROR_INVALID_HANDLE;
  struct Case {
    const char* what;
    std::function<BOOL()> call;
    Result expected;
  };
  const Case cases[] = {
      {"CreateHash(0)", [&] { return CPCoreCreateHash(0, CALG_SHA1, 0, 0, &out); }, Fails(inval)},
      {"CreateHash(no out)", [&] { return CPCoreCreateHash(m_hRsa, CALG_SHA1, 0, 0, nullptr); },
       Fails(inval)},
      {"CreateHash(unknown)", [&] { return CPCoreCreateHash(never, CALG_SHA1, 0, 0, &out); },
       Fails(inval)},
      {"CreateHash(SHA-512)", [&] { return CPCoreCreateHash(m_hRsa, CALG_SHA_512, 0, 0, &out); },
       Fails(Code(NTE_BAD_ALGID))},
      {"HashData(0 bytes)", [&] { return CPCoreHashData(m_hRsa, hRsaHash, data, 0, 0); },
       Fails(inval)},
      {"HashData(no data)", [&] { return CPCoreHashData(m_hRsa, hRsaHash, nullptr, 4, 0); },
       Fails(inval)},
      {"HashData(unknown hash)", [&] { return CPCoreHashData(m_hRsa, never, data, 4, 0); },
       Fails(handle)},
      {"HashData(other provider)", [&] { return CPCoreHashData(m_hSm2, hRsaHash, data, 4, 0); },
       Fails(handle)},
      {"HashSessionKey(no key)", [&] { return CPCoreHashSessionKey(m_hRsa, hRsaHash, 0, 0); },
       Fails(inval)},
      {"HashSessionKey(other provider's key)",
       [&] { return CPCoreHashSessionKey(m_hRsa, hRsaHash, hOtherKey, 0); }, Fails(handle)},
      {"HashSessionKey(RSA key)", [&] { return CPCoreHashSessionKey(m_hRsa, hRsaHash, hRsaKey, 0); },
       Fails(Code(NTE_BAD_KEY))},
      {"GetHashParam(no length)",
       [&] { return CPCoreGetHashParam(m_hRsa, hRsaHash, HP_HASHSIZE, buffer, nullptr, 0); },
       Fails(inval)},
      {"GetHashParam(other provider)",
       [&] { return CPCoreGetHashParam(m_hSm2, hRsaHash, HP_HASHSIZE, buffer, &length, 0); },
       Fails(handle)},
      {"GetHashParam(HP_HMAC_INFO)",
       [&] { return CPCoreGetHashParam(m_hRsa, hRsaHash, HP_HMAC_INFO, buffer, &length, 0); },
       Fails(Code(NTE_BAD_TYPE))},
      {"SetHashParam(no data)",
       [&] { return CPCoreSetHashParam(m_hRsa, hRsaHash, HP_HASHVAL, nullptr, 0); },
       Fails(inval)},
      {"SetHashParam(HP_ALGID)",
       [&] { return CPCoreSetHashParam(m_hRsa, hRsaHash, HP_ALGID, data, 0); },
       Fails(ERROR_NOT_SUPPORTED)},
      {"DuplicateHash(no out)",
       [&] { return CPCoreDuplicateHash(m_hRsa, hRsaHash, nullptr, 0, nullptr); }, Fails(inval)},
      {"DuplicateHash(other provider)",
       [&] { return CPCoreDuplicateHash(m_hSm2, hRsaHash, nullptr, 0, &out); }, Fails(handle)},
      {"DestroyHash(other provider)", [&] { return CPCoreDestroyHash(m_hSm2, hRsaHash); },
       Fails(handle)},
      {"SignHash(no length)",
       [&] { return CPCoreSignHash(m_hRsa, hRsaHash, AT_SIGNATURE, nullptr, 0, buffer, nullptr); },
       Fails(inval)},
      {"SignHash(key spec 3)",
       [&] { return CPCoreSignHash(m_hRsa, hRsaHash, 3, nullptr, 0, buffer, &sigLen); },
       Fails(inval)},
      {"SignHash(unknown provider)",
       [&] { return CPCoreSignHash(never, hRsaHash, AT_SIGNATURE, nullptr, 0, buffer, &sigLen); },
       Fails(Code(NTE_BAD_UID))},
      {"SignHash(unknown hash)",
       [&] { return CPCoreSignHash(m_hRsa, never, AT_SIGNATURE, nullptr, 0, buffer, &sigLen); },
       Fails(Code(NTE_BAD_HASH))},
      {"SignHash(other provider)",
       [&] { return CPCoreSignHash(m_hSm2, hRsaHash, AT_SIGNATURE, nullptr, 0, buffer, &sigLen); },
       Fails(Code(NTE_BAD_HASH))},
      {"VerifySignature(no signature)",
       [&] { return CPCoreVerifySignature(m_hRsa, hRsaHash, nullptr, 256, hRsaKey, nullptr, 0); },
       Fails(inval)},
      {"VerifySignature(0 bytes)",
       [&] { return CPCoreVerifySignature(m_hRsa, hRsaHash, buffer, 0, hRsaKey, nullptr, 0); },
       Fails(inval)},
      {"VerifySignature(unknown key)",
       [&] { return CPCoreVerifySignature(m_hRsa, hRsaHash, buffer, 256, never, nullptr, 0); },
       Fails(Code(NTE_BAD_KEY))},
      {"VerifySignature(other provider's hash)",
       [&] { return CPCoreVerifySignature(m_hSm2, hRsaHash, buffer, 256, hOtherKey, nullptr, 0); },
       Fails(Code(NTE_BAD_HASH))},
      {"VerifySignature(other provider's key)",
       [&] { return CPCoreVerifySignature(m_hRsa, hRsaHash, buffer, 256, hOtherKey, nullptr, 0); },
       Fails(Code(NTE_BAD_KEY))},
      {"VerifySignature(session key)",
       [&] {
         const HCRYPTKEY h = RegisterKey(m_hRsa, CALG_3DES);
         return CPCoreVerifySignature(m_hRsa, hRsaHash, buffer, 24, h, nullptr, 0);
       },
       Fails(Code(NTE_BAD_KEY))},
      {"VerifySignature(255 bytes for RSA-2048)",
       [&] { return CPCoreVerifySignature(m_hRsa, hRsaHash, buffer, 255, hRsaKey, nullptr, 0); },
       Fails(Code(NTE_BAD_SIGNATURE))},
  };
  const size_t handles = merro::csp::g_vtrHashHandleSet.Handles().size();
  for (const Case& c : cases) {
    EXPECT_EQ(Call(c.call), c.expected) << c.what;
  }
  // No refused call made a hash, finished this one or asked for a PIN.
  EXPECT_EQ(merro::csp::g_vtrHashHandleSet.Handles().size(), handles);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(sigLen, 0u);  // the refusals wrote that no signature length was worked out
  EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, hRsaHash, data, 4, 0); }), kOk);
  EXPECT_EQ(PinPrompts(), 0u);
}

// The hash's size, algorithm and value; a zero-length piece leaves it open;
// a value asked into a buffer one byte short finishes it nevertheless and
// leaves the caller's length alone; a value given whole finishes it too.
TEST_F(CoreHashes, HashParametersAndTheFinishedState) {
  struct {
    ALG_ID alg;
    DWORD size;
  } const sizes[] = {{CALG_SHA1, 20}, {CALG_SHA_256, 32}, {CALG_SM3, 32}, {CALG_MD5, 16},
                     {CALG_SSL3_SHAMD5, 36}};
  for (const auto& s : sizes) {
    const HCRYPTHASH h = CreateHash(m_hSm2, s.alg);
    EXPECT_EQ(HashNumber(m_hSm2, h, HP_HASHSIZE), s.size) << s.alg;
    EXPECT_EQ(HashNumber(m_hSm2, h, HP_ALGID), s.alg);
    EXPECT_TRUE(CPCoreDestroyHash(m_hSm2, h));
  }

  const Bytes data = ToBytes("hash parameters");
  for (const ALG_ID alg : {CALG_MD5, CALG_SHA1, CALG_SHA_256}) {
    SCOPED_TRACE(alg);
    const HCRYPTHASH h = CreateHash(m_hRsa, alg);
    EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, h, data.data(), 0, 0); }),
              Fails(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, h, data.data(), 4, 0); }), kOk);
    EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, h, data.data() + 4, 11, 0); }), kOk);

    const DWORD size = HashNumber(m_hRsa, h, HP_HASHSIZE);
    Bytes value(size - 1, 0xEE);
    DWORD length = size - 1;
    EXPECT_EQ(Call([&] { return CPCoreGetHashParam(m_hRsa, h, HP_HASHVAL, value.data(), &length, 0); }),
              Fails(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(length, size - 1);
    EXPECT_EQ(value, Bytes(size - 1, 0xEE));
    EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, h, data.data(), 1, 0); }),
              Fails(Code(NTE_BAD_HASH_STATE)));
    length = 0;
    EXPECT_EQ(Call([&] { return CPCoreGetHashParam(m_hRsa, h, HP_HASHVAL, nullptr, &length, 0); }),
              kOk);
    EXPECT_EQ(length, size);
    EXPECT_EQ(HashValue(m_hRsa, h), Digest(EvpMdOf(alg), data));
    EXPECT_EQ(Call([&] { return CPCoreSetHashParam(m_hRsa, h, HP_HASHVAL, value.data(), 0); }),
              Fails(Code(NTE_BAD_HASH_STATE)));
  }

  // A value given whole is read back and finishes the hash.
  const Bytes given(20, 0x5A);
  const HCRYPTHASH h = CreateHash(m_hRsa, CALG_SHA1);
  EXPECT_EQ(Call([&] { return CPCoreSetHashParam(m_hRsa, h, HP_HASHVAL, given.data(), 0); }), kOk);
  EXPECT_EQ(HashValue(m_hRsa, h), given);
  EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, h, given.data(), 1, 0); }),
            Fails(Code(NTE_BAD_HASH_STATE)));
}

// Only a triple-DES session key's bytes are hashed; DES and RC4 keys are
// not offered, container keys are no session keys.
TEST_F(CoreHashes, HashSessionKeyHashesTripleDesKeyBytes) {
  const HCRYPTKEY h3des = RegisterKey(m_hRsa, CALG_3DES);
  KeyHandle* p3des = merro::csp::g_vtrKeyHandleSet.Lookup(h3des);
  for (DWORD i = 0; i < p3des->m_stSymKey.cbData; ++i) {
    p3des->m_stSymKey.pbData[i] = static_cast<BYTE>(0x30 + i);
  }
  const Bytes keyBytes(p3des->m_stSymKey.pbData, p3des->m_stSymKey.pbData + 24);
  struct Case {
    ALG_ID alg;
    Result expected;
  } const cases[] = {{CALG_RC4, Fails(Code(NTE_NOT_SUPPORTED))},
                     {CALG_DES, Fails(Code(NTE_NOT_SUPPORTED))},
                     {CALG_RSA_KEYX, Fails(Code(NTE_BAD_KEY))},
                     {CALG_SM2_SIGN, Fails(Code(NTE_BAD_KEY))}};
  const HCRYPTHASH h = CreateHash(m_hRsa, CALG_SHA1);
  for (const Case& c : cases) {
    const HCRYPTKEY hKey = RegisterKey(m_hRsa, c.alg, c.alg == CALG_SM2_SIGN ? 256 : 0);
    EXPECT_EQ(Call([&] { return CPCoreHashSessionKey(m_hRsa, h, hKey, 0); }), c.expected) << c.alg;
  }
  EXPECT_EQ(Call([&] { return CPCoreHashSessionKey(m_hRsa, h, h3des, 0); }), kOk);
  EXPECT_EQ(HashValue(m_hRsa, h), Digest(EVP_sha1(), keyBytes));
  EXPECT_EQ(Call([&] { return CPCoreHashSessionKey(m_hRsa, h, h3des, 0); }),
            Fails(Code(NTE_BAD_HASH_STATE)));
}

// A duplicate of an unfinished hash carries the data hashed so far; both go
// on independently. A finished hash hands over its value and state; an open
// one whose data did not all stay in the kept copy is refused, and no
// handle is made for it.
TEST_F(CoreHashes, DuplicatedHashesCarryWhatWasHashed) {
  const Bytes first = ToBytes("the first part, ");
  const Bytes more = ToBytes("and more");
  Bytes both = first;
  both.insert(both.end(), more.begin(), more.end());
  for (const ALG_ID alg : {CALG_SHA1, CALG_MD5, CALG_SHA_256}) {
    SCOPED_TRACE(alg);
    const HCRYPTHASH source = HashOver(m_hRsa, alg, first);
    HCRYPTHASH copy = 0;
    ASSERT_EQ(Call([&] { return CPCoreDuplicateHash(m_hRsa, source, nullptr, 0, &copy); }), kOk);
    ASSERT_NE(copy, 0u);
    EXPECT_EQ(HashNumber(m_hRsa, copy, HP_ALGID), alg);
    EXPECT_EQ(HashValue(m_hRsa, copy), Digest(EvpMdOf(alg), first));
    EXPECT_EQ(Call([&] {
                return CPCoreHashData(m_hRsa, source, more.data(), static_cast<DWORD>(more.size()),
                                      0);
              }),
              kOk);
    EXPECT_EQ(HashValue(m_hRsa, source), Digest(EvpMdOf(alg), both));

    // The finished source duplicated: the same value, finished as well.
    HCRYPTHASH finished = 0;
    ASSERT_EQ(Call([&] { return CPCoreDuplicateHash(m_hRsa, source, nullptr, 0, &finished); }), kOk);
    EXPECT_EQ(HashValue(m_hRsa, finished), Digest(EvpMdOf(alg), both));
    EXPECT_EQ(Call([&] { return CPCoreHashData(m_hRsa, finished, more.data(), 1, 0); }),
              Fails(Code(NTE_BAD_HASH_STATE)));
  }

  const Bytes large(provider::HASH_SOURCE_DATA_MAX + 1, 0x61);
  const HCRYPTHASH big = HashOver(m_hRsa, CALG_SHA1, large);
  // An open duplicate of hashed data is refused too: its own kept data is
  // not what its digest holds. Finished, it hands over its value.
  HCRYPTHASH openCopy = 0;
  const HCRYPTHASH hashed = HashOver(m_hRsa, CALG_SHA1, first);
  ASSERT_EQ(Call([&] { return CPCoreDuplicateHash(m_hRsa, hashed, nullptr, 0, &openCopy); }), kOk);
  struct {
    HCRYPTHASH hash;
    const Bytes& data;
  } const refused[] = {{big, large}, {openCopy, first}};
  for (const auto& r : refused) {
    const size_t handles = merro::csp::g_vtrHashHandleSet.Handles().size();
    HCRYPTHASH copy = 0;
    EXPECT_EQ(Call([&] { return CPCoreDuplicateHash(m_hRsa, r.hash, nullptr, 0, &copy); }),
              Fails(Code(NTE_BAD_HASH_STATE)));
    EXPECT_EQ(copy, 0u);
    EXPECT_EQ(merro::csp::g_vtrHashHandleSet.Handles().size(), handles);
    EXPECT_EQ(HashValue(m_hRsa, r.hash), Digest(EVP_sha1(), r.data));
  }
  HCRYPTHASH second = 0;
  ASSERT_EQ(Call([&] { return CPCoreDuplicateHash(m_hRsa, openCopy, nullptr, 0, &second); }), kOk);
  EXPECT_EQ(HashValue(m_hRsa, second), Digest(EVP_sha1(), first));
}

// A duplicate's kept text starts empty while its digest already holds what
// its source was given: a hash whose kept text is not all its digest holds
// is never shown and signed as a transaction message. It is signed as its
// hash value where the rules sign other data so (SHA-1, SM3) and refused
// where they refuse it (SHA-256). A duplicate of an empty hash still shows
// its message, and so does the source of an SM3 duplicate that was given
// more (the two digests are apart). Every signature made verifies against
// the hash value the caller reads.
TEST_F(CoreHashes, OnlyAKeptTextThatIsAllTheDigestHoldsIsShown) {
  const Bytes earlier = ToBytes("earlier data; ");
  const Bytes message = ToBytes(kTavrMessage);
  enum Which { kSource, kCopy };
  struct Case {
    const char* what;
    ALG_ID alg;           // SM3 with the SM2 container, others with RSA-2048
    Bytes before;         // hashed into the source before it is duplicated
    bool finishSource;    // the source's value is read before the duplicate
    Bytes after;          // hashed after the duplicate...
    Which afterInto;      // ...into this hash
    Which signedHash;     // the hash that is signed
    Result expected;
    bool display;         // the token showed the message
  } const cases[] = {
      {"SHA-256: data, duplicate, message", CALG_SHA_256, earlier, false, message, kCopy, kCopy,
       Fails(Code(NTE_BAD_HASH)), false},
      {"SHA-1: data, duplicate, message", CALG_SHA1, earlier, false, message, kCopy, kCopy, kOk,
       false},
      {"SM3: data, duplicate, message", CALG_SM3, earlier, false, message, kCopy, kCopy, kOk,
       false},
      {"SHA-256: message, duplicate, nothing more", CALG_SHA_256, message, false, {}, kCopy, kCopy,
       Fails(Code(NTE_BAD_HASH)), false},
      {"SHA-1: message, duplicate, nothing more", CALG_SHA1, message, false, {}, kCopy, kCopy, kOk,
       false},
      {"SHA-1: message finished, duplicate", CALG_SHA1, message, true, {}, kCopy, kCopy, kOk,
       false},
      {"SM3: message, duplicate given more, source signed", CALG_SM3, message, false, earlier,
       kCopy, kSource, kOk, true},
      // What works without duplicates works as before.
      {"SHA-256: duplicate of an empty hash, message", CALG_SHA_256, {}, false, message, kCopy,
       kCopy, kOk, true},
      {"SHA-1: duplicate of an empty hash, message", CALG_SHA1, {}, false, message, kCopy, kCopy,
       kOk, false},
      {"SM3: duplicate of an empty hash, message", CALG_SM3, {}, false, message, kCopy, kCopy, kOk,
       true},
      {"SHA-256: empty hash duplicated, message into the source", CALG_SHA_256, {}, false, message,
       kSource, kSource, kOk, true},
      {"SHA-1: duplicate of an empty hash, nothing hashed", CALG_SHA1, {}, false, {}, kCopy, kCopy,
       Fails(Code(NTE_BAD_HASH_STATE)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool sm2 = c.alg == CALG_SM3;
    const HCRYPTPROV hProv = sm2 ? m_hSm2 : m_hRsa;
    const auto hashInto = [&](HCRYPTHASH h, const Bytes& data) {
      if (!data.empty()) {
        EXPECT_EQ(Call([&] {
                    return CPCoreHashData(hProv, h, data.data(), static_cast<DWORD>(data.size()), 0);
                  }),
                  kOk);
      }
    };
    const HCRYPTHASH source = CreateHash(hProv, c.alg);
    hashInto(source, c.before);
    if (c.finishSource) {
      HashValue(hProv, source);
    }
    HCRYPTHASH copy = 0;
    ASSERT_EQ(Call([&] { return CPCoreDuplicateHash(hProv, source, nullptr, 0, &copy); }), kOk);
    hashInto(c.afterInto == kCopy ? copy : source, c.after);
    const HCRYPTHASH hSigned = c.signedHash == kCopy ? copy : source;

    g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
    DeviceBench::Control("display 0 clear");
    DeviceBench::Control("button 0 ok after 3");
    const size_t prompts = PinPrompts();
    if (c.expected.ok) {  // an unexpected prompt is answered "cancel"
      m_ui->Push("pin 47193628");
    }
    const DWORD size = sm2 ? 64 : 256;
    Bytes signature(size, 0xAB);
    DWORD length = size;
    EXPECT_EQ(Call([&] {
                return CPCoreSignHash(hProv, hSigned, AT_SIGNATURE, nullptr, 0, signature.data(),
                                      &length);
              }),
              c.expected);
    EXPECT_EQ(PinPrompts() - prompts, c.expected.ok ? 1u : 0u);
    EXPECT_EQ(DeviceBench::Control("display 0"),
              c.display ? std::string(message.begin(), message.end()) + "\n" : "");
    DeviceBench::Control("button 0 clear");
    if (!c.expected.ok) {
      EXPECT_EQ(signature, Bytes(size, 0xAB));
      continue;
    }
    // The hash value covers all that went into the signed hash's digest,
    // and the signature is over that value.
    Bytes covered = c.before;
    if (c.afterInto == c.signedHash) {
      covered.insert(covered.end(), c.after.begin(), c.after.end());
    }
    const Bytes value = HashValue(hProv, hSigned);
    ASSERT_EQ(length, size);
    if (sm2) {
      EXPECT_EQ(value, Sm2Digest(covered));
      EXPECT_TRUE(Sm2Verifies(covered, signature));
    } else {
      EXPECT_EQ(value, Digest(EvpMdOf(c.alg), covered));
      const PkeyPtr key = RsaPublicKey(m_rsaSign.rsaModulus, m_rsaSign.rsaExponent);
      EXPECT_TRUE(RsaVerifyDigest(key.get(), EvpMdOf(c.alg), value, Reversed(signature)));
    }
  }
}

// The signature's length is known before anything is signed: a size query
// and a buffer too small are answered without a PIN or a private-key
// command, and the small buffer is left as it was.
TEST_F(CoreHashes, SignatureLengthsComeBeforeAnyTokenWork) {
  struct Case {
    bool sm2;
    DWORD length;
  } const cases[] = {{false, 256}, {true, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sm2 ? "SM2" : "RSA-2048");
    const HCRYPTPROV hProv = c.sm2 ? m_hSm2 : m_hRsa;
    const HCRYPTHASH h = HashOver(hProv, c.sm2 ? CALG_SM3 : CALG_SHA1, ToBytes("length"));
    TakeCommandLog();
    const size_t keys = merro::csp::g_vtrKeyHandleSet.Handles().size();
    DWORD length = 0;
    EXPECT_EQ(Call([&] { return CPCoreSignHash(hProv, h, AT_SIGNATURE, nullptr, 0, nullptr, &length); }),
              kOk);
    EXPECT_EQ(length, c.length);
    Bytes small(16, 0xAB);
    length = 16;
    EXPECT_EQ(Call([&] {
                return CPCoreSignHash(hProv, h, AT_SIGNATURE, nullptr, 0, small.data(), &length);
              }),
              Fails(ERROR_MORE_DATA));
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(small, Bytes(16, 0xAB));
    length = c.length - 1;
    EXPECT_EQ(Call([&] {
                return CPCoreSignHash(hProv, h, AT_SIGNATURE, nullptr, 0, small.data(), &length);
              }),
              Fails(ERROR_MORE_DATA));
    EXPECT_EQ(length, c.length);
    EXPECT_FALSE(SentPrivateKeyCommand(TakeCommandLog()));
    EXPECT_EQ(PinPrompts(), 0u);
    // The temporary key objects are gone again, and the hash is still open.
    EXPECT_EQ(merro::csp::g_vtrKeyHandleSet.Handles().size(), keys);
    EXPECT_EQ(Call([&] { return CPCoreHashData(hProv, h, small.data(), 1, 0); }), kOk);
  }
}

// Signatures through the core, judged by OpenSSL; each verifies twice from
// one read-only buffer, a flipped byte does not, and no PIN is asked for it.
TEST_F(CoreHashes, SignaturesVerifyAndTheCallersBufferIsOnlyRead) {
  struct Case {
    bool sm2;
    ALG_ID alg;
  } const cases[] = {{false, CALG_SHA1}, {false, CALG_MD5}, {true, CALG_SM3}};
  const Bytes data = ToBytes("signed through the provider core");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alg);
    const HCRYPTPROV hProv = c.sm2 ? m_hSm2 : m_hRsa;
    const HCRYPTHASH h = HashOver(hProv, c.alg, data);
    const DWORD size = c.sm2 ? 64 : 256;
    // A page of its own, read-only once the signature is in it.
    BYTE* page = static_cast<BYTE*>(
        ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(page, nullptr);
    std::unique_ptr<BYTE, void (*)(BYTE*)> freePage(
        page, [](BYTE* p) { ::VirtualFree(p, 0, MEM_RELEASE); });
    DWORD length = 4096;
    m_ui->Push("pin 47193628");
    ASSERT_EQ(Call([&] { return CPCoreSignHash(hProv, h, AT_SIGNATURE, nullptr, 0, page, &length); }),
              kOk);
    ASSERT_EQ(length, size);
    const Bytes signature(page, page + size);
    if (c.sm2) {
      EXPECT_TRUE(Sm2Verifies(data, signature));
    } else {
      const PkeyPtr key = RsaPublicKey(m_rsaSign.rsaModulus, m_rsaSign.rsaExponent);
      EXPECT_TRUE(RsaVerifyDigest(key.get(), EvpMdOf(c.alg), Digest(EvpMdOf(c.alg), data), Reversed(signature)));
    }
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(page, 4096, PAGE_READONLY, &old));

    const size_t prompts = PinPrompts();
    const HCRYPTKEY hKey =
        RegisterKey(hProv, c.sm2 ? CALG_SM2_SIGN : CALG_RSA_SIGN, c.sm2 ? 256 : 2048);
    for (int i = 0; i < 2; ++i) {
      const HCRYPTHASH hv = HashOver(hProv, c.alg, data);
      EXPECT_EQ(Call([&] { return CPCoreVerifySignature(hProv, hv, page, size, hKey, nullptr, 0); }),
                kOk)
          << i;
    }
    Bytes flipped = signature;
    flipped[5] ^= 0x01;
    const HCRYPTHASH hv = HashOver(hProv, c.alg, data);
    const Result refused =
        Call([&] { return CPCoreVerifySignature(hProv, hv, flipped.data(), size, hKey, nullptr, 0); });
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error, 0u);
    EXPECT_EQ(PinPrompts(), prompts);
  }
}

// Programs release and destroy on their way out of a failure and report its
// code afterwards (crypt32's signed messages do): the clean-up functions
// leave the caller's last error alone when they succeed, and set their own
// when they fail.
TEST_F(CoreHashes, CleanUpKeepsTheCallersError) {
  const HCRYPTHASH hHash = CreateHash(m_hRsa, CALG_SHA1);
  const HCRYPTKEY hKey = RegisterKey(m_hRsa, CALG_RSA_SIGN, 2048);
  std::unique_ptr<Container> other =
      Container::CreateRegisteredContainer(m_pRsa->m_szContainerName, TRUE, FALSE);
  ASSERT_TRUE(other);
  const HCRYPTPROV hOther = merro::csp::AddProvHandle(std::move(other));
  struct Case {
    const char* what;
    std::function<BOOL()> call;
    Result expected;
  } const cases[] = {
      {"DestroyHash", [&] { return CPCoreDestroyHash(m_hRsa, hHash); }, {TRUE, Code(NTE_BAD_HASH)}},
      {"DestroyHash again", [&] { return CPCoreDestroyHash(m_hRsa, hHash); },
       Fails(ERROR_INVALID_HANDLE)},
      {"DestroyKey", [&] { return CPCoreDestroyKey(m_hRsa, hKey); }, {TRUE, Code(NTE_BAD_HASH)}},
      {"DestroyKey again", [&] { return CPCoreDestroyKey(m_hRsa, hKey); },
       Fails(ERROR_INVALID_PARAMETER)},
      {"ReleaseContext", [&] { return CPCoreReleaseContext(hOther, 0); }, {TRUE, Code(NTE_BAD_HASH)}},
      {"ReleaseContext again", [&] { return CPCoreReleaseContext(hOther, 0); },
       Fails(ERROR_INVALID_PARAMETER)},
  };
  for (const Case& c : cases) {
    ::SetLastError(Code(NTE_BAD_HASH));
    const BOOL ok = c.call();
    EXPECT_EQ((Result{ok, ::GetLastError()}), c.expected) << c.what;
  }
}

// A host's window procedure that runs inside the PIN prompt or the
// transaction confirmation of a signature destroys the hash being signed
// and releases the provider handle: both handles are unknown at once and
// both calls succeed, while the objects live on until the signature is
// made. The signature is the outer call's own result, over the data.
TEST_F(CoreHashes, HandlesReleasedInsideTheSignaturesDialogsLiveUntilItEnds) {
  const Bytes other = ToBytes("signed while the host cleans up");
  const Bytes message = ToBytes(kTavrMessage);
  struct Case {
    const char* dialog;
    ALG_ID alg;
    const Bytes* data;
  } const cases[] = {
      {"pin", CALG_SHA1, &other},
      {"confirm", CALG_SHA_256, &message},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    std::unique_ptr<Container> own =
        Container::CreateRegisteredContainer(m_pRsa->m_szContainerName, TRUE, FALSE);
    ASSERT_TRUE(own);
    const HCRYPTPROV hProv = merro::csp::AddProvHandle(std::move(own));
    const HCRYPTHASH h = HashOver(hProv, c.alg, *c.data);
    const HCRYPTKEY hKey = RegisterKey(hProv, CALG_RSA_SIGN, 2048);

    std::vector<Result> nested;
    bool handlesGone = false;
    const auto installed = HostWindowInDialog::Install(c.dialog, [&] {
      nested.push_back(Call([&] { return CPCoreDestroyHash(hProv, h); }));
      nested.push_back(Call([&] { return CPCoreReleaseContext(hProv, 0); }));
      handlesGone = !merro::csp::IsKnownHashHandle(h) && !merro::csp::IsKnownKeyHandle(hKey) &&
                    !merro::csp::IsKnownProvHandle(hProv);
    });
    g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
    DeviceBench::Control("button 0 ok after 3");
    m_ui->Push("pin 47193628");
    Bytes signature(256, 0xAB);
    DWORD length = static_cast<DWORD>(signature.size());
    const Result outer = Call([&] {
      return CPCoreSignHash(hProv, h, AT_SIGNATURE, nullptr, 0, signature.data(), &length);
    });
    DeviceBench::Control("button 0 clear");

    ASSERT_EQ(nested.size(), 2u);
    EXPECT_TRUE(nested[0].ok) << nested[0];
    EXPECT_TRUE(nested[1].ok) << nested[1];
    EXPECT_TRUE(handlesGone);
    EXPECT_EQ(merro::csp::QueuedObjectCount(), 0u);
    ASSERT_EQ(outer, kOk);
    ASSERT_EQ(length, 256u);
    const PkeyPtr key = RsaPublicKey(m_rsaSign.rsaModulus, m_rsaSign.rsaExponent);
    EXPECT_TRUE(RsaVerifyDigest(key.get(), EvpMdOf(c.alg), Digest(EvpMdOf(c.alg), *c.data),
                                Reversed(signature)));
    // The handles stay unknown afterwards.
    EXPECT_EQ(Call([&] { return CPCoreDestroyHash(hProv, h); }).ok, FALSE);
  }
}

// The check lines of signing and verification name their steps in the
// order of the checks; a call ends at its first failing check.
TEST_F(CoreHashes, SigningAndVerificationLogTheirChecksInOrder) {
  const auto linesOf = [this](const std::string& function) {
    std::vector<std::string> lines;
    for (const auto& args : m_trace.Values(merro::csp::GeneralMessageGuid(),
                                           merro::trace::kMsgCoreStepLine)) {
      const std::string text = apitest::TraceLines::Text(args.at(0));
      if (text.rfind(function + " - ", 0) == 0) {
        lines.push_back(text.substr(function.size() + 3));
      }
    }
    return lines;
  };
  const HCRYPTHASH h = HashOver(m_hRsa, CALG_SHA1, ToBytes("steps"));
  const HCRYPTKEY hKey = RegisterKey(m_hRsa, CALG_RSA_SIGN, 2048);
  m_trace.Clear();
  BYTE buffer[16] = {};
  DWORD length = sizeof buffer;
  EXPECT_FALSE(CPCoreSignHash(m_hRsa, h, AT_SIGNATURE, nullptr, 0, buffer, &length));
  EXPECT_EQ(linesOf("CPCoreSignHash"),
            (std::vector<std::string>{"Check parameters SUCCESS", "Check parameters SUCCESS",
                                      "Check if it's valid container. SUCCESS",
                                      "Check if it's valid hash. SUCCESS",
                                      "Is the hash handle belong to the provider? SUCCESS",
                                      "CPCoreGetUserKey SUCCESS", "Check if it's valid key. SUCCESS",
                                      "Is the key handle belong to the provider? SUCCESS",
                                      "Check pdwSigLen (Error code: 0x000000ea)"}));
  m_trace.Clear();
  EXPECT_FALSE(CPCoreVerifySignature(m_hRsa, h, buffer, sizeof buffer, hKey, nullptr, 0));
  EXPECT_EQ(linesOf("CPCoreVerifySignature"),
            (std::vector<std::string>{"Check parameters SUCCESS",
                                      "Check if it's valid container. SUCCESS",
                                      "Check if it's valid hash. SUCCESS",
                                      "Check if it's valid key. SUCCESS",
                                      "Is the hash handle belong to the provider? SUCCESS",
                                      "Is the key handle belong to the provider? SUCCESS",
                                      "Check key type SUCCESS",
                                      "Check cbSigLen (Error code: 0x80090006)"}));
}

}  // namespace
}  // namespace merro::testing
