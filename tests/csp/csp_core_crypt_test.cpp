// The provider core's key import, encryption, decryption and random data,
// called directly: one daemon token with an RSA-1024 exchange key, the
// token layer started over it, two provider handles on its container, and
// key objects made by the test and registered as the core registers its
// own. OpenSSL wraps the session keys, encrypts for the token's key and
// judges the session ciphertexts. PINs are never kept, so every private-key
// operation asks the scripted UI once.
#include <gtest/gtest.h>

#include <windows.h>
// After windows.h:
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "csp/cp_core.h"
#include "csp/registries.h"
#include "foundation/alg_ids.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"
#include "tests/csp/host_window_in_dialog.h"
#include "tests/csp/session_cipher_oracle.h"
#include "tests/provider/cipher_oracles.h"
#include "tests/provider/support/provider_bench.h"
#include "tests/provider/support/rsa_blob_oracle.h"
#include "tests/support/captured_trace.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"

namespace merro::testing {
namespace {

using merro::csp::g_vtrKeyHandleSet;
using merro::csp::g_vtrProvHandleSet;
using merro::provider::Container;
using merro::provider::HashHandle;
using merro::provider::KeyHandle;

constexpr char kContainerName[] = "crypt container";
constexpr HCRYPTKEY kNeverHandedOut = 0x12340;

Bytes Pattern(size_t n, std::uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<std::uint8_t>(seed + 29 * i);
  }
  return out;
}

void AppendDword(Bytes* out, DWORD v) {
  for (int i = 0; i < 4; ++i) {
    out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}

Bytes BlobHeader(BYTE type, BYTE version, WORD reserved, ALG_ID alg) {
  Bytes b{type, version, static_cast<std::uint8_t>(reserved),
          static_cast<std::uint8_t>(reserved >> 8)};
  AppendDword(&b, alg);
  return b;
}

// A SIMPLEBLOB: header, wrapping ALG_ID, the wrapped key as given.
Bytes SimpleBlob(ALG_ID alg, const Bytes& wrapped, ALG_ID wrapAlg = CALG_RSA_KEYX) {
  Bytes b = BlobHeader(SIMPLEBLOB, 2, 0, alg);
  AppendDword(&b, wrapAlg);
  b.insert(b.end(), wrapped.begin(), wrapped.end());
  return b;
}

// A by-reference PRIVATEKEYBLOB body naming `address` (the RSA form also
// carries the modulus bits).
Bytes ReferenceBlob(ALG_ID alg, WORD reserved, DWORD modulusBits, DWORD dataBits,
                    const void* address) {
  Bytes b = BlobHeader(PRIVATEKEYBLOB, 2, reserved, alg);
  AppendDword(&b, 0);
  if (alg == CALG_RSA_KEYX) {
    AppendDword(&b, modulusBits);
  }
  AppendDword(&b, dataBits);
  if (alg == CALG_RSA_KEYX) {
    AppendDword(&b, 0);
  }
  const auto ull = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(address));
  for (int i = 0; i < 8; ++i) {
    b.push_back(static_cast<std::uint8_t>(ull >> (8 * i)));
  }
  return b;
}

constexpr DWORD kRsa2 = 0x32415352;  // "RSA2"

// The blob without its last n bytes.
Bytes Cut(Bytes b, size_t n) {
  b.resize(b.size() - n);
  return b;
}

// A plain RSA PRIVATEKEYBLOB of `bits` with a zero body.
Bytes PlainRsaBlob(DWORD magic, DWORD bits, size_t bodyBytes) {
  Bytes b = BlobHeader(PRIVATEKEYBLOB, 2, 0, CALG_RSA_KEYX);
  AppendDword(&b, magic);
  AppendDword(&b, bits);
  AppendDword(&b, 65537);
  b.resize(b.size() + bodyBytes);
  return b;
}

// The session-key algorithms, their OpenSSL judges and key lengths.
struct SessionKeyKind {
  ALG_ID alg;
  SessionCipher cipher;
  size_t keyBytes;
};
constexpr SessionKeyKind kSessionKeys[] = {{CALG_DES, SessionCipher::kDes, 8},
                                           {CALG_3DES, SessionCipher::kTripleDes, 24},
                                           {CALG_RC4, SessionCipher::kRc4, 16}};

struct Outcome {
  BOOL ok;
  DWORD error;
  Bytes data;  // the caller's buffer after the call, cut to *pdwDataLen on success
  DWORD length;
};

class CoreCrypt : public ProviderBench {
 protected:
  void SetUp() override {
    ProviderBench::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    std::vector<ContainerKey> keys{Key(AT_KEYEXCHANGE, MR_ALG_RSA1024)};
    ASSERT_TRUE(MakeContainer(0, kContainerName, &keys));
    m_pair = keys[0].pair;
    m_settings.dwKeepPINTimeout = 0;
    ASSERT_TRUE(StartTokenLayer());
    m_hProv = merro::csp::AddProvHandle(
        Container::CreateRegisteredContainer(kContainerName, TRUE, FALSE));
    m_hOther = merro::csp::AddProvHandle(
        Container::CreateRegisteredContainer(kContainerName, TRUE, FALSE));
    ASSERT_NE(m_hProv, 0u);
    ASSERT_NE(m_hOther, 0u);
    m_hExchange = AddKey(m_hProv, CALG_RSA_KEYX);
  }
  void TearDown() override {
    merro::csp::RemoveProvHandleWithItsObjects(m_hProv);
    merro::csp::RemoveProvHandleWithItsObjects(m_hOther);
    ProviderBench::TearDown();
  }

