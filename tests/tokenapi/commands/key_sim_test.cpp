// Keys over the in-process simulator: generation and export agree with what
// the token stores, clear and wrapped imports land in both halves, and the
// container flags follow.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

#include "tests/tokenapi/commands/token_files_fixture.h"
#include "tests/tokenapi/support/key_blobs.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/container_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/key_generation.h"
#include "tokensim/handlers/key_store.h"

namespace {

using merro::testing::ByteVec;
using merro::testing::NamedRecord;
using merro::tokensim::EvpPkeyPtr;
namespace keystore = merro::tokensim::keystore;

constexpr HRESULT kTokenRefusedData = static_cast<HRESULT>(0x80006A80);

ByteVec Param(const EVP_PKEY* key, const char* name, size_t n) {
  ByteVec out(n);
  EXPECT_TRUE(merro::tokensim::KeyParamBytes(key, name, out.data(), n)) << name;
  return out;
}

EvpPkeyPtr NewKey(const char* type, int bits) {
  EVP_PKEY* key = bits != 0 ? EVP_PKEY_Q_keygen(nullptr, nullptr, type, static_cast<size_t>(bits))
                            : EVP_PKEY_Q_keygen(nullptr, nullptr, type);
  return EvpPkeyPtr(key);
}

SM2_KEY Sm2Key(const EVP_PKEY* key) {
  SM2_KEY out;
  const ByteVec x = Param(key, OSSL_PKEY_PARAM_EC_PUB_X, 32);
  const ByteVec y = Param(key, OSSL_PKEY_PARAM_EC_PUB_Y, 32);
  const ByteVec d = Param(key, OSSL_PKEY_PARAM_PRIV_KEY, 32);
  std::memcpy(out.x, x.data(), 32);
  std::memcpy(out.y, y.data(), 32);
  std::memcpy(out.d, d.data(), 32);
  return out;
}

RSA_KEY RsaKey(const EVP_PKEY* key) {
  RSA_KEY out;
  std::memset(&out, 0, sizeof out);
  const size_t len = static_cast<size_t>(EVP_PKEY_get_bits(key) / 8);
  const ByteVec n = Param(key, OSSL_PKEY_PARAM_RSA_N, len);
  const ByteVec d = Param(key, OSSL_PKEY_PARAM_RSA_D, len);
  std::memcpy(out.n, n.data(), len);
  std::memcpy(out.d, d.data(), len);
  out.nLen = out.dLen = static_cast<DWORD>(len);
  const BYTE e[3] = {0x01, 0x00, 0x01};
  std::memcpy(out.e, e, 3);
  out.eLen = 3;
  return out;
}

class KeySim : public merro::testing::InitialisedTokenTest {
 protected:
  void SetUp() override {
    merro::tokensim::keygen::UseKeyCache(true);
    InitialisedTokenTest::SetUp();
    CONTAINER_RECORD record = NamedRecord("keys");
    ASSERT_EQ(mr_CreateContainer(m_ctx, &record), 0);
  }

  // The public half the token stores in a key file: RSA n || e, SM2 x || y.
  ByteVec StoredPublic(WORD fid, BYTE alg) {
    ByteVec out;
    m_sim->WithToken(0, [&](merro::tokensim::Token& token) {
      const merro::tokensim::TokenFile* file = token.Files().Find(fid);
      ASSERT_NE(file, nullptr);
      if (alg == MR_ALG_SM2) {
        EXPECT_TRUE(keystore::ReadSm2Public(*file, &out));
        return;
      }
      ByteVec n, e;
      EXPECT_TRUE(keystore::ReadRsaPublic(*file, alg, &n, &e));
      out = n;
      out.insert(out.end(), e.begin(), e.end());
    });
    return out;
  }

