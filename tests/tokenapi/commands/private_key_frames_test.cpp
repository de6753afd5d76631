// The frames of the private-key, hashing and display-signing commands, byte
// for byte, over a recording transport. Without a session key class 0xB4
// goes out as 0xB0.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/rsa_private_commands.h"
#include "tokenapi/commands/sm2_private_commands.h"

namespace {

using merro::testing::Bytes;
using merro::testing::Sequence;

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);
constexpr WORD kFid = 0xC014;

Bytes Frame(Bytes header, const Bytes& data = {}) {
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

Bytes Slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }

const Bytes kSm2Start = {0x14, 0xC0, '1', '2', '3', '4', '5', '6', '7', '8',
                         '1', '2', '3', '4', '5', '6', '7', '8'};

class PrivateKeyFrames : public merro::testing::RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    merro::commands::SetResultPollSleep([this](DWORD ms) { m_sleeps.push_back(ms); });
  }
  void TearDown() override {
    merro::commands::SetResultPollSleep(nullptr);
    RecordingTest::TearDown();
  }
  // n replies of 9000 without data.
  void QueueOk(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      m_transport->QueueReply(0x9000);
    }
  }

  std::vector<DWORD> m_sleeps;
};

TEST_F(PrivateKeyFrames, Sm2DisplaySignatureSendsTheMessageIn224BytePieces) {
  const Bytes message = Sequence(500, 7);
  const Bytes signature = Sequence(64, 0x80);
  QueueOk(4);
  m_transport->QueueReply(0x9000, Sequence(32));  // the digest, dropped
  m_transport->QueueReply(0x9000, signature);
  BYTE sig[64] = {};
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignXML(&m_ctx, kFid, message.data(), 500, sig, &sigLen), 0);
  EXPECT_EQ(sigLen, 64u);
  EXPECT_EQ(Bytes(sig, sig + 64), signature);

  const std::vector<Bytes> expected = {
      Frame({0xB0, 0x59, 0x00, 0x00, 0x12, 0x00}, kSm2Start),
      Frame({0xB0, 0x59, 0x01, 0x00, 0xE0, 0x00}, Slice(message, 0, 224)),
      Frame({0xB0, 0x59, 0x01, 0x00, 0xE0, 0x00}, Slice(message, 224, 224)),
      Frame({0xB0, 0x59, 0x01, 0x00, 0x34, 0x00}, Slice(message, 448, 52)),
      {0xB0, 0x59, 0x02, 0x00, 0x00, 0x20},
      {0xB0, 0x59, 0x03, 0x00, 0x00, 0x40},
  };
  EXPECT_EQ(Frames(), expected);
  EXPECT_EQ(m_sleeps, std::vector<DWORD>{100});  // before the first poll too
}

TEST_F(PrivateKeyFrames, AnEmptyMessageGoesStraightToTheEndOfData) {
  QueueOk(1);
  m_transport->QueueReply(0x9000, Sequence(32));
  m_transport->QueueReply(0x9000, Sequence(64));
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignXML(&m_ctx, kFid, nullptr, 0, sig, &sigLen), 0);
  ASSERT_EQ(Frames().size(), 3u);
  EXPECT_EQ(Frames()[1], (Bytes{0xB0, 0x59, 0x02, 0x00, 0x00, 0x20}));

  m_transport->Clear();
  QueueOk(2);  // start, end of data
  m_transport->QueueReply(0x9000, Sequence(128));
  BYTE rsaSig[128];
  DWORD rsaLen = sizeof rsaSig;
  ASSERT_EQ(mr_RSASignXML(&m_ctx, kFid, MR_ALG_RSA1024, MR_ALG_SHA256, nullptr, 0, rsaSig, &rsaLen), 0);
  const std::vector<Bytes> expected = {
      {0xB0, 0x40, 0x00, 0x00, 0x03, 0x00, 0x14, 0xC0, 0x02},
      {0xB0, 0x40, 0x02, 0x00, 0x00, 0x00},
      {0xB0, 0x40, 0x03, 0x00, 0x00, 0x80},
  };
  EXPECT_EQ(Frames(), expected);
  EXPECT_EQ(rsaLen, 128u);
}