  // A key object of hProv's container for the algorithm, with these key
  // bytes, registered.
  HCRYPTKEY AddKey(HCRYPTPROV hProv, ALG_ID alg, const Bytes& bytes = {}) {
    auto key = std::make_unique<KeyHandle>();
    key->m_pContainer = g_vtrProvHandleSet.Lookup(hProv);
    EXPECT_EQ(key->InitKeyHandle(alg, 0), S_OK);
    if (alg == CALG_RSA_KEYX) {
      key->m_dwModulusBits = 1024;
    }
    EXPECT_EQ(key->m_stSymKey.cbData, bytes.size());
    std::copy(bytes.begin(), bytes.end(), key->m_stSymKey.pbData);
    return merro::csp::AddKeyHandle(std::move(key));
  }
  static KeyHandle* Object(HCRYPTKEY hKey) { return g_vtrKeyHandleSet.Lookup(hKey); }

  void QueuePin() { m_ui->Push(std::string("pin ") + kUserPin); }

  // The token's PKCS#1 type-2 encryption of data under its exchange key
  // (OpenSSL's raw RSA), least significant byte first as CryptoAPI has it.
  Bytes SealForToken(const Bytes& data) const {
    Bytes block(m_pair.rsaModulus.size());
    EXPECT_EQ(merro::crypto::BuildPkcs1EncryptionBlock(data.data(), static_cast<DWORD>(data.size()),
                                                       block.data(),
                                                       static_cast<DWORD>(block.size())),
              S_OK);
    return Reversed(RawRsaPublic(m_pair.rsaModulus, m_pair.rsaExponent, block));
  }

  Outcome Import(const Bytes& blob, HCRYPTKEY hPubKey, HCRYPTKEY* phKey, DWORD dwFlags = 0) {
    ::SetLastError(0xdeadbeef);
    const BOOL ok = CPCoreImportKey(m_hProv, blob.data(), static_cast<DWORD>(blob.size()), hPubKey,
                                    dwFlags, phKey);
    return {ok, ::GetLastError(), {}, 0};
  }

  // CPCoreEncrypt over a copy of `in` in a buffer of bufLen bytes (at least
  // the input).
  Outcome Encrypt(HCRYPTKEY hKey, const Bytes& in, BOOL final, DWORD bufLen,
                  HCRYPTHASH hHash = 0) {
    Bytes buffer(in);
    buffer.resize(std::max<size_t>(bufLen, in.size()));
    DWORD length = static_cast<DWORD>(in.size());
    ::SetLastError(0xdeadbeef);
    const BOOL ok = CPCoreEncrypt(m_hProv, hKey, hHash, final, 0, buffer.data(), &length, bufLen);
    Outcome o{ok, ::GetLastError(), buffer, length};
    if (ok) {
      o.data.resize(length);
    }
    return o;
  }
  Outcome Decrypt(HCRYPTKEY hKey, const Bytes& in, BOOL final, HCRYPTHASH hHash = 0) {
    Bytes buffer(in);
    DWORD length = static_cast<DWORD>(in.size());
    ::SetLastError(0xdeadbeef);
    const BOOL ok = CPCoreDecrypt(m_hProv, hKey, hHash, final, 0, buffer.data(), &length);
    Outcome o{ok, ::GetLastError(), buffer, length};
    if (ok) {
      o.data.resize(length);
    }
    return o;
  }

