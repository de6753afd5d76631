// The frames of the key commands, byte for byte, over a recording
// transport: generation, export, clear and wrapped import, WRITE KEY, and
// the checks that refuse a key before anything is sent.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <functional>
#include <memory>

#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/commands/key_commands.h"

namespace {

using merro::testing::Bytes;
using merro::testing::Sequence;

constexpr HRESULT kBadAlgorithm = static_cast<HRESULT>(0x80070209);
constexpr HRESULT kBadKey = static_cast<HRESULT>(0x80070210);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);

// CLA INS P1 P2 Lc Le, then the data.
Bytes Frame(BYTE ins, BYTE p1, BYTE p2, BYTE le, const Bytes& data = {}) {
  Bytes f = {0xB0, ins, p1, p2, static_cast<BYTE>(data.size()), le};
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

Bytes Slice(const BYTE* p, size_t from, size_t n) { return Bytes(p + from, p + from + n); }

Bytes Select(WORD fid) { return Frame(0xA4, 0x20, 0x00, 0x10, {BYTE(fid & 0xFF), BYTE(fid >> 8)}); }

Bytes Md5(const std::string& text) {
  Bytes digest(16);
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(text.data(), text.size(), digest.data(), &len, EVP_md5(), nullptr), 1);
  return digest;
}

class KeyFrames : public merro::testing::RecordingTest {
 protected:
  static RSA_KEY RsaKey(DWORD nLen, DWORD dLen) {
    RSA_KEY key;
    std::memset(&key, 0, sizeof key);
    const Bytes n = Sequence(nLen, 0x80);
    const Bytes d = Sequence(dLen, 0x10);
    std::memcpy(key.n, n.data(), nLen);
    key.nLen = nLen;
    key.e[0] = 0x01;
    key.e[1] = 0x00;
    key.e[2] = 0x01;
    key.eLen = 3;
    std::memcpy(key.d, d.data(), dLen);
    key.dLen = dLen;
    return key;
  }

};

TEST_F(KeyFrames, GenerationNamesTheFileInTheCommand) {
  const struct {
    const char* name;
    BYTE alg;
    WORD fid;
    Bytes frame;
    DWORD timeout;
  } cases[] = {
      {"RSA-1024", MR_ALG_RSA1024, 0xC004,
       Frame(0x34, 0x00, 0x00, 0x00, {0x04, 0xC0, 0x00, 0x01, 0x00, 0x01}), 60},
      {"RSA-2048", MR_ALG_RSA2048, 0xC014,
       Frame(0x34, 0x01, 0x00, 0x00, {0x14, 0xC0, 0x00, 0x01, 0x00, 0x01}), 60},
      {"SM2", MR_ALG_SM2, 0x0012, Frame(0x50, 0x00, 0x12, 0x00), 2},
  };
  for (const auto& c : cases) {
    m_transport->Clear();
    // No public-key buffer: no export, no record update.
    ASSERT_EQ(mr_GenerateKeyPair(&m_ctx, c.alg, c.fid, nullptr), 0) << c.name;
    ASSERT_EQ(Frames().size(), 1u) << c.name;
    EXPECT_EQ(Frames()[0], c.frame) << c.name;
    EXPECT_EQ(m_transport->Timeouts()[0], c.timeout) << c.name;
  }
  m_transport->Clear();
  EXPECT_EQ(mr_GenerateKeyPair(&m_ctx, 0x02, 0xC004, nullptr), kBadAlgorithm);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(KeyFrames, RsaExportReadsTheModulusOncePerHalf) {
  for (const BYTE alg : {MR_ALG_RSA1024, MR_ALG_RSA2048}) {
    const Bytes n = Sequence(256, 0x40);
    m_transport->Clear();
    m_transport->QueueReply(0x9000);                // select
    m_transport->QueueReply(0x9000, {0x01, 0x00});  // length (not used)
    m_transport->QueueReply(0x9000, {0x01, 0x00, 0x01});
    m_transport->QueueReply(0x9000, Bytes(n.begin(), n.begin() + 128));
    m_transport->QueueReply(0x9000, Bytes(n.begin() + 128, n.end()));
    RSA_KEY key;
    std::memset(&key, 0xEE, sizeof key);
    ASSERT_EQ(mr_ExportPublicKey(&m_ctx, alg, 0xC001, &key), 0);
    std::vector<Bytes> expected = {Select(0xC001), Frame(0x35, 0x00, 0x00, 0x02),
                                   Frame(0x35, 0x01, 0x00, 0x04), Frame(0x35, 0x02, 0x00, 0x80)};
    if (alg == MR_ALG_RSA2048) {
      expected.push_back(Frame(0x35, 0x02, 0x80, 0x80));
    }
    EXPECT_EQ(Frames(), expected);
    const DWORD nLen = alg == MR_ALG_RSA2048 ? 256 : 128;
    EXPECT_EQ(key.nLen, nLen) << "whatever the length command answered";
    EXPECT_EQ(Slice(key.n, 0, nLen), Bytes(n.begin(), n.begin() + nLen));
    EXPECT_EQ(key.eLen, 3u);
    EXPECT_EQ(Slice(key.e, 0, 3), (Bytes{0x01, 0x00, 0x01}));
  }
}

TEST_F(KeyFrames, ExportRefusesShortReplies) {
  // A modulus half shorter than 128 bytes would leave a gap in n.
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000, {0x00, 0x80});
  m_transport->QueueReply(0x9000, {0x03});
  m_transport->QueueReply(0x9000, Bytes(100, 0x55));
  RSA_KEY key{};
  EXPECT_EQ(mr_ExportPublicKey(&m_ctx, MR_ALG_RSA1024, 0xC001, &key), kBadReply);

  m_transport->Clear();
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000, Bytes(63, 0x11));
  BYTE xy[64];
  std::memset(xy, 0xEE, sizeof xy);
  EXPECT_EQ(mr_ExportPublicKey(&m_ctx, MR_ALG_SM2, 0xC011, xy), kBadReply);
  EXPECT_EQ(Frames()[1], Frame(0x53, 0xC0, 0x11, 0x40));
  EXPECT_EQ(xy[0], 0xEE) << "nothing is written from a short reply";
}

