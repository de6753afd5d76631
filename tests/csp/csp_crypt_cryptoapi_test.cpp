// Key import, encryption, decryption and random data as CryptoAPI programs
// reach them: merrocsp.dll loaded by advapi32, one token in the simulator
// whose user PIN was never changed and C:\windows\TAVR.flag present, so the
// factory PIN stands in for every prompt. Each test keeps its one provider
// handle open from its first call to its last (advapi32 unloads the library
// at the last release). OpenSSL wraps the session keys, encrypts for the
// token's keys, makes the private keys and judges ciphertexts, digests and
// signatures.
#include <openssl/evp.h>

#include "tests/csp/cryptoapi_fixture.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/csp/public_key_blob_oracle.h"
#include "tests/csp/session_cipher_oracle.h"
#include "tests/provider/cipher_oracles.h"
#include "tests/provider/support/enrolment_material.h"
#include "tests/provider/support/rsa_blob_oracle.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"

namespace {

using merro::testing::Bytes;
using merro::testing::Reversed;
using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::OpenToken;
using merro::testing::Outcome;
using merro::testing::PkeyPtr;
using merro::testing::SessionCipher;
using namespace merro::testing::csp;

constexpr DWORD Code(HRESULT hr) { return static_cast<DWORD>(hr); }
constexpr auto kCallLimit = std::chrono::seconds(120);

Bytes Pattern(size_t n, std::uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<std::uint8_t>(seed + 31 * i);
  }
  return out;
}
void AppendDword(Bytes* out, DWORD v) {
  for (int i = 0; i < 4; ++i) {
    out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}
Bytes BlobHeader(BYTE type, BYTE version, ALG_ID alg) {
  Bytes b{type, version, 0, 0};
  AppendDword(&b, alg);
  return b;
}

using Key = ScopedKey;
using Hash = ScopedHash;

// A call's result and last error, bounded in time: a prompt nobody answers
// fails the test instead of hanging it.
Outcome Bounded(const std::function<BOOL()>& call) {
  return CallWithin(kCallLimit, [&call] {
    ::SetLastError(0xdeadbeef);
    return call();
  });
}

struct Crypted {
  Outcome outcome;
  Bytes data;  // the buffer after the call, cut to the length on success
  DWORD length;
};

// CryptEncrypt over `in` in a buffer of bufLen bytes (at least the input).
Crypted Encrypt(HCRYPTKEY hKey, const Bytes& in, BOOL final, DWORD bufLen, HCRYPTHASH hHash = 0) {
  Crypted c{{}, in, static_cast<DWORD>(in.size())};
  c.data.resize(std::max<size_t>(bufLen, in.size()));
  c.outcome = Bounded([&] {
    return ::CryptEncrypt(hKey, hHash, final, 0, c.data.data(), &c.length, bufLen);
  });
  if (c.outcome.result) {
    c.data.resize(c.length);
  }
  return c;
}
Crypted Decrypt(HCRYPTKEY hKey, const Bytes& in, BOOL final, HCRYPTHASH hHash = 0) {
  Crypted c{{}, in, static_cast<DWORD>(in.size())};
  c.outcome = Bounded(
      [&] { return ::CryptDecrypt(hKey, hHash, final, 0, c.data.data(), &c.length); });
  if (c.outcome.result) {
    c.data.resize(c.length);
  }
  return c;
}

Outcome Import(HCRYPTPROV h, const Bytes& blob, Key* key, DWORD flags = 0) {
  return Bounded([&] {
    return ::CryptImportKey(h, blob.data(), static_cast<DWORD>(blob.size()), 0, flags, &key->h);
  });
}

Bytes ExportPublic(HCRYPTKEY h) {
  Bytes blob(512);
  DWORD length = static_cast<DWORD>(blob.size());
  const Outcome o =
      Bounded([&] { return ::CryptExportKey(h, 0, PUBLICKEYBLOB, 0, blob.data(), &length); });
  EXPECT_TRUE(o.result) << std::hex << o.error;
  blob.resize(o.result ? length : 0);
  return blob;
}

// The modulus of an RSA PUBLICKEYBLOB, most significant byte first.
Bytes ModulusOf(const Bytes& blob) { return Reversed(Bytes(blob.begin() + 20, blob.end())); }
// X || Y of an SM2 PUBLICKEYBLOB, most significant byte first each.
Bytes PointOf(const Bytes& blob) {
  Bytes xy = Reversed(Bytes(blob.begin() + 12, blob.begin() + 44));
  const Bytes y = Reversed(Bytes(blob.begin() + 76, blob.begin() + 108));
  xy.insert(xy.end(), y.begin(), y.end());
  return xy;
}

// OpenSSL's PKCS#1 type-2 encryption under an RSA PUBLICKEYBLOB's key,
// least significant byte first as CryptoAPI has it.
Bytes SealFor(const Bytes& publicBlob, const Bytes& data) {
  const Bytes n = ModulusOf(publicBlob);
  Bytes block(n.size());
  EXPECT_EQ(merro::crypto::BuildPkcs1EncryptionBlock(data.data(), static_cast<DWORD>(data.size()),
                                                     block.data(),
                                                     static_cast<DWORD>(block.size())),
            S_OK);
  return Reversed(merro::testing::RawRsaPublic(n, Bytes{1, 0, 1}, block));
}

Bytes SimpleBlob(ALG_ID alg, const Bytes& wrapped, ALG_ID wrapAlg = CALG_RSA_KEYX) {
  Bytes b = BlobHeader(SIMPLEBLOB, 2, alg);
  AppendDword(&b, wrapAlg);
  b.insert(b.end(), wrapped.begin(), wrapped.end());
  return b;
}

// Signs data with the container's exchange key: SHA-1 for RSA, SM3 for SM2.
Bytes SignWithExchangeKey(HCRYPTPROV h, ALG_ID hashAlg, const Bytes& data) {
  Hash hash;
  EXPECT_TRUE(::CryptCreateHash(h, hashAlg, 0, 0, &hash.h)) << std::hex << ::GetLastError();
  EXPECT_TRUE(::CryptHashData(hash.h, data.data(), static_cast<DWORD>(data.size()), 0));
  Bytes signature(256);
  DWORD length = static_cast<DWORD>(signature.size());
  const Outcome o = Bounded([&] {
    return ::CryptSignHashW(hash.h, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &length);
  });
  EXPECT_TRUE(o.result) << std::hex << o.error;
  signature.resize(o.result ? length : 0);
  return signature;
}

class CspCrypt : public CspCryptoApi {
 protected:
  // A new container with an exchange key pair; the pair's PUBLICKEYBLOB.
  Bytes NewContainerWithExchangeKey(const char* name, ALG_ID alg, DWORD flags) {
    Outcome o = Bounded([&] {
      return ::CryptAcquireContextA(&m_provider.h, name, kProviderName, PROV_RSA_FULL,
                                    CRYPT_NEWKEYSET);
    });
    EXPECT_TRUE(o.result) << name << " " << std::hex << o.error;
    Key generated;
    o = Bounded([&] { return ::CryptGenKey(m_provider.h, alg, flags, &generated.h); });
    EXPECT_TRUE(o.result) << name << " " << std::hex << o.error;
    return o.result ? ExportPublic(generated.h) : Bytes();
  }
  // A session key unwrapped from a SIMPLEBLOB OpenSSL sealed for the
  // container's exchange key.
  void ImportSession(const Bytes& exchangeBlob, ALG_ID alg, const Bytes& keyBytes, Key* key) {
    const Outcome o = Import(m_provider.h, SimpleBlob(alg, SealFor(exchangeBlob, keyBytes)), key);
    ASSERT_TRUE(o.result) << alg << " " << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
  }

  TavrFlag m_flag{true};
  Provider m_provider;  // the test's one provider handle
};

// Blobs refused by what they carry, as advapi32 hands them over.
TEST_F(CspCrypt, ImportRefusesBlobsWithTheirCodes) {
  const Bytes exchange = NewContainerWithExchangeKey("import refusals", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(exchange.size(), 148u);
  Bytes version3 = BlobHeader(PRIVATEKEYBLOB, 3, CALG_RSA_KEYX);
  version3.resize(596);
  Bytes signKey = BlobHeader(PRIVATEKEYBLOB, 2, CALG_RSA_SIGN);
  signKey.resize(596);
  const struct {
    const char* what;
    Bytes blob;
    DWORD code;
  } cases[] = {
      {"5 bytes", Bytes{SIMPLEBLOB, 2, 0, 0, 1}, Code(NTE_BAD_DATA)},
      {"PUBLICKEYBLOB", exchange, Code(NTE_NOT_SUPPORTED)},
      {"SIMPLEBLOB under CALG_RSA_SIGN", SimpleBlob(CALG_DES, Bytes(128, 7), CALG_RSA_SIGN), 1},
      {"PRIVATEKEYBLOB version 3", version3, Code(NTE_BAD_VER)},
      {"PRIVATEKEYBLOB of CALG_RSA_SIGN", signKey, Code(NTE_BAD_TYPE)},
  };
  for (const auto& c : cases) {
    Key key;
    const Outcome o = Import(m_provider.h, c.blob, &key);
    EXPECT_FALSE(o.result) << c.what;
    EXPECT_EQ(o.error, c.code) << c.what;
    EXPECT_EQ(key.h, 0u) << c.what;
  }
}

// Session keys from SIMPLEBLOBs cipher as OpenSSL does, in one call and in
// pieces, decrypt back, and so do their copies. Triple DES with two keys
// fails at its first use.
TEST_F(CspCrypt, SessionKeysFromSimpleBlobsCipherAsOpenSsl) {
  const Bytes exchange = NewContainerWithExchangeKey("session keys", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(exchange.size(), 148u);
  const struct {
    ALG_ID alg;
    SessionCipher cipher;
    size_t keyBytes;
  } keys[] = {{CALG_3DES, SessionCipher::kTripleDes, 24},
              {CALG_DES, SessionCipher::kDes, 8},
              {CALG_RC4, SessionCipher::kRc4, 16}};
  const Bytes plain = Pattern(45, 0x30);
  for (const auto& k : keys) {
    SCOPED_TRACE(k.alg);
    const Bytes keyBytes = Pattern(k.keyBytes, static_cast<std::uint8_t>(k.alg));
    const Bytes expected = merro::testing::OpenSslSessionEncrypt(k.cipher, keyBytes, plain);
    ASSERT_FALSE(expected.empty());
    Key key;
    ASSERT_NO_FATAL_FAILURE(ImportSession(exchange, k.alg, keyBytes, &key));

    const Crypted whole = Encrypt(key.h, plain, TRUE, 64);
    ASSERT_TRUE(whole.outcome.result) << std::hex << whole.outcome.error;
    EXPECT_EQ(whole.outcome.error, 0u);
    EXPECT_EQ(whole.data, expected);

    Bytes joined;
    for (size_t at = 0; at < plain.size(); at += 16) {
      const Bytes piece(plain.begin() + at, plain.begin() + std::min(plain.size(), at + 16));
      const Crypted c = Encrypt(key.h, piece, at + 16 >= plain.size(), 32);
      ASSERT_TRUE(c.outcome.result) << at << " " << std::hex << c.outcome.error;
      joined.insert(joined.end(), c.data.begin(), c.data.end());
    }
    EXPECT_EQ(joined, expected);

    const Crypted opened = Decrypt(key.h, expected, TRUE);
    ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
    EXPECT_EQ(opened.data, plain);

    Key copy;
    const Outcome duplicated =
        Bounded([&] { return ::CryptDuplicateKey(key.h, nullptr, 0, &copy.h); });
    ASSERT_TRUE(duplicated.result) << std::hex << duplicated.error;
    const Crypted again = Encrypt(copy.h, plain, TRUE, 64);
    ASSERT_TRUE(again.outcome.result) << std::hex << again.outcome.error;
    EXPECT_EQ(again.data, expected);
  }

  Key twoKey;
  ASSERT_NO_FATAL_FAILURE(ImportSession(exchange, CALG_3DES_112, Pattern(16, 1), &twoKey));
  const Crypted refused = Encrypt(twoKey.h, plain, TRUE, 64);
  EXPECT_FALSE(refused.outcome.result);
  EXPECT_EQ(refused.outcome.error, Code(NTE_BAD_KEY));
  EXPECT_EQ(Bytes(refused.data.begin(), refused.data.begin() + plain.size()), plain);
}

// KP_ALGID keeps what does no harm: a container key moves between the
// signature and exchange kinds of its own family, a session key takes its
// own algorithm (in the middle of a message too). Any other algorithm is
// refused and the key stays what it was: the session key still encrypts as
// OpenSSL does under its own bytes, never under zeros, and the exchange key
// still opens OpenSSL's ciphertext.
TEST_F(CspCrypt, KeyAlgorithmChangesThatWouldHarmTheKeyAreRefused) {
  const Bytes exchange = NewContainerWithExchangeKey("algid", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(exchange.size(), 148u);
  Key user;
  ASSERT_TRUE(::CryptGetUserKey(m_provider.h, AT_KEYEXCHANGE, &user.h));
  const Bytes keyBytes = Pattern(24, 0x77);
  Key session;
  ASSERT_NO_FATAL_FAILURE(ImportSession(exchange, CALG_3DES, keyBytes, &session));

  const auto setAlg = [](HCRYPTKEY h, ALG_ID alg) {
    return Bounded([&] {
      return ::CryptSetKeyParam(h, KP_ALGID, reinterpret_cast<const BYTE*>(&alg), 0);
    });
  };
  const auto algOf = [](HCRYPTKEY h) {
    ALG_ID alg = 0;
    DWORD length = sizeof alg;
    EXPECT_TRUE(::CryptGetKeyParam(h, KP_ALGID, reinterpret_cast<BYTE*>(&alg), &length, 0));
    return alg;
  };
  struct Row {
    const char* what;
    HCRYPTKEY h;
    ALG_ID alg;
    ALG_ID held;
  } const rows[] = {
      {"exchange key to DES", user.h, CALG_DES, CALG_RSA_KEYX},
      {"exchange key to 3DES", user.h, CALG_3DES, CALG_RSA_KEYX},
      {"exchange key to RC4", user.h, CALG_RC4, CALG_RSA_KEYX},
      {"exchange key to SM2 exchange", user.h, CALG_SM2_KEYX, CALG_RSA_KEYX},
      {"exchange key to SM2 signature", user.h, CALG_SM2_SIGN, CALG_RSA_KEYX},
      {"3DES key to DES", session.h, CALG_DES, CALG_3DES},
      {"3DES key to two-key 3DES", session.h, CALG_3DES_112, CALG_3DES},
      {"3DES key to RC4", session.h, CALG_RC4, CALG_3DES},
      {"3DES key to RSA exchange", session.h, CALG_RSA_KEYX, CALG_3DES},
      {"3DES key to SM2 signature", session.h, CALG_SM2_SIGN, CALG_3DES},
  };
  for (const Row& r : rows) {
    const Outcome o = setAlg(r.h, r.alg);
    EXPECT_FALSE(o.result) << r.what;
    EXPECT_EQ(o.error, 0x803400BBu) << r.what;
    EXPECT_EQ(algOf(r.h), r.held) << r.what;
  }

  // What stays possible.
  EXPECT_TRUE(setAlg(user.h, CALG_RSA_SIGN).result);
  EXPECT_EQ(algOf(user.h), ALG_ID{CALG_RSA_SIGN});
  EXPECT_TRUE(setAlg(user.h, CALG_RSA_KEYX).result);
  EXPECT_EQ(algOf(user.h), ALG_ID{CALG_RSA_KEYX});

  const Bytes plain = Pattern(45, 0x30);
  const Bytes expected = merro::testing::OpenSslSessionEncrypt(SessionCipher::kTripleDes,
                                                               keyBytes, plain);
  ASSERT_FALSE(expected.empty());
  const Bytes head(plain.begin(), plain.begin() + 16);
  const Bytes tail(plain.begin() + 16, plain.end());
  const Crypted first = Encrypt(session.h, head, FALSE, 32);
  ASSERT_TRUE(first.outcome.result) << std::hex << first.outcome.error;
  EXPECT_TRUE(setAlg(session.h, CALG_3DES).result);
  const Crypted last = Encrypt(session.h, tail, TRUE, 64);
  ASSERT_TRUE(last.outcome.result) << std::hex << last.outcome.error;
  Bytes joined = first.data;
  joined.insert(joined.end(), last.data.begin(), last.data.end());
  EXPECT_EQ(joined, expected);
  EXPECT_EQ(Encrypt(session.h, plain, TRUE, 64).data, expected);

  const Crypted opened = Decrypt(user.h, SealFor(exchange, plain), TRUE);
  ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
  EXPECT_EQ(opened.data, plain);
}

// The room an encryption needs counts its padding block, and a short
// buffer is refused before anything is ciphered: the same call with room
// then gives OpenSSL's ciphertext. A size query answers the length and
// changes nothing.
TEST_F(CspCrypt, RoomIsCheckedBeforeAnythingIsCiphered) {
  const Bytes exchange = NewContainerWithExchangeKey("room", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(exchange.size(), 148u);
  const Bytes keyBytes = Pattern(8, 0x51);
  Key key;
  ASSERT_NO_FATAL_FAILURE(ImportSession(exchange, CALG_DES, keyBytes, &key));

  const Bytes eight = Pattern(8, 1);
  Crypted c = Encrypt(key.h, eight, TRUE, 8);
  EXPECT_FALSE(c.outcome.result);
  EXPECT_EQ(c.outcome.error, DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(c.data, eight);
  c = Encrypt(key.h, eight, TRUE, 16);
  ASSERT_TRUE(c.outcome.result) << std::hex << c.outcome.error;
  EXPECT_EQ(c.data, merro::testing::OpenSslSessionEncrypt(SessionCipher::kDes, keyBytes, eight));

  const Bytes ten = Pattern(10, 2);
  c = Encrypt(key.h, ten, TRUE, 15);
  EXPECT_FALSE(c.outcome.result);
  EXPECT_EQ(c.outcome.error, DWORD{ERROR_INVALID_PARAMETER});

  DWORD length = 10;
  const Outcome query =
      Bounded([&] { return ::CryptEncrypt(key.h, 0, TRUE, 0, nullptr, &length, 0); });
  EXPECT_TRUE(query.result) << std::hex << query.error;
  EXPECT_EQ(query.error, 0u);
  EXPECT_EQ(length, 16u);
  c = Encrypt(key.h, ten, TRUE, 16);
  ASSERT_TRUE(c.outcome.result) << std::hex << c.outcome.error;
  EXPECT_EQ(c.data, merro::testing::OpenSslSessionEncrypt(SessionCipher::kDes, keyBytes, ten));
}

// A finished hash stops an encryption before anything is ciphered; a
// decryption with a hash feeds it the plaintext.
TEST_F(CspCrypt, HashesFedByCiphers) {
  const Bytes exchange = NewContainerWithExchangeKey("hashes", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(exchange.size(), 148u);
  const Bytes keyBytes = Pattern(24, 0x61);
  Key key;
  ASSERT_NO_FATAL_FAILURE(ImportSession(exchange, CALG_3DES, keyBytes, &key));
  const Bytes plain = Pattern(30, 3);

  Hash finished;
  ASSERT_TRUE(::CryptCreateHash(m_provider.h, CALG_SHA1, 0, 0, &finished.h));
  BYTE digest[20] = {};
  DWORD digestLength = sizeof digest;
  ASSERT_TRUE(::CryptGetHashParam(finished.h, HP_HASHVAL, digest, &digestLength, 0));
  const Crypted refused = Encrypt(key.h, plain, TRUE, 64, finished.h);
  EXPECT_FALSE(refused.outcome.result);
  EXPECT_EQ(refused.outcome.error, Code(NTE_BAD_HASH_STATE));
  EXPECT_EQ(Bytes(refused.data.begin(), refused.data.begin() + plain.size()), plain);

  const Bytes sealed =
      merro::testing::OpenSslSessionEncrypt(SessionCipher::kTripleDes, keyBytes, plain);
  Hash fed;
  ASSERT_TRUE(::CryptCreateHash(m_provider.h, CALG_SHA1, 0, 0, &fed.h));
  const Crypted opened = Decrypt(key.h, sealed, TRUE, fed.h);
  ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
  EXPECT_EQ(opened.data, plain);
  digestLength = sizeof digest;
  ASSERT_TRUE(::CryptGetHashParam(fed.h, HP_HASHVAL, digest, &digestLength, 0));
  EXPECT_EQ(Bytes(digest, digest + digestLength), merro::testing::Digest(EVP_sha1(), plain));
}

// The exchange key's RSA ciphertext is the modulus long and crosses least
// significant byte first: the provider opens its own and OpenSSL's.
TEST_F(CspCrypt, RsaExchangeKeyEncryptsAndDecrypts) {
  const Bytes exchange = NewContainerWithExchangeKey("rsa", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(exchange.size(), 148u);
  Key user;
  ASSERT_TRUE(::CryptGetUserKey(m_provider.h, AT_KEYEXCHANGE, &user.h));
  const Bytes plain = Pattern(40, 9);

  const Crypted sealed = Encrypt(user.h, plain, TRUE, 128);
  ASSERT_TRUE(sealed.outcome.result) << std::hex << sealed.outcome.error;
  EXPECT_EQ(sealed.data.size(), 128u);
  Crypted opened = Decrypt(user.h, sealed.data, TRUE);
  ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
  EXPECT_EQ(opened.data, plain);

  opened = Decrypt(user.h, SealFor(exchange, plain), TRUE);
  ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
  EXPECT_EQ(opened.data, plain);
}

// OpenSSL's SM2 ciphertexts, without the leading 04, in both component
// orders, open with the container's SM2 exchange key; so does the
// provider's own, which CryptEncrypt gives in the token's form (04 first),
// and a byte changed in it is refused.
TEST_F(CspCrypt, Sm2CiphertextsFromOpenSslOpen) {
  const Bytes exchange = NewContainerWithExchangeKey("sm2 cipher", CALG_SM2_KEYX, 0);
  ASSERT_EQ(exchange.size(), 140u);
  Key user;
  ASSERT_TRUE(::CryptGetUserKey(m_provider.h, AT_KEYEXCHANGE, &user.h));
  const Bytes plain = Pattern(24, 0x21);
  const merro::testing::Sm2Parts parts = merro::testing::OpenSslSm2Encrypt(PointOf(exchange), plain);
  for (const Bytes& ciphertext : {parts.XyC2C3(), parts.XyC3C2()}) {
    const Crypted opened = Decrypt(user.h, ciphertext, TRUE);
    ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
    EXPECT_EQ(opened.data, plain);
  }

  const Crypted sealed = Encrypt(user.h, plain, TRUE, 24 + 97);
  ASSERT_TRUE(sealed.outcome.result) << std::hex << sealed.outcome.error;
  ASSERT_EQ(sealed.data.size(), 24u + 97u);
  EXPECT_EQ(sealed.data[0], 0x04);
  const Crypted opened = Decrypt(user.h, sealed.data, TRUE);
  ASSERT_TRUE(opened.outcome.result) << std::hex << opened.outcome.error;
  EXPECT_EQ(opened.data, plain);
  Bytes changed = sealed.data;
  changed[1 + 64 + 3] ^= 0x01;  // in C2
  EXPECT_FALSE(Decrypt(user.h, changed, TRUE).outcome.result);
}

// An OpenSSL RSA-1024 key in the plain form goes into the container's
// exchange slot: the handle is the exchange key, whose public blob is the
// imported key's, and what it signs the imported key verifies. An RSA key
// into an SM2 container is refused.
TEST_F(CspCrypt, PlainRsaPrivateKeyBlobBecomesTheExchangeKey) {
  const merro::testing::RsaBlobKey rsa = merro::testing::GenerateRsaBlobKey(1024);
  Bytes blob = BlobHeader(PRIVATEKEYBLOB, 2, CALG_RSA_KEYX);
  AppendDword(&blob, 0x32415352);  // "RSA2"
  AppendDword(&blob, 1024);
  AppendDword(&blob, 65537);
  blob.insert(blob.end(), rsa.body.begin(), rsa.body.end());
  ASSERT_EQ(blob.size(), 596u);

  const Bytes generated = NewContainerWithExchangeKey("rsa import", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_EQ(generated.size(), 148u);
  {
    Key imported;
    const Outcome o = Import(m_provider.h, blob, &imported);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
    const Bytes publicBlob = ExportPublic(imported.h);
    ASSERT_EQ(publicBlob.size(), 148u);
    EXPECT_EQ(ModulusOf(publicBlob), rsa.n);
  }
  const Bytes message = Pattern(50, 4);
  const Bytes signature = SignWithExchangeKey(m_provider.h, CALG_SHA1, message);
  const PkeyPtr key = merro::testing::RsaPublicKey(rsa.n, rsa.e);
  EXPECT_TRUE(merro::testing::RsaVerifyDigest(
      key.get(), EVP_sha1(), merro::testing::Digest(EVP_sha1(), message), Reversed(signature)));

  ::CryptReleaseContext(m_provider.h, 0);
  m_provider.h = 0;
  const Bytes sm2 = NewContainerWithExchangeKey("sm2 refuses rsa", CALG_SM2_KEYX, 0);
  ASSERT_EQ(sm2.size(), 140u);
  Key refused;
  const Outcome o = Import(m_provider.h, blob, &refused);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, Code(NTE_BAD_ALGID));
}

// An SM2 pair in the simulator's wrapped form, named by reference, goes
// into the SM2 container's exchange slot, and what the slot then signs the
// pair's public key verifies.
TEST_F(CspCrypt, Sm2PairByReferenceBecomesTheExchangeKey) {
  merro::testing::Sm2Material material;
  {
    // The wrapping key is read from the token before the provider opens it.
    OpenToken token;
    ASSERT_TRUE(DeviceBench::Open(0, &token));
    material = merro::testing::MakeSm2Material(token.get(), merro::testing::Sm2Form::Wrapped);
  }
  ASSERT_FALSE(material.material.empty());
  const Bytes generated = NewContainerWithExchangeKey("sm2 import", CALG_SM2_KEYX, 0);
  ASSERT_EQ(generated.size(), 140u);

  Bytes blob = BlobHeader(PRIVATEKEYBLOB, 2, CALG_SM2_KEYX);
  AppendDword(&blob, 0);
  AppendDword(&blob, static_cast<DWORD>(material.material.size() * 8));
  const auto address =
      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(material.material.data()));
  for (int i = 0; i < 8; ++i) {
    blob.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  }
  Bytes xy(material.key.x, material.key.x + 32);
  xy.insert(xy.end(), material.key.y, material.key.y + 32);
  {
    Key imported;
    const Outcome o = Import(m_provider.h, blob, &imported);
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
    EXPECT_EQ(PointOf(ExportPublic(imported.h)), xy);
  }
  const Bytes message = Pattern(33, 8);
  const Bytes signature = SignWithExchangeKey(m_provider.h, CALG_SM3, message);
  ASSERT_EQ(signature.size(), 64u);
  Bytes rs = Reversed(Bytes(signature.begin(), signature.begin() + 32));
  const Bytes s = Reversed(Bytes(signature.begin() + 32, signature.end()));
  rs.insert(rs.end(), s.begin(), s.end());
  const PkeyPtr key = merro::testing::Sm2PublicKey(xy);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(key.get(), message, rs));
}

// Random data from the host's generator: other bytes on every call and no
// command to the token. A verification context names no token.
TEST_F(CspCrypt, RandomDataComesFromTheHost) {
  NewContainerWithExchangeKey("random", AT_KEYEXCHANGE, 1024u << 16);
  ASSERT_NE(m_provider.h, 0u);
  DeviceBench::CommandLog(0, /*clear=*/true);
  for (DWORD size : {1u, 128u, 1000u}) {
    SCOPED_TRACE(size);
    Bytes a(size, 0);
    Bytes b(size, 0);
    Outcome o = Bounded([&] { return ::CryptGenRandom(m_provider.h, size, a.data()); });
    ASSERT_TRUE(o.result) << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
    o = Bounded([&] { return ::CryptGenRandom(m_provider.h, size, b.data()); });
    ASSERT_TRUE(o.result) << std::hex << o.error;
    if (size > 1) {
      EXPECT_NE(a, b);
    }
  }
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty());

  BYTE byte = 0;
  Outcome o = Bounded([&] { return ::CryptGenRandom(m_provider.h, 0, &byte); });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, DWORD{ERROR_INVALID_PARAMETER});

  Provider verify;
  o = AcquireInto(&verify, nullptr, CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(o.result) << std::hex << o.error;
  o = Bounded([&] { return ::CryptGenRandom(verify.h, 8, &byte); });
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, Code(NTE_BAD_KEYSET));
}

}  // namespace