  TokenKeyPair m_pair;
  HCRYPTPROV m_hProv = 0;
  HCRYPTPROV m_hOther = 0;
  HCRYPTKEY m_hExchange = 0;
};

// Blobs refused by what they carry alone: nothing registered, the token
// not asked, *phKey untouched.
TEST_F(CoreCrypt, ImportRefusesBlobsByHeaderAndLengthBeforeTheToken) {
  const HCRYPTKEY hDes = AddKey(m_hProv, CALG_DES, Bytes(8, 1));
  const HCRYPTKEY hForeign = AddKey(m_hOther, CALG_RSA_KEYX);
  const Bytes wrapped(128, 0x5A);
  const BYTE keyData[16] = {1};
  Bytes version3 = PlainRsaBlob(kRsa2, 1024, 576);
  version3[1] = 3;
  struct Case {
    const char* what;
    Bytes blob;
    HCRYPTKEY hPubKey;
    HRESULT code;
  } const cases[] = {
      {"5 bytes", Bytes{SIMPLEBLOB, 2, 0, 0, 1}, 0, NTE_BAD_DATA},
      {"SIMPLEBLOB header only", BlobHeader(SIMPLEBLOB, 2, 0, CALG_DES), 0, NTE_BAD_DATA},
      {"SIMPLEBLOB under CALG_RSA_SIGN", SimpleBlob(CALG_DES, wrapped, CALG_RSA_SIGN), 0, 1},
      {"PUBLICKEYBLOB", BlobHeader(PUBLICKEYBLOB, 2, 0, CALG_RSA_KEYX), 0, NTE_NOT_SUPPORTED},
      {"PLAINTEXTKEYBLOB", BlobHeader(PLAINTEXTKEYBLOB, 2, 0, CALG_DES), 0, NTE_BAD_TYPE},
      {"SYMMETRICWRAPKEYBLOB", BlobHeader(SYMMETRICWRAPKEYBLOB, 2, 0, CALG_DES), 0, NTE_BAD_TYPE},
      {"type 5", BlobHeader(5, 2, 0, CALG_DES), 0, NTE_BAD_TYPE},
      {"hPubKey never handed out", SimpleBlob(CALG_DES, wrapped), kNeverHandedOut, NTE_BAD_KEY},
      {"hPubKey of another provider", SimpleBlob(CALG_DES, wrapped), hForeign, NTE_BAD_KEY},
      {"hPubKey a DES key", SimpleBlob(CALG_DES, wrapped), hDes, NTE_BAD_KEY},
      {"wrapped key 127 bytes", SimpleBlob(CALG_DES, Bytes(127, 1)), m_hExchange, NTE_BAD_DATA},
      {"wrapped key 129 bytes", SimpleBlob(CALG_DES, Bytes(129, 1)), m_hExchange, NTE_BAD_DATA},
      {"bVersion 3", version3, 0, NTE_BAD_VER},
      {"CALG_RSA_SIGN", BlobHeader(PRIVATEKEYBLOB, 2, 0, CALG_RSA_SIGN), 0, NTE_BAD_TYPE},
      {"plain, 19 bytes", Cut(PlainRsaBlob(kRsa2, 1024, 0), 1), 0, NTE_BAD_DATA},
      {"plain, 2048 bits", PlainRsaBlob(kRsa2, 2048, 1152), 0, NTE_BAD_DATA},
      {"plain, RSA1", PlainRsaBlob(0x31415352, 1024, 576), 0, NTE_BAD_DATA},
      {"plain, one byte short", PlainRsaBlob(kRsa2, 1024, 575), 0, NTE_BAD_DATA},
      {"RSA by reference, 31 bytes", Cut(ReferenceBlob(CALG_RSA_KEYX, 1, 2048, 128, keyData), 1), 0,
       NTE_BAD_DATA},
      {"RSA by reference, null", ReferenceBlob(CALG_RSA_KEYX, 1, 2048, 128, nullptr), 0,
       NTE_BAD_DATA},
      {"RSA by reference, 0 bytes", ReferenceBlob(CALG_RSA_KEYX, 1, 2048, 0, keyData), 0,
       NTE_BAD_DATA},
      {"RSA by reference, 2049 bytes", ReferenceBlob(CALG_RSA_KEYX, 1, 2048, 2049 * 8, keyData),
       0, NTE_BAD_DATA},
      {"SM2 by reference, 23 bytes", Cut(ReferenceBlob(CALG_SM2_KEYX, 0, 0, 128, keyData), 1), 0,
       NTE_BAD_DATA},
      {"SM2 by reference, null", ReferenceBlob(CALG_SM2_KEYX, 0, 0, 128, nullptr), 0,
       NTE_BAD_DATA},
      {"SM2 by reference, 255 bytes", ReferenceBlob(CALG_SM2_KEYX, 0, 0, 255 * 8, keyData), 0,
       NTE_BAD_DATA},
  };
  const size_t keys = g_vtrKeyHandleSet.Handles().size();
  ClearCommandLogs();
  for (const Case& c : cases) {
    HCRYPTKEY hKey = 0x77;
    const Outcome o = Import(c.blob, c.hPubKey, &hKey);
    EXPECT_FALSE(o.ok) << c.what;
    EXPECT_EQ(o.error, static_cast<DWORD>(c.code)) << c.what;
    EXPECT_EQ(hKey, 0x77u) << c.what;
  }
  EXPECT_EQ(g_vtrKeyHandleSet.Handles().size(), keys);
  EXPECT_TRUE(CommandLog(0).empty());
  EXPECT_TRUE(m_ui->Transcript().empty());
}

// A plain RSA-1024 key goes into the exchange slot: the handle is the
// container's exchange key, registered once, and the token holds the
// imported modulus; one destroy leaves no entry. A failed import (a refused
// PIN) leaves no key behind either.
TEST_F(CoreCrypt, PrivateKeyImportHandsOutTheExchangeKeyOnce) {
  const RsaBlobKey rsa = GenerateRsaBlobKey(1024);
  Bytes blob = PlainRsaBlob(kRsa2, 1024, 0);
  blob.insert(blob.end(), rsa.body.begin(), rsa.body.end());
  const size_t before = g_vtrKeyHandleSet.Handles().size();

  m_ui->Push("cancel");
  HCRYPTKEY hKey = 0x77;
  Outcome o = Import(blob, 0, &hKey);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
  EXPECT_EQ(hKey, 0x77u);
  EXPECT_EQ(g_vtrKeyHandleSet.Handles().size(), before);

  QueuePin();
  o = Import(blob, 0, &hKey, CRYPT_EXPORTABLE);
  ASSERT_TRUE(o.ok) << std::hex << o.error;
  EXPECT_EQ(o.error, 0u);
  EXPECT_EQ(g_vtrKeyHandleSet.Handles().size(), before + 1);
  KeyHandle* key = Object(hKey);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->m_uAlgID, CALG_RSA_KEYX);
  EXPECT_EQ(key->m_dwKeySpec, DWORD{AT_KEYEXCHANGE});
  EXPECT_EQ(key->m_dwModulusBits, 1024u);
  EXPECT_NE(key->m_dwPermissions & CRYPT_EXPORTABLE, 0u);
  BYTE* pbyN = nullptr;
  BYTE* pbyE = nullptr;
  DWORD dwN = 0;
  DWORD dwE = 0;
  ASSERT_EQ(key->ExportPublicKey(&pbyN, &dwN, &pbyE, &dwE), S_OK);
  const std::unique_ptr<BYTE[]> nOwner(pbyN);
  const std::unique_ptr<BYTE[]> eOwner(pbyE);
  EXPECT_EQ(Bytes(pbyN, pbyN + dwN), rsa.n);

