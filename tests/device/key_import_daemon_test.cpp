// Private-key import into a container's exchange slot through the device
// object: a plain RSA-1024 key from OpenSSL (both forms), an RSA-2048 pair
// in its wrapped envelope, SM2 pairs in either ciphertext order (the
// second order on a second attempt), each checked by exporting the public
// key again; and the inputs refused before anything reaches the token.
#include <openssl/rand.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/device/key_slots_fixture.h"
#include "tests/tokenapi/support/key_blobs.h"

namespace merro::testing {
namespace {

class KeyImport : public KeySlots {
 protected:
  // The public key of token 0's key file 0x0012, under which keys travel.
  Bytes TokenPublic() {
    Bytes xy(64);
    EXPECT_EQ(TokenWrapPublicKey(Context(0), xy.data()), S_OK);
    return xy;
  }
  HRESULT ImportEncrypted(const std::string& name, DWORD bits, const Bytes* symKey,
                          const Bytes& key, DWORD keySpec = AT_KEYEXCHANGE) {
    return m_handle.ImportEncryptedPrivateKey(
        m_dev[0].c_str(), name.c_str(), keySpec,
        bits == 256 ? KEYSETALGORITHM_SM2 : KEYSETALGORITHM_RSA, bits,
        symKey != nullptr ? symKey->data() : nullptr,
        symKey != nullptr ? static_cast<DWORD>(symKey->size()) : 0, key.data(),
        static_cast<DWORD>(key.size()));
  }
  Bytes ExchangePoint(const std::string& name) {
    Bytes x, y;
    EXPECT_EQ(ExportParts(0, name, AT_KEYEXCHANGE, &x, &y), S_OK);
    x.insert(x.end(), y.begin(), y.end());
    return x;
  }
};

// An RSA_KEY of the parts, each left-aligned in its field; d padded to
// `dWidth` bytes when given.
RSA_KEY ToRsaKey(const RsaKeyParts& parts, size_t dWidth = 0) {
  RSA_KEY key{};
  std::copy(parts.n.begin(), parts.n.end(), key.n);
  key.nLen = static_cast<DWORD>(parts.n.size());
  std::copy(parts.e.begin(), parts.e.end(), key.e);
  key.eLen = static_cast<DWORD>(parts.e.size());
  const size_t pad = dWidth > parts.d.size() ? dWidth - parts.d.size() : 0;
  std::copy(parts.d.begin(), parts.d.end(), key.d + pad);
  key.dLen = static_cast<DWORD>(pad + parts.d.size());
  return key;
}

SM2_KEY ToSm2Key(const Sm2KeyParts& parts) {
  SM2_KEY key{};
  std::copy(parts.xy.begin(), parts.xy.begin() + 32, key.x);
  std::copy(parts.xy.begin() + 32, parts.xy.end(), key.y);
  std::copy(parts.d.begin(), parts.d.end(), key.d);
  return key;
}

TEST_F(KeyImport, Rsa1024InEitherForm) {
  for (bool parts : {false, true}) {
    SCOPED_TRACE(parts ? "three parts" : "RSA_KEY");
    ASSERT_TRUE(Create(0, "rsa"));
    const RsaKeyParts key = GenerateRsaKeyParts(1024);
    ASSERT_EQ(key.n.size(), 128u);
    HRESULT hr = S_OK;
    if (parts) {
      hr = m_handle.ImportRSA1024PrivateKey(
          m_dev[0].c_str(), "rsa", AT_KEYEXCHANGE, key.n.data(), static_cast<DWORD>(key.n.size()),
          key.e.data(), static_cast<DWORD>(key.e.size()), key.d.data(),
          static_cast<DWORD>(key.d.size()));
    } else {
      hr = m_handle.ImportRSA1024PrivateKey(m_dev[0].c_str(), "rsa", AT_KEYEXCHANGE, ToRsaKey(key));
    }
    ASSERT_EQ(hr, S_OK);
    Bytes n, e;
    ASSERT_EQ(ExportParts(0, "rsa", AT_KEYEXCHANGE, &n, &e), S_OK);
    EXPECT_EQ(n, key.n);
    // The token stores the exponent in four bytes.
    EXPECT_EQ(e, (Bytes{0x00, 0x01, 0x00, 0x01}));
    const CONTAINER_RECORD record = ListedRecord(0, "rsa");
    EXPECT_EQ(record.ExchKeyLen, 1);
    EXPECT_EQ(record.AlgType, MR_ALG_RSA1024);
    EXPECT_EQ(record.byFlag, MR_CTNR_EXCH_KEY);
    ExpectListAgrees(0, "rsa");
  }
}

TEST_F(KeyImport, Rsa2048InItsEnvelope) {
  ASSERT_TRUE(Create(0, "rsa"));
  const RsaKeyParts parts = GenerateRsaKeyParts(2048);
  ASSERT_EQ(parts.n.size(), 256u);
  BYTE sm4Key[16];
  ASSERT_EQ(RAND_bytes(sm4Key, sizeof sm4Key), 1);
  const Bytes tokenPublic = TokenPublic();
  const WrappedRsaPair envelope = WrapRsaPair(tokenPublic.data(), sm4Key, ToRsaKey(parts, 256));
  ASSERT_EQ(envelope.keyBlock.size(), 128u);
  ASSERT_EQ(envelope.pair.size(), 640u);

  ASSERT_EQ(ImportEncrypted("rsa", 2048, &envelope.keyBlock, envelope.pair), S_OK);
  Bytes n, e;
  ASSERT_EQ(ExportParts(0, "rsa", AT_KEYEXCHANGE, &n, &e), S_OK);
  EXPECT_EQ(n, parts.n);
  const CONTAINER_RECORD record = ListedRecord(0, "rsa");
  EXPECT_EQ(record.ExchKeyLen, 2);
  EXPECT_EQ(record.AlgType, MR_ALG_RSA2048);
  EXPECT_EQ(record.byFlag, MR_CTNR_EXCH_KEY);
}

// A key generated on the token is replaced by an imported one, which is
// replaced in turn by one whose ciphertext came as C1 || C3 || C2: the
// token refuses the first attempt, the reordered second one succeeds.
TEST_F(KeyImport, Sm2InEitherCiphertextOrder) {
  ASSERT_TRUE(Create(0, "sm2"));
  ASSERT_EQ(Generate(0, "sm2", AT_KEYEXCHANGE, 256), S_OK);
  const Bytes generated = ExchangePoint("sm2");
  const Bytes tokenPublic = TokenPublic();

  for (bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "C1 || C3 || C2" : "C1 || C2 || C3");
    const Sm2KeyParts key = GenerateSm2KeyParts();
    Bytes cipher = EncryptedSm2Pair(tokenPublic.data(), ToSm2Key(key));
    ASSERT_EQ(cipher.size(), 193u);
    if (swapped) {
      std::rotate(cipher.begin() + 65, cipher.end() - 32, cipher.end());
    }
    m_trace.Clear();
    ASSERT_EQ(ImportEncrypted("sm2", 256, nullptr, cipher), S_OK);
    EXPECT_EQ(m_trace.Entries("ImportKeyPair"), swapped ? 2u : 1u);
    const Bytes exported = ExchangePoint("sm2");
    EXPECT_EQ(exported, key.xy);
    EXPECT_NE(exported, generated);
    const CONTAINER_RECORD record = ListedRecord(0, "sm2");
    EXPECT_EQ(record.ExchKeyLen, 0);
    EXPECT_EQ(record.AlgType, MR_ALG_SM2);
    EXPECT_EQ(record.byFlag & MR_CTNR_EXCH_KEY, MR_CTNR_EXCH_KEY);
  }