TEST_F(KeyFrames, RsaPrivateImportSendsDBeforeN) {
  const struct { DWORD nLen, dLen; } cases[] = {{256, 256}, {128, 128}, {128, 127}, {256, 255}};
  for (const auto& c : cases) {
    const RSA_KEY key = RsaKey(c.nLen, c.dLen);
    // d travels as long as the modulus, right-aligned.
    Bytes d(c.nLen - c.dLen, 0x00);
    d.insert(d.end(), key.d, key.d + c.dLen);
    m_transport->Clear();
    ASSERT_EQ(
        mr_ImportPrivateKey(&m_ctx, c.nLen == 256 ? MR_ALG_RSA2048 : MR_ALG_RSA1024, 0xC004, &key),
        0);
    std::vector<Bytes> expected = {
        Select(0xC004), Frame(0x31, 0x00, c.nLen == 256 ? 0x01 : 0x00, 0x00, {0x04, 0xC0})};
    for (DWORD half = 0; half < c.nLen / 128; ++half) {
      expected.push_back(Frame(0x31, 0x01, BYTE(half * 0x80), 0x00,
                               Bytes(d.begin() + half * 128, d.begin() + half * 128 + 128)));
    }
    for (DWORD half = 0; half < c.nLen / 128; ++half) {
      expected.push_back(Frame(0x31, 0x02, BYTE(half * 0x80), 0x00, Slice(key.n, half * 128, 128)));
    }
    // 0xC004 is a sign key file: the exchange-key flag is not touched.
    EXPECT_EQ(Frames(), expected) << c.nLen << "/" << c.dLen;
  }
}

TEST_F(KeyFrames, RsaPublicImportWritesExponent65537Only) {
  const RSA_KEY key = RsaKey(256, 256);
  ASSERT_EQ(mr_ImportPublicKey(&m_ctx, MR_ALG_RSA2048, 0xC001, &key), 0);
  const std::vector<Bytes> expected = {Select(0xC001), Frame(0x30, 0x00, 0x01, 0x00, {0x01, 0xC0}),
                                       Frame(0x30, 0x01, 0x00, 0x00, {0x00, 0x01, 0x00, 0x01}),
                                       Frame(0x30, 0x02, 0x00, 0x00, Slice(key.n, 0, 128)),
                                       Frame(0x30, 0x02, 0x80, 0x00, Slice(key.n, 128, 128))};
  EXPECT_EQ(Frames(), expected) << "the public import updates no record";

  // Exponents written with leading zeros are the same number.
  RSA_KEY padded = key;
  const Bytes e = {0x00, 0x00, 0x01, 0x00, 0x01};
  std::memcpy(padded.e, e.data(), e.size());
  padded.eLen = 5;
  m_transport->Clear();
  EXPECT_EQ(mr_ImportPublicKey(&m_ctx, MR_ALG_RSA2048, 0xC001, &padded), 0);
}