  ::SetLastError(0xdeadbeef);
  EXPECT_TRUE(CPCoreDestroyKey(m_hProv, hKey));
  EXPECT_FALSE(g_vtrKeyHandleSet.IsKnown(hKey));
  EXPECT_EQ(g_vtrKeyHandleSet.Handles().size(), before);
}

// Session keys wrapped by OpenSSL under the token's exchange key come out
// as registered keys of hProv with exactly those bytes, and cipher as
// OpenSSL does. An unwrapped block of another length than the algorithm's
// key, or of an algorithm that is no session key, makes no key.
TEST_F(CoreCrypt, SimpleBlobsUnwrapSessionKeysThatCipherAsOpenSsl) {
  const Bytes plain = Pattern(21, 3);
  for (const auto& k : kSessionKeys) {
    SCOPED_TRACE(k.alg);
    const Bytes keyBytes = Pattern(k.keyBytes, static_cast<std::uint8_t>(k.alg));
    QueuePin();
    HCRYPTKEY hKey = 0;
    const Outcome imported = Import(SimpleBlob(k.alg, SealForToken(keyBytes)), m_hExchange, &hKey);
    ASSERT_TRUE(imported.ok) << std::hex << imported.error;
    EXPECT_EQ(imported.error, 0u);
    ASSERT_TRUE(g_vtrKeyHandleSet.IsKnown(hKey));
    EXPECT_EQ(g_vtrKeyHandleSet.OwnerOf(hKey), m_hProv);
    const KeyHandle* key = Object(hKey);
    EXPECT_EQ(key->m_uAlgID, k.alg);
    EXPECT_EQ(Bytes(key->m_stSymKey.pbData, key->m_stSymKey.pbData + key->m_stSymKey.cbData),
              keyBytes);

    const Outcome sealed = Encrypt(hKey, plain, TRUE, 64);
    ASSERT_TRUE(sealed.ok) << std::hex << sealed.error;
    EXPECT_EQ(sealed.data, OpenSslSessionEncrypt(k.cipher, keyBytes, plain));
    const Outcome opened = Decrypt(hKey, sealed.data, TRUE);
    ASSERT_TRUE(opened.ok) << std::hex << opened.error;
    EXPECT_EQ(opened.data, plain);
  }

  const struct {
    const char* what;
    ALG_ID alg;
    size_t keyBytes;
    HRESULT code;
  } refused[] = {
      {"DES with 16 key bytes", CALG_DES, 16, NTE_BAD_DATA},
      {"3DES with 8 key bytes", CALG_3DES, 8, NTE_BAD_DATA},
      {"an empty key", CALG_RC4, 0, NTE_BAD_DATA},
      {"an exchange key", CALG_RSA_KEYX, 16, NTE_BAD_ALGID},
      {"RC2", CALG_RC2, 16, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)},
  };
  const size_t registered = g_vtrKeyHandleSet.Handles().size();
  for (const auto& r : refused) {
    QueuePin();
    HCRYPTKEY hKey = 0x77;
    const Outcome o = Import(SimpleBlob(r.alg, SealForToken(Pattern(r.keyBytes, 9))), m_hExchange,
                             &hKey);
    EXPECT_FALSE(o.ok) << r.what;
    EXPECT_EQ(o.error, static_cast<DWORD>(r.code)) << r.what;
    EXPECT_EQ(hKey, 0x77u) << r.what;
  }
  EXPECT_EQ(g_vtrKeyHandleSet.Handles().size(), registered);
}