  // Neither order opens: the token's refusal comes back, the key stays.
  const Bytes before = ExchangePoint("sm2");
  Bytes noise(193);
  ASSERT_EQ(RAND_bytes(noise.data(), static_cast<int>(noise.size())), 1);
  noise[0] = 0x04;
  m_trace.Clear();
  EXPECT_EQ(ImportEncrypted("sm2", 256, nullptr, noise), static_cast<HRESULT>(0x80006A80));
  EXPECT_EQ(m_trace.Entries("ImportKeyPair"), 2u);
  EXPECT_EQ(ExchangePoint("sm2"), before);
}

TEST_F(KeyImport, InputsRefusedBeforeTheToken) {
  ASSERT_TRUE(Create(0, "imp"));
  const CONTAINER_RECORD before = ListedRecord(0, "imp");
  const Bytes sm2(193, 0x04);
  const Bytes sym(128, 0x11), shortSym(127, 0x11);
  const Bytes pair(640, 0x22), shortPair(639, 0x22);
  const RsaKeyParts rsa = GenerateRsaKeyParts(1024);
  const RSA_KEY good = ToRsaKey(rsa);
  RSA_KEY noD = good;
  noD.dLen = 0;
  RSA_KEY wideN = good;
  wideN.nLen = 256;
  RSA_KEY wideE = good;
  wideE.eLen = 5;
  RSA_KEY wideD = good;
  wideD.dLen = 129;
  const Bytes longPart(257, 0x01);
  const char* dev = m_dev[0].c_str();
  Commands(0);

  ExpectResults({
      {"SM2 into the signature slot", E_INVALIDARG,
       ImportEncrypted("imp", 256, nullptr, sm2, AT_SIGNATURE)},
      {"SM2 of 96 bytes", E_INVALIDARG, ImportEncrypted("imp", 256, nullptr, Bytes(96, 0x04))},
      {"SM2 of 256 bytes", E_INVALIDARG, ImportEncrypted("imp", 256, nullptr, Bytes(256, 0x04))},
      {"SM2 with a wrapped key", E_INVALIDARG, ImportEncrypted("imp", 256, &sym, sm2)},
      {"RSA-2048 without a wrapped key", E_INVALIDARG, ImportEncrypted("imp", 2048, nullptr, pair)},
      {"RSA-2048, wrapped key of 127 bytes", E_INVALIDARG,
       ImportEncrypted("imp", 2048, &shortSym, pair)},
      {"RSA-2048, pair of 639 bytes", E_INVALIDARG, ImportEncrypted("imp", 2048, &sym, shortPair)},
      {"RSA-1024 encrypted", E_INVALIDARG, ImportEncrypted("imp", 1024, &sym, pair)},
      {"4096 bits", E_INVALIDARG, ImportEncrypted("imp", 4096, &sym, pair)},
      {"512 bits", E_INVALIDARG, ImportEncrypted("imp", 512, &sym, pair)},
      {"no key data", E_INVALIDARG,
       m_handle.ImportEncryptedPrivateKey(dev, "imp", AT_KEYEXCHANGE, 2, 256, nullptr, 0, nullptr,
                                          193)},
      {"no container name", E_INVALIDARG,
       m_handle.ImportEncryptedPrivateKey(dev, nullptr, AT_KEYEXCHANGE, 2, 256, nullptr, 0,
                                          sm2.data(), 193)},
      {"unknown container", E_FAIL, ImportEncrypted("missing", 256, nullptr, sm2)},
      {"RSA-1024 into the signature slot", E_INVALIDARG,
       m_handle.ImportRSA1024PrivateKey(dev, "imp", AT_SIGNATURE, good)},
      {"d of 0 bytes", E_INVALIDARG, m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, noD)},
      {"n of 256 bytes", E_INVALIDARG, m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, wideN)},
      {"e of 5 bytes", E_INVALIDARG, m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, wideE)},
      {"d of 129 bytes", E_INVALIDARG, m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, wideD)},
      {"unknown container, plain", E_FAIL,
       m_handle.ImportRSA1024PrivateKey(dev, "missing", 1, good)},
      {"parts: n of 257 bytes", E_INVALIDARG,
       m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, longPart.data(), 257, rsa.e.data(), 3,
                                        rsa.d.data(), static_cast<DWORD>(rsa.d.size()))},
      {"parts: d of 257 bytes", E_INVALIDARG,
       m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, rsa.n.data(), 128, rsa.e.data(), 3,
                                        longPart.data(), 257)},
      {"parts: no e", E_INVALIDARG,
       m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, rsa.n.data(), 128, nullptr, 3,
                                        rsa.d.data(), 128)},
      {"parts: d of 0 bytes", E_INVALIDARG,
       m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, rsa.n.data(), 128, rsa.e.data(), 3,
                                        rsa.d.data(), 0)},
      // Fits its field, but makes no 1024-bit key.
      {"parts: n of 256 bytes", E_INVALIDARG,
       m_handle.ImportRSA1024PrivateKey(dev, "imp", 1, longPart.data(), 256, rsa.e.data(), 3,
                                        rsa.d.data(), static_cast<DWORD>(rsa.d.size()))},
  });
  EXPECT_TRUE(Commands(0).empty());
  const CONTAINER_RECORD after = ListedRecord(0, "imp");
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  ExpectListAgrees(0, "imp");
}

}  // namespace
}  // namespace merro::testing