  // True when the token's private half signs what its public half verifies.
  bool HalvesFormAPair(WORD fid) {
    bool ok = false;
    m_sim->WithToken(0, [&](merro::tokensim::Token& token) {
      const merro::tokensim::TokenFile* file = token.Files().Find(fid);
      BYTE alg = keystore::kNoKey;
      const EvpPkeyPtr priv = keystore::PrivateKey(*file, &alg);
      const EvpPkeyPtr pub = keystore::PublicKey(*file, &alg);
      if (!priv || !pub) {
        return;
      }
      const BYTE message[] = "a message to sign";
      BYTE sig[512];
      size_t sigLen = sizeof sig;
      EVP_MD_CTX* sign = EVP_MD_CTX_new();
      EVP_MD_CTX* verify = EVP_MD_CTX_new();
      const EVP_MD* md = alg == keystore::kAlgSm2 ? EVP_sm3() : EVP_sha256();
      ok = EVP_DigestSignInit(sign, nullptr, md, nullptr, priv.get()) == 1 &&
           EVP_DigestSign(sign, sig, &sigLen, message, sizeof message) == 1 &&
           EVP_DigestVerifyInit(verify, nullptr, md, nullptr, pub.get()) == 1 &&
           EVP_DigestVerify(verify, sig, sigLen, message, sizeof message) == 1;
      EVP_MD_CTX_free(sign);
      EVP_MD_CTX_free(verify);
    });
    return ok;
  }

  // The public key of the token's key file 0x0012, which wrapped keys are
  // encrypted under.
  ByteVec TokenPublic() {
    ByteVec xy(64);
    EXPECT_EQ(merro::testing::TokenWrapPublicKey(m_ctx, xy.data()), 0);
    return xy;
  }
};

TEST_F(KeySim, GeneratedKeysExportAsStored) {
  const struct {
    BYTE alg;
    size_t publicLen;
  } cases[] = {{MR_ALG_SM2, 64}, {MR_ALG_RSA1024, 128}, {MR_ALG_RSA2048, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.alg));
    PutBytes(CTNR_FID, 0, {0x00});
    if (c.alg == MR_ALG_SM2) {
      BYTE xy[64];
      ASSERT_EQ(mr_GenerateKeyPair(m_ctx, c.alg, 0xC004, xy), 0);
      EXPECT_EQ(ByteVec(xy, xy + 64), StoredPublic(0xC004, c.alg));
    } else {
      RSA_KEY key;
      std::memset(&key, 0, sizeof key);
      ASSERT_EQ(mr_GenerateKeyPair(m_ctx, c.alg, 0xC004, &key), 0);
      EXPECT_EQ(key.nLen, c.publicLen);
      ByteVec exported(key.n, key.n + key.nLen);
      exported.insert(exported.end(), key.e, key.e + key.eLen);
      EXPECT_EQ(exported, StoredPublic(0xC004, c.alg));
      EXPECT_EQ(ByteVec(key.e, key.e + key.eLen), (ByteVec{0x01, 0x00, 0x01}));
    }
    EXPECT_TRUE(HalvesFormAPair(0xC004));
    EXPECT_EQ(Record(0).byFlag, 0x04) << "the sign key bit";
  }
}

TEST_F(KeySim, OnlySignKeyGenerationMarksTheRecord) {
  BYTE xy[64];
  ASSERT_EQ(mr_GenerateKeyPair(m_ctx, MR_ALG_SM2, 0xC001, xy), 0);
  EXPECT_EQ(Record(0).byFlag, 0x00) << "exchange key file";
  ASSERT_EQ(mr_GenerateKeyPair(m_ctx, MR_ALG_SM2, 0xC004, nullptr), 0);
  EXPECT_EQ(Record(0).byFlag, 0x00) << "no public-key buffer";
  // A key file outside the containers whose low nibble is 4.
  ASSERT_EQ(mr_CreateKeyFile(m_ctx, 0x0014), 0);
  ASSERT_EQ(mr_GenerateKeyPair(m_ctx, MR_ALG_SM2, 0x0014, xy), 0);
  EXPECT_EQ(Record(1).byFlag, 0xFF) << "slot 1 stays free";
  EXPECT_EQ(Record(0).byFlag, 0x00);
  EXPECT_NE(mr_GenerateKeyPair(m_ctx, MR_ALG_SM2, 0xC0F4, xy), 0) << "no such file";
}