TEST_F(KeyFrames, RefusedKeysSendNothingAfterTheSelect) {
  RSA_KEY e3 = RsaKey(128, 128);
  e3.e[0] = 0x03;
  e3.eLen = 1;
  RSA_KEY n192 = RsaKey(128, 128);
  n192.nLen = 192;
  RSA_KEY dLong = RsaKey(128, 128);
  dLong.dLen = 129;
  RSA_KEY dZero = RsaKey(128, 128);
  dZero.dLen = 0;
  const struct {
    const char* name;
    std::function<HRESULT(DEV_CTX*)> call;
  } cases[] = {
      {"public e = 3",
       [&](DEV_CTX* c) { return mr_ImportPublicKey(c, MR_ALG_RSA1024, 0xC001, &e3); }},
      {"public nLen 192",
       [&](DEV_CTX* c) { return mr_ImportPublicKey(c, MR_ALG_RSA1024, 0xC001, &n192); }},
      {"private nLen 192",
       [&](DEV_CTX* c) { return mr_ImportPrivateKey(c, MR_ALG_RSA1024, 0xC001, &n192); }},
      {"private dLen 129",
       [&](DEV_CTX* c) { return mr_ImportPrivateKey(c, MR_ALG_RSA1024, 0xC001, &dLong); }},
      {"private dLen 0",
       [&](DEV_CTX* c) { return mr_ImportPrivateKey(c, MR_ALG_RSA1024, 0xC001, &dZero); }},
      {"private type 2", [&](DEV_CTX* c) { return mr_ImportPrivateKey(c, 0x02, 0xC001, &e3); }},
      {"SM2 pair 256 bytes",
       [](DEV_CTX* c) {
         const Bytes blob(256, 0x11);
         return mr_ImportKeyPair(c, MR_ALG_SM2, 0xC001, blob.data(), 256, nullptr);
       }},
      {"wrapped RSA pair 600 bytes",
       [](DEV_CTX* c) {
         const Bytes blob(640, 0x11);
         return mr_ImportKeyPair(c, MR_ALG_RSA2048, 0xC001, blob.data(), 600, blob.data());
       }},
  };
  for (const auto& c : cases) {
    m_transport->Clear();
    EXPECT_EQ(c.call(&m_ctx), kBadKey) << c.name;
    ASSERT_EQ(Frames().size(), 1u) << c.name;
    EXPECT_EQ(Frames()[0], Select(0xC001)) << c.name << ": the key file stays selected";
  }
  m_transport->Clear();
  const Bytes blob(16, 0);
  EXPECT_EQ(mr_ImportKeyPair(&m_ctx, 0x05, 0xC001, blob.data(), 16, nullptr), kBadAlgorithm);
  EXPECT_EQ(mr_ImportKeyPairEx(&m_ctx, 0x05, 0xC001, blob.data()), kBadAlgorithm);
}

TEST_F(KeyFrames, Sm2HalvesAndPairs) {
  SM2_KEY key;
  const Bytes x = Sequence(32, 0x00), y = Sequence(32, 0x40), d = Sequence(32, 0xA0);
  std::memcpy(key.x, x.data(), 32);
  std::memcpy(key.y, y.data(), 32);
  std::memcpy(key.d, d.data(), 32);
  Bytes xy = x;
  xy.insert(xy.end(), y.begin(), y.end());
  ASSERT_EQ(mr_ImportKeyPairEx(&m_ctx, MR_ALG_SM2, 0xC014, &key), 0);
  const std::vector<Bytes> expected = {Select(0xC014), Select(0xC014),
                                       Frame(0x52, 0xC0, 0x14, 0x00, d), Select(0xC014),
                                       Frame(0x51, 0xC0, 0x14, 0x00, xy)};
  EXPECT_EQ(Frames(), expected);

  const Bytes blob = Sequence(209, 0x20);
  m_transport->Clear();
  ASSERT_EQ(mr_ImportKeyPair(&m_ctx, MR_ALG_SM2, 0xC014, blob.data(), 209, nullptr), 0);
  const std::vector<Bytes> pair = {Select(0xC014), Frame(0x49, 0x00, 0x00, 0x00, blob),
                                   Frame(0x49, 0x01, 0x00, 0x00, {0x14, 0xC0})};
  EXPECT_EQ(Frames(), pair);
}