// One call with Final, and pieces with Final FALSE and a last call with
// Final, give OpenSSL's ciphertext; decryption gives the plaintext back.
TEST_F(CoreCrypt, SessionCiphersMatchOpenSslInOneCallAndInPieces) {
  for (const auto& k : kSessionKeys) {
    const Bytes keyBytes = Pattern(k.keyBytes, 0x41);
    for (size_t size : {size_t{1}, size_t{8}, size_t{37}}) {
      SCOPED_TRACE(std::to_string(k.alg) + " " + std::to_string(size));
      const Bytes plain = Pattern(size, static_cast<std::uint8_t>(size));
      const Bytes expected = OpenSslSessionEncrypt(k.cipher, keyBytes, plain);
      ASSERT_FALSE(expected.empty());

      const HCRYPTKEY hKey = AddKey(m_hProv, k.alg, keyBytes);
      const Outcome whole = Encrypt(hKey, plain, TRUE, static_cast<DWORD>(expected.size()));
      ASSERT_TRUE(whole.ok) << std::hex << whole.error;
      EXPECT_EQ(whole.data, expected);

      // Pieces of 5 bytes: each call may hold bytes back for the next.
      const HCRYPTKEY hPieces = AddKey(m_hProv, k.alg, keyBytes);
      Bytes joined;
      for (size_t at = 0; at < size; at += 5) {
        const Bytes piece(plain.begin() + at, plain.begin() + std::min(size, at + 5));
        const BOOL last = at + 5 >= size;
        const Outcome o = Encrypt(hPieces, piece, last, 16);
        ASSERT_TRUE(o.ok) << at << " " << std::hex << o.error;
        joined.insert(joined.end(), o.data.begin(), o.data.end());
      }
      EXPECT_EQ(joined, expected);

      const Outcome opened = Decrypt(hKey, expected, TRUE);
      ASSERT_TRUE(opened.ok) << std::hex << opened.error;
      EXPECT_EQ(opened.data, plain);
    }
  }
}

// The room needed counts the padding block and the bytes held back from
// earlier calls, and is checked before the cipher takes anything: a refused
// call can be repeated with a larger buffer. A size query answers the
// length and changes nothing.
TEST_F(CoreCrypt, RoomIsCheckedBeforeTheCipherTakesAnything) {
  const Bytes keyBytes = Pattern(8, 0x11);
  const HCRYPTKEY hKey = AddKey(m_hProv, CALG_DES, keyBytes);
  KeyHandle* key = Object(hKey);
  const Bytes eight = Pattern(8, 1);
  {
    CapturedTrace t(trace::Deliverable::Provider, 0x01);
    const Outcome o = Encrypt(hKey, eight, TRUE, 8);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Bytes(o.data.begin(), o.data.begin() + 8), eight);
    ASSERT_FALSE(t.records.empty());
    EXPECT_EQ(Utf16Text(t.records.back().args.at(0)),
              "CPCoreEncrypt - Check cbBufLen <??dwBlockSize (Error code: 0x00000057)");
  }
  EXPECT_EQ(key->m_pEvpCtx, nullptr);
  const Outcome retried = Encrypt(hKey, eight, TRUE, 16);
  ASSERT_TRUE(retried.ok) << std::hex << retried.error;
  EXPECT_EQ(retried.data, OpenSslSessionEncrypt(SessionCipher::kDes, keyBytes, eight));

  const Bytes ten = Pattern(10, 2);
  Outcome o = Encrypt(hKey, ten, TRUE, 15);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(key->m_pEvpCtx, nullptr);

  DWORD length = 10;
  ::SetLastError(0xdeadbeef);
  EXPECT_TRUE(CPCoreEncrypt(m_hProv, hKey, 0, TRUE, 0, nullptr, &length, 0));
  EXPECT_EQ(::GetLastError(), 0u);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(key->m_pEvpCtx, nullptr);

  // Five bytes wait in the cipher: three more with Final make two blocks,
  // which eight bytes of room cannot take. Refused, and the five still wait.
  const Bytes first = Pattern(5, 3);
  const Bytes last = Pattern(3, 4);
  o = Encrypt(hKey, first, FALSE, 5);
  ASSERT_TRUE(o.ok);
  EXPECT_TRUE(o.data.empty());
  length = 3;
  EXPECT_TRUE(CPCoreEncrypt(m_hProv, hKey, 0, TRUE, 0, nullptr, &length, 0));
  EXPECT_EQ(length, 16u);
  o = Encrypt(hKey, last, TRUE, 8);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Bytes(o.data.begin(), o.data.begin() + 3), last);
  EXPECT_NE(key->m_pEvpCtx, nullptr);
  o = Encrypt(hKey, last, TRUE, 16);
  ASSERT_TRUE(o.ok) << std::hex << o.error;
  Bytes plain = first;
  plain.insert(plain.end(), last.begin(), last.end());
  EXPECT_EQ(o.data, OpenSslSessionEncrypt(SessionCipher::kDes, keyBytes, plain));
}