TEST_F(KeySim, ClearImportsLandInBothHalves) {
  const EvpPkeyPtr sm2 = NewKey("SM2", 0);
  const EvpPkeyPtr rsa1024 = NewKey("RSA", 1024);
  const EvpPkeyPtr rsa2048 = NewKey("RSA", 2048);
  ASSERT_TRUE(sm2 && rsa1024 && rsa2048);

  const SM2_KEY sm2Key = Sm2Key(sm2.get());
  ASSERT_EQ(mr_ImportKeyPairEx(m_ctx, MR_ALG_SM2, 0xC001, &sm2Key), 0);
  EXPECT_EQ(Record(0).byFlag, 0x01);
  ByteVec xy(sm2Key.x, sm2Key.x + 32);
  xy.insert(xy.end(), sm2Key.y, sm2Key.y + 32);
  EXPECT_EQ(StoredPublic(0xC001, MR_ALG_SM2), xy);
  EXPECT_TRUE(HalvesFormAPair(0xC001));

  const RSA_KEY rsa1 = RsaKey(rsa1024.get());
  PutBytes(CTNR_FID, 0, {0x00});
  ASSERT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_RSA1024, 0xC001,
                             reinterpret_cast<const BYTE*>(&rsa1), sizeof rsa1, nullptr), 0);
  EXPECT_EQ(Record(0).byFlag, 0x01);
  EXPECT_TRUE(HalvesFormAPair(0xC001));
  RSA_KEY exported;
  ASSERT_EQ(mr_ExportPublicKey(m_ctx, MR_ALG_RSA1024, 0xC001, &exported), 0);
  EXPECT_EQ(ByteVec(exported.n, exported.n + 128), ByteVec(rsa1.n, rsa1.n + 128));

  // Into a sign key file: the record stays as it is.
  const RSA_KEY rsa2 = RsaKey(rsa2048.get());
  PutBytes(CTNR_FID, 0, {0x00});
  ASSERT_EQ(mr_ImportKeyPairEx(m_ctx, MR_ALG_RSA2048, 0xC004, &rsa2), 0);
  EXPECT_EQ(Record(0).byFlag, 0x00);
  EXPECT_TRUE(HalvesFormAPair(0xC004));
}

TEST_F(KeySim, WrappedImportsUnwrapOnTheToken) {
  BYTE sm4Key[16];
  ASSERT_EQ(RAND_bytes(sm4Key, sizeof sm4Key), 1);
  const ByteVec tokenPublic = TokenPublic();

  // SM2: the wrapped key, then x || y || d under it.
  const EvpPkeyPtr sm2 = NewKey("SM2", 0);
  const SM2_KEY sm2Key = Sm2Key(sm2.get());
  const ByteVec blob = merro::testing::WrappedSm2Pair(tokenPublic.data(), sm4Key, sm2Key);
  ASSERT_EQ(blob.size(), 209u);
  ASSERT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_SM2, 0xC001, blob.data(), 209, nullptr), 0);
  EXPECT_EQ(StoredPublic(0xC001, MR_ALG_SM2), ByteVec(sm2Key.x, sm2Key.x + 64));
  EXPECT_TRUE(HalvesFormAPair(0xC001));
  EXPECT_EQ(Record(0).byFlag, 0x01);

  // RSA-2048: a 128-byte wrapped-key block and n || d || e || zeros.
  const EvpPkeyPtr rsa = NewKey("RSA", 2048);
  const RSA_KEY rsaKey = RsaKey(rsa.get());
  const merro::testing::WrappedRsaPair wrapped =
      merro::testing::WrapRsaPair(tokenPublic.data(), sm4Key, rsaKey);
  PutBytes(CTNR_FID, 0, {0x00});
  ASSERT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_RSA2048, 0xC001, wrapped.pair.data(), 640,
                             wrapped.keyBlock.data()), 0);
  EXPECT_EQ(StoredPublic(0xC001, MR_ALG_RSA2048),
            [&] { ByteVec v(rsaKey.n, rsaKey.n + 256); v.insert(v.end(), {0x01, 0x00, 0x01}); return v; }());
  EXPECT_TRUE(HalvesFormAPair(0xC001));
  EXPECT_EQ(Record(0).byFlag, 0x01);

  // A pair whose d does not belong to n, and a key block the token cannot
  // unwrap, are refused and change nothing.
  const ByteVec before = StoredPublic(0xC001, MR_ALG_RSA2048);
  RSA_KEY badKey = rsaKey;
  badKey.d[300 - 256] ^= 0x01;
  const merro::testing::WrappedRsaPair bad = merro::testing::WrapRsaPair(tokenPublic.data(), sm4Key, badKey);
  EXPECT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_RSA2048, 0xC001, bad.pair.data(), 640,
                             wrapped.keyBlock.data()), kTokenRefusedData);
  ByteVec badBlock = wrapped.keyBlock;
  badBlock[100] ^= 0x01;  // C3 no longer checks out
  EXPECT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_RSA2048, 0xC001, wrapped.pair.data(), 640,
                             badBlock.data()), kTokenRefusedData);
  EXPECT_EQ(StoredPublic(0xC001, MR_ALG_RSA2048), before);
}

