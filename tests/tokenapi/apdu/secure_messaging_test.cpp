// Secure messaging on the send path: what a class 0xB4 frame looks like on
// the wire with a session key set, and how protected replies are taken
// apart; OpenSSL's SM4 is the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/send_apdu.h"
#include "tokenapi/apdu/secure_messaging.h"
#include "tokenapi/crypto/algorithms.h"

namespace {

using merro::crypto::test::OracleCipher;
using merro::crypto::test::OracleCrypt;
using merro::testing::Bytes;

constexpr HRESULT kTooLong = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kDecryptFailed = static_cast<HRESULT>(0x80070208);

Bytes Pattern(size_t n, BYTE start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<BYTE>(start + 3 * i);
  }
  return b;
}

class SecureMessaging : public merro::testing::RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    m_key = Pattern(16, 0x21);
    std::memcpy(m_ctx.bySessionKey, m_key.data(), 16);
    m_ctx.dwSessionKeyLen = 16;
    m_ctx.bySMState = MR_SM_STATE_SESSION_KEY;
  }
  Bytes Sm4(bool encrypt, const Bytes& in) {
    return OracleCrypt(OracleCipher(MR_ALG_SM4, MR_MODE_CBC), encrypt, m_key, Bytes(16, 0), in)
        .value_or(Bytes{});
  }
  // A secure-messaging block: L, then the data.
  Bytes Block(const Bytes& data) {
    Bytes plain(1 + data.size());
    plain[0] = static_cast<BYTE>(data.size());
    std::copy(data.begin(), data.end(), plain.begin() + 1);
    return Sm4(true, plain);
  }
  HRESULT Send(BYTE cla, BYTE le, const Bytes& data, Bytes* pReply = nullptr) {
    Bytes frame{cla, 0x20, 0x01, 0x02, static_cast<BYTE>(data.size()), le};
    frame.insert(frame.end(), data.begin(), data.end());
    BYTE reply[256];
    DWORD replyLen = sizeof reply;
    const HRESULT hr = mr_SendAPDUCmd(&m_ctx, frame.data(), static_cast<DWORD>(frame.size()), reply,
                                      &replyLen, 2);
    if (pReply != nullptr) {
      pReply->assign(reply, reply + (hr == 0 ? replyLen : 0));
    }
    return hr;
  }

  Bytes m_key;
};

TEST_F(SecureMessaging, CommandDataTravelEncrypted) {
  const struct {
    size_t dataLen;
    BYTE le;
    size_t wireLc;
  } cases[] = {{0, 2, 16}, {14, 0, 16}, {15, 0, 32}, {16, 0, 32}, {238, 0, 240}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dataLen);
    m_transport->Clear();
    const Bytes data = Pattern(c.dataLen, 5);
    ASSERT_EQ(Send(MR_CLA_PROTECTED, c.le, data), 0);
    const Bytes& wire = m_transport->Frames().back();
    ASSERT_EQ(wire.size(), 6 + c.wireLc);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 6),
              (Bytes{0xB4, 0x20, 0x01, 0x02, static_cast<BYTE>(c.wireLc), c.le}));
    EXPECT_EQ(Bytes(wire.begin() + 6, wire.end()), Block(data));
  }
}

TEST_F(SecureMessaging, FramesThatStayInClear) {
  // Nothing to protect: 0xB4 with Lc 0 and Le 0 goes out as 0xB0.
  ASSERT_EQ(Send(MR_CLA_PROTECTED, 0, {}), 0);
  EXPECT_EQ(m_transport->Frames().back(), (Bytes{0xB0, 0x20, 0x01, 0x02, 0x00, 0x00}));
  // Class 0xB0 is never protected.
  ASSERT_EQ(Send(MR_CLA_PLAIN, 0, {1, 2, 3}), 0);
  EXPECT_EQ(m_transport->Frames().back(), (Bytes{0xB0, 0x20, 0x01, 0x02, 0x03, 0x00, 1, 2, 3}));
  // Without a session key 0xB4 goes out in clear as 0xB0.
  m_ctx.bySMState = MR_SM_STATE_NONE;
  ASSERT_EQ(Send(MR_CLA_PROTECTED, 0, {7}), 0);
  EXPECT_EQ(m_transport->Frames().back(), (Bytes{0xB0, 0x20, 0x01, 0x02, 0x01, 0x00, 7}));
}

TEST_F(SecureMessaging, DataLongerThanOneBlockLengthAreRefused) {
  // 239 bytes would need an encrypted length of 256: Lc would wrap.
  EXPECT_EQ(Send(MR_CLA_PROTECTED, 0, Pattern(239, 1)), kTooLong);
  EXPECT_EQ(Send(MR_CLA_PROTECTED, 0, Pattern(255, 1)), kTooLong);
  EXPECT_TRUE(m_transport->Frames().empty());
}

TEST_F(SecureMessaging, RepliesAreDecrypted) {
  const Bytes plain = Pattern(20, 9);
  m_transport->QueueReply(0x9000, Block(plain));
  Bytes reply;
  ASSERT_EQ(Send(MR_CLA_PROTECTED, 20, {}, &reply), 0);
  EXPECT_EQ(reply, plain);

  // A reply without data is not decrypted.
  m_transport->QueueReply(0x9000);
  ASSERT_EQ(Send(MR_CLA_PROTECTED, 2, {}, &reply), 0);
  EXPECT_TRUE(reply.empty());

  // An empty block (L = 0) gives no data.
  m_transport->QueueReply(0x9000, Block({}));
  ASSERT_EQ(Send(MR_CLA_PROTECTED, 2, {}, &reply), 0);
  EXPECT_TRUE(reply.empty());
}

TEST_F(SecureMessaging, BadRepliesFailAndKeepTheKey) {
  Bytes lying{200};  // L says 200, the block holds 15 bytes after it
  lying.resize(16, 0x41);
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"wrong padding", Pattern(32, 1)},
      {"not whole blocks", Pattern(17, 1)},
      {"L beyond the content", Sm4(true, lying)},
      {"no length byte", Sm4(true, {})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_transport->QueueReply(0x9000, c.data);
    Bytes reply;
    EXPECT_EQ(Send(MR_CLA_PROTECTED, 2, {}, &reply), kDecryptFailed);
    EXPECT_EQ(m_ctx.bySMState, MR_SM_STATE_SESSION_KEY);
    EXPECT_EQ(Bytes(m_ctx.bySessionKey, m_ctx.bySessionKey + 16), m_key);
  }
  // A refusing status word is returned before any decryption.
  m_transport->QueueReply(0x6982);
  EXPECT_EQ(Send(MR_CLA_PROTECTED, 2, {}), static_cast<HRESULT>(0x80006982));
}

TEST_F(SecureMessaging, CryptByteLimits) {
  BYTE out[MR_SM_BUFFER_LEN];
  DWORD len = 15;  // room below L + 1
  const Bytes data = Pattern(15, 0);
  EXPECT_EQ(GetCryptByte(&m_ctx, data.data(), 15, out, &len), static_cast<HRESULT>(0x80070003));
  EXPECT_EQ(len, 0u);
  len = sizeof out;
  ASSERT_EQ(GetCryptByte(&m_ctx, data.data(), 15, out, &len), 0);
  EXPECT_EQ(len, 32u);
  BYTE plain[MR_SM_BUFFER_LEN];
  DWORD plainLen = 0;
  ASSERT_EQ(GetPlainByte(&m_ctx, out, len, plain, &plainLen), 0);
  EXPECT_EQ(Bytes(plain, plain + plainLen), data);
}

}  // namespace
