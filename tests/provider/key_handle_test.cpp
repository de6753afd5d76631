// The key object's own state: the algorithm table, the copy of a session
// key, the RSA key record made from a private-key blob's body, the
// parameter readers' size queries and the end of a running cipher.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "provider/key_handle.h"
#include "tests/provider/key_handle_bench.h"
#include "tests/provider/support/rsa_blob_oracle.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace merro::testing {
namespace {

using provider::KeyHandle;
using Bytes = std::vector<BYTE>;

Bytes KeyBytes(const KeyHandle& key) {
  return Bytes(key.m_stSymKey.pbData, key.m_stSymKey.pbData + key.m_stSymKey.cbData);
}
Bytes IVBytes(const KeyHandle& key) {
  return key.m_pbyIV == nullptr ? Bytes() : Bytes(key.m_pbyIV, key.m_pbyIV + key.m_dwIVBits / 8);
}

// What InitKeyHandle leaves in a new object, field by field.
struct AlgorithmCase {
  ALG_ID given;
  ALG_ID algId;
  DWORD keySpec;
  DWORD keyType;
  DWORD modulusBits;
  DWORD blockBits;
  DWORD mode;
  DWORD ivBits;
  DWORD keyBytes;
};

TEST(KeyHandleState, InitKeyHandleByAlgorithm) {
  const AlgorithmCase cases[] = {
      {AT_KEYEXCHANGE, CALG_RSA_KEYX, AT_KEYEXCHANGE, 1, 0, 0, 0, 0, 0},
      {AT_SIGNATURE, CALG_RSA_SIGN, AT_SIGNATURE, 1, 0, 0, 0, 0, 0},
      {CALG_RSA_SIGN, CALG_RSA_SIGN, AT_SIGNATURE, 1, 0, 0, 0, 0, 0},
      {CALG_RSA_KEYX, CALG_RSA_KEYX, AT_KEYEXCHANGE, 1, 0, 0, 0, 0, 0},
      {CALG_SM2_SIGN, CALG_SM2_SIGN, AT_SIGNATURE, 2, 0, 0, 0, 0, 0},
      {CALG_SM2_KEYX, CALG_SM2_KEYX, AT_KEYEXCHANGE, 2, 0, 0, 0, 0, 0},
      {CALG_DES, CALG_DES, 0, 3, 64, 64, CRYPT_MODE_CBC, 64, 8},
      {CALG_3DES_112, CALG_3DES_112, 0, 3, 128, 64, CRYPT_MODE_CBC, 64, 16},
      {CALG_3DES, CALG_3DES, 0, 3, 192, 64, CRYPT_MODE_CBC, 64, 24},
      {CALG_RC4, CALG_RC4, 0, 3, 128, 8, 0, 0, 16},
  };
  for (const AlgorithmCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ALG_ID 0x" << std::hex << c.given);
    KeyHandle key;
    ASSERT_EQ(key.InitKeyHandle(c.given, 0), S_OK);
    EXPECT_EQ(key.m_uAlgID, c.algId);
    EXPECT_EQ(key.m_dwKeySpec, c.keySpec);
    EXPECT_EQ(key.m_dwKeyType, c.keyType);
    EXPECT_EQ(key.m_dwModulusBits, c.modulusBits);
    EXPECT_EQ(key.m_dwBlockBits, c.blockBits);
    EXPECT_EQ(key.m_dwMode, c.mode);
    EXPECT_EQ(key.m_dwIVBits, c.ivBits);
    EXPECT_EQ(IVBytes(key), Bytes(c.ivBits / 8, 0));
    EXPECT_EQ(key.m_pbyIV == nullptr, c.ivBits == 0);
    EXPECT_EQ(KeyBytes(key), Bytes(c.keyBytes, 0));
  }
}

TEST(KeyHandleState, ReInitialisationReplacesTheBuffersAndRefusesOtherAlgorithms) {
  KeyHandle key;
  ASSERT_EQ(key.InitKeyHandle(CALG_3DES, 0), S_OK);
  std::fill_n(key.m_stSymKey.pbData, 24, 0x5A);
  std::fill_n(key.m_pbyIV, 8, 0xA5);

  // An algorithm the provider has not: nothing changes.
  EXPECT_EQ(key.InitKeyHandle(CALG_SHA1, 0), H(0x80070032));
  EXPECT_EQ(key.m_uAlgID, static_cast<ALG_ID>(CALG_3DES));
  EXPECT_EQ(key.m_dwModulusBits, 192u);
  EXPECT_EQ(KeyBytes(key), Bytes(24, 0x5A));
  EXPECT_EQ(IVBytes(key), Bytes(8, 0xA5));

  // RC4 after triple DES: a fresh zeroed key and no IV left behind.
  ASSERT_EQ(key.InitKeyHandle(CALG_RC4, 0), S_OK);
  EXPECT_EQ(KeyBytes(key), Bytes(16, 0));
  EXPECT_EQ(key.m_pbyIV, nullptr);
  EXPECT_EQ(key.m_dwIVBits, 0u);
}

TEST(KeyHandleState, DuplicateKeyCopiesOnlyTheKeyBytes) {
  KeyHandle source;
  ASSERT_EQ(source.InitKeyHandle(CALG_3DES, 0), S_OK);
  for (DWORD i = 0; i < source.m_stSymKey.cbData; ++i) {
    source.m_stSymKey.pbData[i] = static_cast<BYTE>(i + 1);
  }
  std::fill_n(source.m_pbyIV, 8, 0xEE);
  source.m_dwMode = CRYPT_MODE_ECB;

  KeyHandle copy;
  ASSERT_EQ(copy.InitKeyHandle(CALG_3DES, 0), S_OK);
  ASSERT_EQ(copy.DuplicateKey(source), S_OK);
  EXPECT_EQ(KeyBytes(copy), KeyBytes(source));
  EXPECT_NE(copy.m_stSymKey.pbData, source.m_stSymKey.pbData);
  EXPECT_EQ(IVBytes(copy), Bytes(8, 0)) << "the IV is the new object's own";
  EXPECT_EQ(copy.m_dwMode, static_cast<DWORD>(CRYPT_MODE_CBC));

  // Onto itself: the bytes survive.
  ASSERT_EQ(copy.DuplicateKey(copy), S_OK);
  EXPECT_EQ(KeyBytes(copy), KeyBytes(source));

  // A source without key bytes leaves the zeroed key of the new object.
  KeyHandle empty;
  KeyHandle target;
  ASSERT_EQ(target.InitKeyHandle(CALG_DES, 0), S_OK);
  ASSERT_EQ(target.DuplicateKey(empty), S_OK);
  EXPECT_EQ(KeyBytes(target), Bytes(8, 0));
}

TEST(KeyHandleState, RsaKeyRecordFromABlobBody) {
  const RsaBlobKey rsa1024 = GenerateRsaBlobKey(1024);
  const RsaBlobKey rsa2048 = GenerateRsaBlobKey(2048);
  ASSERT_EQ(rsa1024.body.size(), 576u);
  ASSERT_EQ(rsa2048.body.size(), 1152u);
  Bytes tooLong(2304, 0x11);  // an RSA-4096 body: beyond the record's fields
  Bytes notNinths = rsa1024.body;
  notNinths.push_back(0);

  const struct {
    const char* name;
    const Bytes* body;
    DWORD size;
    const RsaBlobKey* key;  // null: refused
  } cases[] = {
      {"RSA-1024", &rsa1024.body, 576, &rsa1024},
      {"RSA-2048", &rsa2048.body, 1152, &rsa2048},
      {"no whole body", &notNinths, 577, nullptr},
      {"RSA-4096", &tooLong, 2304, nullptr},
      {"empty", &rsa1024.body, 0, nullptr},
  };
  KeyHandle key;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RSA_KEY record;
    std::memset(&record, 0xCC, sizeof record);
    const HRESULT hr = key.ConstructRSAPrivateKeyFromPrivateKeyBlob(c.body->data(), c.size, &record);
    if (c.key == nullptr) {
      EXPECT_EQ(hr, E_INVALIDARG);
      const Bytes untouched(reinterpret_cast<BYTE*>(&record),
                            reinterpret_cast<BYTE*>(&record) + sizeof record);
      EXPECT_EQ(untouched, Bytes(sizeof record, 0xCC)) << "nothing written";
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    const size_t m = c.key->n.size();
    EXPECT_EQ(record.nLen, m);
    EXPECT_EQ(Bytes(record.n, record.n + m), c.key->n);
    EXPECT_EQ(record.eLen, 3u);
    EXPECT_EQ(Bytes(record.e, record.e + 3), (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(c.key->e, (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(record.dLen, m);
    EXPECT_EQ(Bytes(record.d, record.d + m), c.key->d);
  }
  EXPECT_EQ(key.ConstructRSAPrivateKeyFromPrivateKeyBlob(nullptr, 576, nullptr), E_INVALIDARG);
  EXPECT_EQ(key.ConstructRSAPrivateKeyFromPrivateKeyBlob(rsa1024.body.data(), 576, nullptr),
            E_INVALIDARG);
}

// One parameter reader: its value as bytes and how to call it.
struct ParamReader {
  const char* name;
  HRESULT (*read)(KeyHandle&, BYTE*, DWORD*);
};

const ParamReader kReaders[] = {
    {"KP_ALGID", [](KeyHandle& k, BYTE* p, DWORD* n) { return k.ExportAlgID(reinterpret_cast<DWORD*>(p), n); }},
    {"KP_BLOCKLEN", [](KeyHandle& k, BYTE* p, DWORD* n) { return k.ExportBlockLength(reinterpret_cast<DWORD*>(p), n); }},
    {"KP_KEYLEN", [](KeyHandle& k, BYTE* p, DWORD* n) { return k.ExportKeyLength(reinterpret_cast<DWORD*>(p), n); }},
    {"KP_PERMISSIONS", [](KeyHandle& k, BYTE* p, DWORD* n) { return k.ExportPermissions(reinterpret_cast<DWORD*>(p), n); }},
    {"KP_IV", [](KeyHandle& k, BYTE* p, DWORD* n) { return k.ExportIV(p, n); }},
};

Bytes Dword(DWORD v) { return Bytes(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4); }

TEST(KeyHandleState, ParameterReadersFollowTheSizeQueryRule) {
  KeyHandle key;
  ASSERT_EQ(key.InitKeyHandle(CALG_3DES, 0), S_OK);
  key.m_dwPermissions = 0x3F;
  for (int i = 0; i < 8; ++i) {
    key.m_pbyIV[i] = static_cast<BYTE>(0xB0 + i);
  }
  const Bytes expected[] = {Dword(CALG_3DES), Dword(64), Dword(192), Dword(0x3F),
                            {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7}};
  for (size_t r = 0; r < std::size(kReaders); ++r) {
    SCOPED_TRACE(kReaders[r].name);
    const DWORD needed = static_cast<DWORD>(expected[r].size());
    DWORD length = 1000;
    EXPECT_EQ(kReaders[r].read(key, nullptr, &length), S_OK);
    EXPECT_EQ(length, needed);

    Bytes buffer(needed + 4, 0xCC);
    length = needed - 1;
    EXPECT_EQ(kReaders[r].read(key, buffer.data(), &length), HRESULT_FROM_WIN32(ERROR_MORE_DATA));
    EXPECT_EQ(length, needed) << "the needed length is told";
    EXPECT_EQ(buffer, Bytes(needed + 4, 0xCC));

    length = needed + 4;
    EXPECT_EQ(kReaders[r].read(key, buffer.data(), &length), S_OK);
    EXPECT_EQ(length, needed);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + needed), expected[r]);
    EXPECT_EQ(Bytes(buffer.begin() + needed, buffer.end()), Bytes(4, 0xCC));

    EXPECT_EQ(kReaders[r].read(key, buffer.data(), nullptr), E_INVALIDARG);
  }

  // RC4 has no IV: its size is 0, and an empty buffer takes it.
  ASSERT_EQ(key.InitKeyHandle(CALG_RC4, 0), S_OK);
  DWORD length = 5;
  BYTE one = 0xCC;
  EXPECT_EQ(key.ExportIV(&one, &length), S_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(one, 0xCC);
}

class KeyHandleEnd : public KeyHandleBench {};

TEST_F(KeyHandleEnd, DestructionFinishesARunningCipher) {
  auto key = Key(CALG_3DES);
  ASSERT_EQ(key->SymEncryptInit(), S_OK);
  ASSERT_NE(key->m_pEvpCtx, nullptr);
  m_trace.Clear();
  key.reset();
  const auto lines = m_trace.Of("KeyHandle::~KeyHandle");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find("SymKeyFinal"), std::string::npos);
  EXPECT_EQ(lines[0].result, 0u) << "the context was finished and freed";
}

}  // namespace
}  // namespace merro::testing