// The other form of an SM2 pair: x || y || d SM2-encrypted whole under the
// token's key file 0x0012 (193 bytes). A check value that does not match,
// or a length of neither form, is refused and changes nothing.
TEST_F(KeySim, EncryptedSm2PairsDecryptOnTheToken) {
  const ByteVec tokenPublic = TokenPublic();
  const EvpPkeyPtr sm2 = NewKey("SM2", 0);
  const SM2_KEY key = Sm2Key(sm2.get());
  const ByteVec blob = merro::testing::EncryptedSm2Pair(tokenPublic.data(), key);
  ASSERT_EQ(blob.size(), 193u);
  ASSERT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_SM2, 0xC004, blob.data(), 193, nullptr), 0);
  EXPECT_EQ(StoredPublic(0xC004, MR_ALG_SM2), ByteVec(key.x, key.x + 64));
  EXPECT_TRUE(HalvesFormAPair(0xC004));

  const EvpPkeyPtr other = NewKey("SM2", 0);
  ByteVec tampered = merro::testing::EncryptedSm2Pair(tokenPublic.data(), Sm2Key(other.get()));
  tampered.back() ^= 0x01;  // C3
  EXPECT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_SM2, 0xC004, tampered.data(), 193, nullptr),
            kTokenRefusedData);
  EXPECT_EQ(mr_ImportKeyPair(m_ctx, MR_ALG_SM2, 0xC004, blob.data(), 192, nullptr), kTokenRefusedData);
  EXPECT_EQ(StoredPublic(0xC004, MR_ALG_SM2), ByteVec(key.x, key.x + 64));
}

TEST_F(KeySim, ExchangeAndSignPairsMakeADoubleContainer) {
  CONTAINER_RECORD codes = NamedRecord("keys");
  codes.AlgType = MR_ALG_SM2;
  codes.ExchKeyLen = 0x00;
  codes.SignKeyLen = 0x00;
  ASSERT_EQ(mr_WriteContainer(m_ctx, &codes), 0);
  BYTE xy[64];
  ASSERT_EQ(mr_GenerateKeyPair(m_ctx, MR_ALG_SM2, 0xC004, xy), 0);
  const EvpPkeyPtr sm2 = NewKey("SM2", 0);
  const SM2_KEY key = Sm2Key(sm2.get());
  ASSERT_EQ(mr_ImportKeyPairEx(m_ctx, MR_ALG_SM2, 0xC001, &key), 0);
  EXPECT_EQ(Record(0).byFlag, 0x05);
  ASSERT_EQ(mr_EnableContainer(m_ctx, "keys", 4), 0);
  EXPECT_EQ(Record(0).byFlag, 0x0F);
  EXPECT_EQ(Index()[2], 0);
  EXPECT_EQ(Index()[6], 0xFF);
  // The container is closed now: a new key no longer updates its record.
  EXPECT_EQ(mr_GenerateKeyPair(m_ctx, MR_ALG_SM2, 0xC004, xy), static_cast<HRESULT>(0x80006285));
}

}  // namespace