// Decryption in pieces, as a program decrypts a stream: calls without
// Final take whole blocks and give back as much plaintext as they were
// given, and the last call no more than its own ciphertext (the cipher
// holds its last block back for the padding; that must not push a block
// into the last call). Joined, the pieces are the plaintext. A piece that
// is not whole blocks is refused before anything is ciphered, with the
// buffer left alone.
TEST_F(CoreCrypt, DecryptionWritesNoMoreThanTheCiphertextHeld) {
  const struct {
    ALG_ID alg;
    size_t keyBytes;
    size_t plainBytes;
    size_t piece;
  } cases[] = {{CALG_DES, 8, 12, 8},   {CALG_DES, 8, 16, 8},  {CALG_DES, 8, 29, 16},
               {CALG_3DES, 24, 29, 8}, {CALG_3DES, 24, 7, 8}, {CALG_RC4, 16, 29, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.alg) + " " + std::to_string(c.plainBytes));
    const Bytes keyBytes = Pattern(c.keyBytes, 0x21);
    const Bytes plain = Pattern(c.plainBytes, 5);
    const HCRYPTKEY hSource = AddKey(m_hProv, c.alg, keyBytes);
    const Outcome sealed = Encrypt(hSource, plain, TRUE, 64);
    ASSERT_TRUE(sealed.ok) << std::hex << sealed.error;

    const HCRYPTKEY hKey = AddKey(m_hProv, c.alg, keyBytes);
    Bytes joined;
    for (size_t at = 0; at < sealed.data.size(); at += c.piece) {
      const size_t end = std::min(sealed.data.size(), at + c.piece);
      const Bytes piece(sealed.data.begin() + at, sealed.data.begin() + end);
      const Outcome o = Decrypt(hKey, piece, end == sealed.data.size());
      ASSERT_TRUE(o.ok) << at << " " << std::hex << o.error;
      EXPECT_LE(o.data.size(), piece.size()) << at;
      joined.insert(joined.end(), o.data.begin(), o.data.end());
    }
    EXPECT_EQ(joined, plain);
  }

  const HCRYPTKEY hDes = AddKey(m_hProv, CALG_DES, Pattern(8, 0x21));
  for (size_t size : {size_t{5}, size_t{12}}) {
    const Bytes piece = Pattern(size, 9);
    const Outcome o = Decrypt(hDes, piece, FALSE);
    EXPECT_FALSE(o.ok) << size;
    EXPECT_EQ(o.error, static_cast<DWORD>(NTE_BAD_DATA)) << size;
    EXPECT_EQ(o.data, piece) << size;
    EXPECT_EQ(Object(hDes)->m_pEvpCtx, nullptr) << size;
  }
}