TEST_F(PrivateKeyFrames, DisplaySignaturePollsWhileTheTokenWaits) {
  // Each waiting status word, then the signature.
  QueueOk(1);
  m_transport->QueueReply(0x9000, Sequence(32));
  for (WORD sw : {0xFF05, 0xFF11, 0xFF12, 0xFF13, 0xFF11}) {
    m_transport->QueueReply(sw);
  }
  m_transport->QueueReply(0x9000, Sequence(64, 1));
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignXML(&m_ctx, kFid, nullptr, 0, sig, &sigLen), 0);
  EXPECT_EQ(Frames().size(), 2u + 6u);
  EXPECT_EQ(m_sleeps, std::vector<DWORD>(6, 100));
  EXPECT_EQ(sig[0], 1);

  // A 2048-bit RSA display signature: the second half follows at once.
  m_transport->Clear();
  m_sleeps.clear();
  QueueOk(2);
  m_transport->QueueReply(0xFF11);
  m_transport->QueueReply(0xFF11);
  m_transport->QueueReply(0x9000, Sequence(128, 0));
  m_transport->QueueReply(0x9000, Sequence(128, 128));
  BYTE rsaSig[256];
  DWORD rsaLen = sizeof rsaSig;
  ASSERT_EQ(mr_RSASignXML(&m_ctx, kFid, MR_ALG_RSA2048, MR_ALG_SHA256, nullptr, 0, rsaSig, &rsaLen), 0);
  EXPECT_EQ(rsaLen, 256u);
  EXPECT_EQ(Bytes(rsaSig, rsaSig + 256), Sequence(256));
  ASSERT_EQ(Frames().size(), 6u);
  EXPECT_EQ(Frames()[0], (Bytes{0xB0, 0x40, 0x00, 0x01, 0x03, 0x00, 0x14, 0xC0, 0x02}));
  EXPECT_EQ(Frames()[2], Frames()[4]);
  EXPECT_EQ(Frames()[5], (Bytes{0xB0, 0x40, 0x03, 0x80, 0x00, 0x80}));
  EXPECT_EQ(m_sleeps.size(), 3u);
}

TEST_F(PrivateKeyFrames, TheUsersAnswerEndsTheDisplaySignature) {
  const struct {
    WORD sw;
    HRESULT expected;
  } cases[] = {{0xFF06, MR_E_KEY_CANCELLED}, {0xFF07, MR_E_KEY_TIMEOUT}, {0x6982, static_cast<HRESULT>(0x80006982)}};
  for (const auto& c : cases) {
    m_transport->Clear();
    QueueOk(1);
    m_transport->QueueReply(0x9000, Sequence(32));
    m_transport->QueueReply(0xFF11);
    m_transport->QueueReply(c.sw);
    BYTE sig[64] = {};
    DWORD sigLen = sizeof sig;
    EXPECT_EQ(mr_SM2SignXML(&m_ctx, kFid, nullptr, 0, sig, &sigLen), c.expected) << c.sw;
    EXPECT_EQ(sigLen, 64u);  // untouched
    EXPECT_EQ(sig[0], 0);
    EXPECT_EQ(Frames().size(), 4u);
  }
}

TEST_F(PrivateKeyFrames, AStuckTokenEndsInTheTimeOutCode) {
  QueueOk(1);
  m_transport->QueueReply(0x9000, Sequence(32));
  for (DWORD i = 0; i < merro::commands::kMaxResultPolls + 5; ++i) {
    m_transport->QueueReply(0xFF12);
  }
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  EXPECT_EQ(mr_SM2SignXML(&m_ctx, kFid, nullptr, 0, sig, &sigLen), MR_E_KEY_TIMEOUT);
  EXPECT_EQ(Frames().size(), 2u + merro::commands::kMaxResultPolls);
  EXPECT_GE(merro::commands::kMaxResultPolls * merro::commands::kResultPollIntervalMs, 180000u);
}