TEST_F(KeyFrames, WrappedRsaPairGoesInFiveBlocks) {
  const Bytes pair = Sequence(640, 0x01);
  const Bytes sym = Sequence(128, 0x90);
  ASSERT_EQ(mr_ImportKeyPair(&m_ctx, MR_ALG_RSA2048, 0xC024, pair.data(), 640, sym.data()), 0);
  std::vector<Bytes> expected = {Select(0xC024), Frame(0x39, 0x00, 0x00, 0x00, sym),
                                 Frame(0x39, 0x01, 0x00, 0x00, {0x24, 0xC0, 0x00})};
  for (BYTE k = 0; k < 5; ++k) {
    expected.push_back(
        Frame(0x32, 0x00, k, 0x00, Bytes(pair.begin() + k * 128, pair.begin() + k * 128 + 128)));
  }
  expected.push_back(Frame(0x32, 0x01, 0x01, 0x00, {0x24, 0xC0, 0x01}));
  EXPECT_EQ(Frames(), expected);
}

TEST_F(KeyFrames, ExchangeKeyImportMarksItsRecord) {
  // Import into the exchange key file of slot 2: the record of slot 2 gets
  // flag bit 0x01 (one byte written at offset 256).
  SM2_KEY key{};
  Bytes record(76, 0xFF);
  record[0] = 0x00;
  m_transport->QueueReply(0x9000);  // select the key file
  m_transport->QueueReply(0x9000);  // WRITE SM2 PRIVATE KEY
  m_transport->QueueReply(0x9000);  // select CTNR_FID
  m_transport->QueueReply(0x9000, record);
  ASSERT_EQ(mr_ImportPrivateKey(&m_ctx, MR_ALG_SM2, 0xC021, &key), 0);
  const std::vector<Bytes> expected = {Select(0xC021), Frame(0x52, 0xC0, 0x21, 0x00, Bytes(32, 0)),
                                       Select(0xC000), Frame(0x36, 0x01, 0x00, 76),
                                       Frame(0x33, 0x01, 0x00, 0x00, {0x01})};
  EXPECT_EQ(Frames(), expected);
}

TEST_F(KeyFrames, WriteKeyRecords) {
  const Bytes pin = {'9', '0', '5', '1', '7', '2'};
  ASSERT_EQ(mr_WriteKey(&m_ctx, MR_KEY_USER_PIN, pin.data(), 6, 6), 0);
  Bytes user = {0x30, 0x00, 0xFF, 0x11, 0x06};
  const Bytes md5 = Md5("905172");
  user.insert(user.end(), md5.begin(), md5.end());
  EXPECT_EQ(Frames().back(), Frame(0xD4, 0x00, 0x01, 0x00, user));

  const Bytes ten = Sequence(10, 0x61);
  ASSERT_EQ(mr_WriteKey(&m_ctx, MR_KEY_EXTERN, ten.data(), 10, 6), 0);
  Bytes ext = {0x33, 0x00, 0x01, 0x01, 0x06};
  ext.insert(ext.end(), ten.begin(), ten.end());
  ext.resize(21, 0x00);
  EXPECT_EQ(Frames().back(), Frame(0xD4, 0x00, 0x01, 0x00, ext));

  const Bytes cfg = Sequence(16, 0x01);
  ASSERT_EQ(mr_WriteKey(&m_ctx, MR_KEY_EXTERN_CFG, cfg.data(), 16, 6), 0);
  EXPECT_EQ(Slice(Frames().back().data(), 6, 5), (Bytes{0x34, 0x00, 0x01, 0x20, 0x06}));
  ASSERT_EQ(mr_WriteKey(&m_ctx, MR_KEY_ADMIN_PIN, pin.data(), 6, 44), 0);
  EXPECT_EQ(Slice(Frames().back().data(), 6, 5), (Bytes{0x31, 0x00, 0xFF, 0x10, 44}));

  m_transport->Clear();
  const Bytes seventeen(17, 0x01);
  EXPECT_EQ(mr_WriteKey(&m_ctx, 0x35, pin.data(), 6, 6), kBadKey);
  EXPECT_EQ(mr_WriteKey(&m_ctx, 0x2F, pin.data(), 6, 6), kBadKey);
  EXPECT_EQ(mr_WriteKey(&m_ctx, MR_KEY_EXTERN_CFG, seventeen.data(), 17, 6), kBadKey);
  EXPECT_TRUE(Frames().empty());
}

}  // namespace