// The key and hash checks come before anything is ciphered, in both
// directions; the caller's data stays as it was.
TEST_F(CoreCrypt, KeyAndHashChecksComeBeforeAnyCipher) {
  const HCRYPTKEY hRc2 = AddKey(m_hProv, CALG_DES, Pattern(8, 1));
  Object(hRc2)->m_uAlgID = CALG_RC2;
  const HCRYPTKEY hSha1 = AddKey(m_hProv, CALG_DES, Pattern(8, 1));
  Object(hSha1)->m_uAlgID = CALG_SHA1;
  const HCRYPTKEY hForeign = AddKey(m_hOther, CALG_DES, Pattern(8, 1));
  const HCRYPTKEY h3Des112 = AddKey(m_hProv, CALG_3DES_112, Pattern(16, 1));
  const HCRYPTKEY hDes = AddKey(m_hProv, CALG_DES, Pattern(8, 1));

  auto finished = std::make_unique<HashHandle>();
  finished->m_pContainer = g_vtrProvHandleSet.Lookup(m_hProv);
  finished->m_bFinal = TRUE;
  const HCRYPTHASH hFinished = merro::csp::AddHashHandle(std::move(finished));
  auto foreign = std::make_unique<HashHandle>();
  foreign->m_pContainer = g_vtrProvHandleSet.Lookup(m_hOther);
  const HCRYPTHASH hForeignHash = merro::csp::AddHashHandle(std::move(foreign));

  const struct {
    const char* what;
    HCRYPTKEY hKey;
    HCRYPTHASH hHash;
    HRESULT code;
  } cases[] = {
      {"key never handed out", kNeverHandedOut, 0, ERROR_INVALID_HANDLE},
      {"key of another provider", hForeign, 0, ERROR_INVALID_HANDLE},
      {"RC2", hRc2, 0, NTE_NOT_SUPPORTED},
      {"a hash ALG_ID", hSha1, 0, NTE_BAD_ALGID},
      {"3DES_112 at its first use", h3Des112, 0, NTE_BAD_KEY},
      {"hash never handed out", hDes, kNeverHandedOut, ERROR_INVALID_HANDLE},
      {"hash of another provider", hDes, hForeignHash, ERROR_INVALID_HANDLE},
      {"finished hash", hDes, hFinished, NTE_BAD_HASH_STATE},
  };
  const Bytes data = Pattern(16, 7);
  for (const auto& c : cases) {
    const Outcome enc = Encrypt(c.hKey, data, TRUE, 64, c.hHash);
    EXPECT_FALSE(enc.ok) << c.what;
    EXPECT_EQ(enc.error, static_cast<DWORD>(c.code)) << c.what;
    EXPECT_EQ(Bytes(enc.data.begin(), enc.data.begin() + 16), data) << c.what;
    const Outcome dec = Decrypt(c.hKey, data, TRUE, c.hHash);
    EXPECT_FALSE(dec.ok) << c.what;
    EXPECT_EQ(dec.error, static_cast<DWORD>(c.code)) << c.what;
    EXPECT_EQ(dec.data, data) << c.what;
  }
  EXPECT_EQ(Object(hDes)->m_pEvpCtx, nullptr);

  DWORD zero = 0;
  BYTE byte = 0;
  ::SetLastError(0xdeadbeef);
  EXPECT_FALSE(CPCoreEncrypt(m_hProv, hDes, 0, TRUE, 0, &byte, &zero, 8));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ::SetLastError(0xdeadbeef);
  EXPECT_FALSE(CPCoreDecrypt(m_hProv, hDes, 0, TRUE, 0, nullptr, &zero));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// An encryption the cipher refuses (triple DES with two keys, at its first
// use) leaves the hash it was given as it was: the same data encrypted
// again, with a key that ciphers, is hashed once.
TEST_F(CoreCrypt, RefusedEncryptionLeavesTheHashAsItWas) {
  const HCRYPTKEY h3Des112 = AddKey(m_hProv, CALG_3DES_112, Pattern(16, 1));
  const HCRYPTKEY hDes = AddKey(m_hProv, CALG_DES, Pattern(8, 1));
  HCRYPTHASH hHash = 0;
  ASSERT_TRUE(CPCoreCreateHash(m_hProv, CALG_SHA1, 0, 0, &hHash));
  const Bytes data = Pattern(16, 7);

  const Outcome refused = Encrypt(h3Des112, data, TRUE, 64, hHash);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.error, static_cast<DWORD>(NTE_BAD_KEY));
  const Outcome sealed = Encrypt(hDes, data, TRUE, 64, hHash);
  ASSERT_TRUE(sealed.ok) << std::hex << sealed.error;

  Bytes value(20);
  DWORD length = static_cast<DWORD>(value.size());
  ASSERT_TRUE(CPCoreGetHashParam(m_hProv, hHash, HP_HASHVAL, value.data(), &length, 0));
  EXPECT_EQ(value, Digest(EVP_sha1(), data));
}