TEST_F(PrivateKeyFrames, RefusedHashTypesAndSmallBuffersSendNothing) {
  BYTE sig[256];
  DWORD sigLen = sizeof sig;
  BYTE digestLen = 0x55;
  for (int hash : {MR_ALG_SHA1, MR_ALG_MD5, MR_ALG_SM3, 0}) {
    EXPECT_EQ(mr_RSASignXML(&m_ctx, kFid, MR_ALG_RSA1024, static_cast<BYTE>(hash), nullptr, 0, sig, &sigLen),
              MR_E_INVALID_HASH_TYPE) << int(hash);
  }
  for (int hash : {MR_ALG_SHA256, MR_ALG_SM3, 0, 15}) {
    EXPECT_EQ(mr_RSASignDataInit(&m_ctx, static_cast<BYTE>(hash), &digestLen), MR_E_INVALID_HASH_TYPE) << int(hash);
  }
  EXPECT_EQ(digestLen, 0x55);
  // A signature buffer below the key's signature length, before the user
  // is asked.
  sigLen = 127;
  EXPECT_EQ(mr_RSASignXML(&m_ctx, kFid, MR_ALG_RSA1024, MR_ALG_SHA256, nullptr, 0, sig, &sigLen),
            kBufferTooSmall);
  sigLen = 255;
  EXPECT_EQ(mr_RSASignXML(&m_ctx, kFid, MR_ALG_RSA2048, MR_ALG_SHA256, nullptr, 0, sig, &sigLen),
            kBufferTooSmall);
  sigLen = 63;
  EXPECT_EQ(mr_SM2SignXML(&m_ctx, kFid, nullptr, 0, sig, &sigLen), kBufferTooSmall);
  const BYTE digest[32] = {};
  EXPECT_EQ(mr_SM2SignDigest(&m_ctx, kFid, digest, 32, sig, &sigLen), kBufferTooSmall);
  sigLen = 64;
  EXPECT_EQ(mr_SM2SignDigest(&m_ctx, kFid, digest, 31, sig, &sigLen), kBadLength);
  EXPECT_EQ(mr_SM2SignXML(&m_ctx, kFid, nullptr, 5, sig, &sigLen), kBadArgument);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(PrivateKeyFrames, RsaHashingOnTheToken) {
  const struct {
    BYTE hash;
    BYTE code;
    BYTE len;
  } table[] = {{MR_ALG_SHA1, 0x00, 20}, {MR_ALG_SHA512, 0x04, 64}, {MR_ALG_MD5, 0x05, 16},
               {MR_ALG_SHA1_MD5, 0x06, 36}};
  for (const auto& t : table) {
    m_transport->Clear();
    BYTE digestLen = 0;
    ASSERT_EQ(mr_RSASignDataInit(&m_ctx, t.hash, &digestLen), 0);
    EXPECT_EQ(digestLen, t.len);
    EXPECT_EQ(Frames().back(), (Bytes{0xB0, 0x80, 0x00, 0x00, 0x01, 0x00, t.code}));
    m_transport->QueueReply(0x9000, Sequence(t.len));
    BYTE digest[64];
    DWORD got = sizeof digest;
    ASSERT_EQ(mr_RSASignDataFinal(&m_ctx, digestLen, digest, &got), 0);
    EXPECT_EQ(got, t.len);
    EXPECT_EQ(Frames().back(), (Bytes{0xB0, 0x80, 0x02, 0x00, 0x00, t.len}));
  }

  m_transport->Clear();
  const Bytes data = Sequence(300);
  ASSERT_EQ(mr_RSASignDataUpdate(&m_ctx, data.data(), 300), 0);
  ASSERT_EQ(mr_RSASignDataUpdate(&m_ctx, nullptr, 0), 0);
  ASSERT_EQ(Frames().size(), 2u);
  EXPECT_EQ(Frames()[1], Frame({0xB0, 0x80, 0x01, 0x00, 76, 0x00}, Slice(data, 224, 76)));

  m_transport->Clear();
  QueueOk(0);
  m_transport->QueueReply(0x9000, Sequence(128));
  m_transport->QueueReply(0x9000, Sequence(128, 128));
  BYTE sig[256];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(mr_RSASignDataResult(&m_ctx, kFid, MR_ALG_RSA2048, sig, &sigLen), 0);
  EXPECT_EQ(sigLen, 256u);
  const std::vector<Bytes> expected = {
      {0xB0, 0x80, 0x03, 0x00, 0x03, 0x80, 0x14, 0xC0, 0x01},
      {0xB0, 0x80, 0x03, 0x80, 0x00, 0x80},
  };
  EXPECT_EQ(Frames(), expected);

  // A second half that does not come leaves no half signature behind.
  m_transport->Clear();
  m_transport->QueueReply(0x9000, Sequence(128, 1));
  m_transport->QueueReply(0x6985);
  sigLen = sizeof sig;
  EXPECT_EQ(mr_RSASignDataResult(&m_ctx, kFid, MR_ALG_RSA2048, sig, &sigLen),
            static_cast<HRESULT>(0x80006985));
  EXPECT_EQ(sigLen, 0u);
  EXPECT_EQ(Bytes(sig, sig + 128), Bytes(128, 0));
}

TEST_F(PrivateKeyFrames, RsaRawPrivateOperation) {
  for (BYTE keyType : {BYTE{MR_ALG_RSA1024}, BYTE{MR_ALG_RSA2048}}) {
    m_transport->Clear();
    const DWORD n = keyType == MR_ALG_RSA2048 ? 256 : 128;
    const BYTE k = keyType == MR_ALG_RSA2048 ? 1 : 0;
    const Bytes input = Sequence(n, 3);
    QueueOk(1 + n / 128 + 1);
    m_transport->QueueReply(0x9000, Sequence(128, 0x10));
    m_transport->QueueReply(0x9000, Sequence(128, 0x90));
    BYTE out[256];
    DWORD outLen = sizeof out;
    ASSERT_EQ(mr_RSAPriKeyRaw(&m_ctx, kFid, keyType, input.data(), n, out, &outLen), 0);
    EXPECT_EQ(outLen, n);
    EXPECT_EQ(Bytes(out, out + n), Slice(Frame(Sequence(128, 0x10), Sequence(128, 0x90)), 0, n));
    std::vector<Bytes> expected = {{0xB0, 0x38, 0x00, k, 0x02, 0x00, 0x14, 0xC0},
                                   Frame({0xB0, 0x38, 0x01, 0x00, 0x80, 0x00}, Slice(input, 0, 128))};
    if (n == 256) {
      expected.push_back(Frame({0xB0, 0x38, 0x01, 0x80, 0x80, 0x00}, Slice(input, 128, 128)));
    }
    expected.push_back({0xB0, 0x38, 0x02, 0x00, 0x00, 0x00});
    expected.push_back({0xB0, 0x38, 0x03, 0x00, 0x00, 0x80});
    if (n == 256) {
      expected.push_back({0xB0, 0x38, 0x03, 0x80, 0x00, 0x80});
    }
    EXPECT_EQ(Frames(), expected) << int(keyType);
  }

  // Wrong input length, small output, a short result.
  m_transport->Clear();
  BYTE out[256];
  DWORD outLen = sizeof out;
  const Bytes input = Sequence(256);
  EXPECT_EQ(mr_RSAPriKeyRaw(&m_ctx, kFid, MR_ALG_RSA1024, input.data(), 256, out, &outLen), kBadLength);
  outLen = 255;
  EXPECT_EQ(mr_RSAPriKeyRaw(&m_ctx, kFid, MR_ALG_RSA2048, input.data(), 256, out, &outLen),
            kBufferTooSmall);
  EXPECT_TRUE(Frames().empty());
  QueueOk(3);
  m_transport->QueueReply(0x9000, Sequence(100));
  outLen = sizeof out;
  EXPECT_EQ(mr_RSAPriKeyRaw(&m_ctx, kFid, MR_ALG_RSA1024, input.data(), 128, out, &outLen), kBadReply);
}

TEST_F(PrivateKeyFrames, Sm2DecryptionFramesAndLimits) {
  const Bytes cipher = Sequence(117);
  m_transport->QueueReply(0x9000, Sequence(20, 0x40));
  BYTE plain[64];
  DWORD plainLen = sizeof plain;
  ASSERT_EQ(mr_SM2Decrypt(&m_ctx, kFid, cipher.data(), 117, plain, &plainLen), 0);
  EXPECT_EQ(plainLen, 20u);
  EXPECT_EQ(Frames()[0], Frame({0xB0, 0x55, 0xC0, 0x14, 0x75, 0x15}, cipher));

  // The caller's capacity bounds the reply, although Le asks for one more.
  m_transport->Clear();
  m_transport->QueueReply(0x9000, Sequence(21));
  plainLen = 20;
  EXPECT_EQ(mr_SM2Decrypt(&m_ctx, kFid, cipher.data(), 117, plain, &plainLen), kBufferTooSmall);
  EXPECT_EQ(plainLen, 20u);
  EXPECT_EQ(Frames()[0][5], 0x15);

  // Lengths the frame cannot carry, or without a plaintext byte.
  m_transport->Clear();
  const Bytes big = Sequence(251);
  const struct {
    DWORD len;
    BYTE smState;
    HRESULT expected;
  } cases[] = {{251, MR_SM_STATE_NONE, kBadLength}, {1000, MR_SM_STATE_NONE, kBadLength},
               {239, MR_SM_STATE_SESSION_KEY, kBadLength}, {97, MR_SM_STATE_NONE, kBadLength},
               {0, MR_SM_STATE_NONE, kBadLength}};
  for (const auto& c : cases) {
    DEV_CTX ctx = m_ctx;
    ctx.bySMState = c.smState;
    plainLen = sizeof plain;
    EXPECT_EQ(mr_SM2Decrypt(&ctx, kFid, big.data(), c.len, plain, &plainLen), c.expected) << c.len;
  }
  EXPECT_TRUE(Frames().empty());
  m_transport->QueueReply(0x9000, Sequence(153));
  BYTE wide[160];
  plainLen = sizeof wide;
  ASSERT_EQ(mr_SM2Decrypt(&m_ctx, kFid, big.data(), 250, wide, &plainLen), 0);
  EXPECT_EQ(Frames()[0][4], 250);
  EXPECT_EQ(Frames()[0][5], 154);
}

TEST_F(PrivateKeyFrames, Sm2SignatureFramesAndLengths) {
  const Bytes digest = Sequence(32, 0xA0);
  m_transport->QueueReply(0x9000, Sequence(64));
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignDigest(&m_ctx, kFid, digest.data(), 32, sig, &sigLen), 0);
  EXPECT_EQ(sigLen, 64u);
  EXPECT_EQ(Frames()[0], Frame({0xB0, 0x54, 0xC0, 0x14, 0x20, 0x40}, digest));

  m_transport->Clear();
  const Bytes data = Sequence(225);
  ASSERT_EQ(mr_SM2SignDataInit(&m_ctx, kFid), 0);
  ASSERT_EQ(mr_SM2SignDataUpdate(&m_ctx, data.data(), 225), 0);
  ASSERT_EQ(mr_SM2SignDataUpdate(&m_ctx, nullptr, 0), 0);
  m_transport->QueueReply(0x9000, Sequence(32));
  BYTE e[32];
  DWORD eLen = sizeof e;
  ASSERT_EQ(mr_SM2SignDataFinal(&m_ctx, e, &eLen), 0);
  m_transport->QueueReply(0x9000, Sequence(64));
  sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignDataResult(&m_ctx, sig, &sigLen), 0);
  const std::vector<Bytes> expected = {
      Frame({0xB0, 0x81, 0x00, 0x00, 0x12, 0x00}, kSm2Start),
      Frame({0xB0, 0x81, 0x01, 0x00, 0xE0, 0x00}, Slice(data, 0, 224)),
      Frame({0xB0, 0x81, 0x01, 0x00, 0x01, 0x00}, Slice(data, 224, 1)),
      {0xB0, 0x81, 0x02, 0x00, 0x00, 0x20},
      {0xB0, 0x81, 0x03, 0x00, 0x00, 0x40},
  };
  EXPECT_EQ(Frames(), expected);

  // A failing end of data still reports 32; a failing result reports 64;
  // a short digest is no digest.
  m_transport->QueueReply(0x6985);
  eLen = 100;
  EXPECT_EQ(mr_SM2SignDataFinal(&m_ctx, e, &eLen), static_cast<HRESULT>(0x80006985));
  EXPECT_EQ(eLen, 32u);
  eLen = 31;
  EXPECT_EQ(mr_SM2SignDataFinal(&m_ctx, e, &eLen), kBufferTooSmall);
  EXPECT_EQ(eLen, 32u);
  m_transport->QueueReply(0x9000, Sequence(20));
  eLen = sizeof e;
  EXPECT_EQ(mr_SM2SignDataFinal(&m_ctx, e, &eLen), kBadReply);
  m_transport->QueueReply(0x6985);
  sigLen = 200;
  EXPECT_EQ(mr_SM2SignDataResult(&m_ctx, sig, &sigLen), static_cast<HRESULT>(0x80006985));
  EXPECT_EQ(sigLen, 64u);
}

TEST_F(PrivateKeyFrames, Sm2RepliesOfTheWrongLengthAreNoResult) {
  // A plaintext is exactly as long as C2 and r || s is 64 bytes: a reply of
  // another length fails, is wiped and reports no length.
  const Bytes cipher = Sequence(117);
  const Bytes digest = Sequence(32);
  const struct {
    const char* name;
    size_t replyLen;
    std::function<HRESULT(BYTE*, DWORD*)> call;
    size_t framesBefore;  // replies the call takes before the checked one
  } cases[] = {
      {"decryption, one byte short", 19,
       [&](BYTE* out, DWORD* len) { return mr_SM2Decrypt(&m_ctx, kFid, cipher.data(), 117, out, len); }, 0},
      {"decryption, one byte long", 21,
       [&](BYTE* out, DWORD* len) { return mr_SM2Decrypt(&m_ctx, kFid, cipher.data(), 117, out, len); }, 0},
      {"digest signature", 63,
       [&](BYTE* out, DWORD* len) { return mr_SM2SignDigest(&m_ctx, kFid, digest.data(), 32, out, len); }, 0},
      {"hashed signature", 63, [&](BYTE* out, DWORD* len) { return mr_SM2SignDataResult(&m_ctx, out, len); },
       0},
      {"display signature", 32,
       [&](BYTE* out, DWORD* len) { return mr_SM2SignXML(&m_ctx, kFid, nullptr, 0, out, len); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_transport->Clear();
    QueueOk(c.framesBefore == 2 ? 1 : 0);
    if (c.framesBefore == 2) {
      m_transport->QueueReply(0x9000, Sequence(32));
    }
    m_transport->QueueReply(0x9000, Sequence(c.replyLen, 0x40));
    BYTE out[100] = {};
    DWORD len = sizeof out;
    EXPECT_EQ(c.call(out, &len), kBadReply);
    EXPECT_EQ(Bytes(out, out + sizeof out), Bytes(sizeof out, 0)) << "nothing of the reply is left";
    EXPECT_TRUE(len == sizeof out || len == 64u) << len;
  }
}

TEST_F(PrivateKeyFrames, AFailingPieceEndsTheSequence) {
  const Bytes message = Sequence(500);
  QueueOk(2);
  m_transport->QueueReply(0x6A80);
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  EXPECT_EQ(mr_SM2SignXML(&m_ctx, kFid, message.data(), 500, sig, &sigLen),
            static_cast<HRESULT>(0x80006A80));
  EXPECT_EQ(Frames().size(), 3u);
  EXPECT_TRUE(m_sleeps.empty());
}

}  // namespace