// RSA crosses least significant byte first: the provider's ciphertext,
// reversed, is what the key object opens, and OpenSSL's sealed data,
// reversed, opens through the core. A refused PIN leaves the
// caller's ciphertext as it was.
TEST_F(CoreCrypt, RsaDataCrossesLeastSignificantByteFirst) {
  const Bytes plain = Pattern(20, 9);
  const Outcome sealed = Encrypt(m_hExchange, plain, TRUE, 128);
  ASSERT_TRUE(sealed.ok) << std::hex << sealed.error;
  ASSERT_EQ(sealed.data.size(), 128u);
  // The key object, which works most significant byte first, opens it
  // reversed.
  QueuePin();
  const Bytes reversed = Reversed(sealed.data);
  BYTE* pbyPlain = nullptr;
  DWORD dwPlain = 0;
  ASSERT_EQ(Object(m_hExchange)->AsymDecrypt(reversed.data(), 128, &pbyPlain, &dwPlain), S_OK);
  const std::unique_ptr<BYTE[]> plainOwner(pbyPlain);
  EXPECT_EQ(Bytes(pbyPlain, pbyPlain + dwPlain), plain);

  QueuePin();
  Outcome opened = Decrypt(m_hExchange, sealed.data, TRUE);
  ASSERT_TRUE(opened.ok) << std::hex << opened.error;
  EXPECT_EQ(opened.data, plain);

  const Bytes fromOpenSsl = SealForToken(plain);
  QueuePin();
  opened = Decrypt(m_hExchange, fromOpenSsl, TRUE);
  ASSERT_TRUE(opened.ok) << std::hex << opened.error;
  EXPECT_EQ(opened.data, plain);

  m_ui->Push("cancel");
  opened = Decrypt(m_hExchange, fromOpenSsl, TRUE);
  EXPECT_FALSE(opened.ok);
  EXPECT_EQ(opened.error, static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
  EXPECT_EQ(opened.data, fromOpenSsl);

  // A hash that refuses the plaintext (an SM3 digest whose token context is
  // gone) fails the call: the caller's ciphertext and length stay as they
  // were, as on every other failure.
  auto stale = std::make_unique<HashHandle>();
  stale->m_pContainer = g_vtrProvHandleSet.Lookup(m_hProv);
  stale->m_uAlgID = CALG_SM3;
  const HCRYPTHASH hStale = merro::csp::AddHashHandle(std::move(stale));
  QueuePin();
  opened = Decrypt(m_hExchange, fromOpenSsl, TRUE, hStale);
  EXPECT_FALSE(opened.ok);
  EXPECT_EQ(opened.error, static_cast<DWORD>(NTE_BAD_HASH_STATE));
  EXPECT_EQ(opened.data, fromOpenSsl);
  EXPECT_EQ(opened.length, fromOpenSsl.size());

  // The room for RSA is the modulus, asked or not.
  DWORD length = 20;
  EXPECT_TRUE(CPCoreEncrypt(m_hProv, m_hExchange, 0, TRUE, 0, nullptr, &length, 0));
  EXPECT_EQ(length, 128u);
  const Outcome cramped = Encrypt(m_hExchange, plain, TRUE, 127);
  EXPECT_FALSE(cramped.ok);
  EXPECT_EQ(cramped.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// A host's window procedure that runs inside the PIN prompt of a
// decryption destroys the key and releases the provider handle: both calls
// succeed and the handles are gone at once, while the key and its container
// live on until the decryption has opened the ciphertext.
TEST_F(CoreCrypt, AKeyReleasedInsideTheDecryptionsPinPromptLivesUntilItEnds) {
  const HCRYPTPROV hProv = merro::csp::AddProvHandle(
      Container::CreateRegisteredContainer(kContainerName, TRUE, FALSE));
  ASSERT_NE(hProv, 0u);
  const HCRYPTKEY hKey = AddKey(hProv, CALG_RSA_KEYX);
  const Bytes plain = Pattern(20, 0x42);
  Bytes buffer = SealForToken(plain);
  DWORD length = static_cast<DWORD>(buffer.size());

  BOOL destroyed = FALSE;
  BOOL released = FALSE;
  bool gone = false;
  const auto installed = HostWindowInDialog::Install("pin", [&] {
    destroyed = CPCoreDestroyKey(hProv, hKey);
    released = CPCoreReleaseContext(hProv, 0);
    gone = !merro::csp::IsKnownKeyHandle(hKey) && !merro::csp::IsKnownProvHandle(hProv);
  });
  QueuePin();
  ::SetLastError(0xdeadbeef);
  const BOOL ok = CPCoreDecrypt(hProv, hKey, 0, TRUE, 0, buffer.data(), &length);
  EXPECT_EQ(::GetLastError(), 0u);
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(released);
  EXPECT_TRUE(gone);
  ASSERT_TRUE(ok);
  buffer.resize(length);
  EXPECT_EQ(buffer, plain);
}

// Random data comes from the host's generator: no command reaches the
// token, and every call gives other bytes.
TEST_F(CoreCrypt, RandomDataComesFromTheHost) {
  ClearCommandLogs();
  for (DWORD size : {1u, 128u, 1000u}) {
    SCOPED_TRACE(size);
    Bytes a(size, 0);
    Bytes b(size, 0);
    ::SetLastError(0xdeadbeef);
    ASSERT_TRUE(CPCoreGenRandom(m_hProv, size, a.data()));
    EXPECT_EQ(::GetLastError(), 0u);
    ASSERT_TRUE(CPCoreGenRandom(m_hProv, size, b.data()));
    if (size > 1) {
      EXPECT_NE(a, b);
      EXPECT_NE(a, Bytes(size, 0));
    }
  }
  EXPECT_TRUE(CommandLog(0).empty());

  BYTE byte = 0;
  const struct {
    const char* what;
    HCRYPTPROV hProv;
    DWORD length;
    BYTE* buffer;
    DWORD code;
  } cases[] = {
      {"0 bytes", m_hProv, 0, &byte, ERROR_INVALID_PARAMETER},
      {"no buffer", m_hProv, 1, nullptr, ERROR_INVALID_PARAMETER},
      {"no provider", 0, 1, &byte, ERROR_INVALID_PARAMETER},
      {"unknown provider", kNeverHandedOut, 1, &byte, ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(CPCoreGenRandom(c.hProv, c.length, c.buffer)) << c.what;
    EXPECT_EQ(::GetLastError(), c.code) << c.what;
  }

  // A verification context names no token.
  const HCRYPTPROV hEphemeral =
      merro::csp::AddProvHandle(Container::CreateEphemeralContainer(TRUE, FALSE, TRUE));
  ASSERT_NE(hEphemeral, 0u);
  ::SetLastError(0xdeadbeef);
  EXPECT_FALSE(CPCoreGenRandom(hEphemeral, 8, &byte));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
  merro::csp::RemoveProvHandleWithItsObjects(hEphemeral);
}

}  // namespace
}  // namespace merro::testing
