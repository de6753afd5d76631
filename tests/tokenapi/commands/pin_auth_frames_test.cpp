// The frames of the PIN, external-authentication and session-key commands,
// byte for byte, over a recording transport; OpenSSL computes the proofs
// and cryptograms the frames must carry.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/sm2/sm2_cipher.h"
#include "tokenapi/crypto/sm2/sm2_keygen.h"

namespace {

using merro::crypto::test::OracleCipher;
using merro::crypto::test::OracleCrypt;
using merro::crypto::test::OracleDigest;
using merro::testing::Bytes;
using merro::testing::RecordingTransport;

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);
constexpr HRESULT kBadKeyId = static_cast<HRESULT>(0x80070210);

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}
Bytes Header(BYTE cla, BYTE ins, BYTE p1, BYTE p2, BYTE lc, BYTE le) { return {cla, ins, p1, p2, lc, le}; }
Bytes Md5(const Bytes& in) { return OracleDigest(MR_ALG_MD5, in); }
Bytes Proof(const std::string& pin, const Bytes& challenge) { return Md5(Cat(Md5(Text(pin)), challenge)); }
Bytes Tdes(const Bytes& key, const Bytes& in) {
  return *OracleCrypt(OracleCipher(MR_ALG_3DES_2KEY, MR_MODE_CBC), true, key, Bytes(8, 0), in);
}
Bytes Sm4(bool encrypt, const Bytes& key, const Bytes& in) {
  return OracleCrypt(OracleCipher(MR_ALG_SM4, MR_MODE_CBC), encrypt, key, Bytes(16, 0), in).value_or(Bytes{});
}
// SM4-CBC of whole blocks with nothing added: decrypts to exactly `plain`.
Bytes Sm4Raw(const Bytes& key, const Bytes& plain) {
  return OracleCrypt(OracleCipher(MR_ALG_SM4, MR_MODE_CBC), true, key, Bytes(16, 0), plain, false)
      .value_or(Bytes{});
}
Bytes Pattern(size_t n, BYTE start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<BYTE>(start + 7 * i);
  }
  return b;
}

class PinAuthFrames : public merro::testing::RecordingTest {};

TEST_F(PinAuthFrames, GenRandomLengths) {
  const Bytes random = Pattern(128, 1);
  m_transport->QueueReply(0x9000, random);
  BYTE out[128] = {};
  ASSERT_EQ(mr_GenRandom(&m_ctx, 128, out), 0);
  EXPECT_EQ(Frames().back(), Header(0xB0, 0x84, 0, 0, 0, 0x80));
  EXPECT_EQ(Bytes(out, out + 128), random);
  EXPECT_EQ(m_transport->Timeouts().back(), 2u);

  EXPECT_EQ(mr_GenRandom(&m_ctx, 129, out), kBadArgument);
  EXPECT_EQ(Frames().size(), 1u);

  // Fewer bytes than asked is a failure, and the output stays as it was.
  BYTE untouched[16];
  std::memset(untouched, 0xEE, sizeof untouched);
  m_transport->QueueReply(0x9000, Pattern(15, 3));
  EXPECT_EQ(mr_GenRandom(&m_ctx, 16, untouched), kBadReply);
  EXPECT_EQ(Bytes(untouched, untouched + 16), Bytes(16, 0xEE));
  // More than asked does not fit the receive length.
  m_transport->QueueReply(0x9000, Pattern(17, 3));
  EXPECT_EQ(mr_GenRandom(&m_ctx, 16, untouched), static_cast<HRESULT>(0x80070003));
}

TEST_F(PinAuthFrames, VerifyPinSendsFreshProof) {
  const Bytes challenge1 = Pattern(16, 0x10), challenge2 = Pattern(16, 0x20);
  const std::string pin = "905172";
  for (const Bytes& challenge : {challenge1, challenge2}) {
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x9000);
    ASSERT_EQ(mr_VerifyPIN(&m_ctx, MR_PIN_USER, reinterpret_cast<const BYTE*>(pin.data()),
                           static_cast<BYTE>(pin.size())),
              0);
  }
  ASSERT_EQ(Frames().size(), 4u);
  EXPECT_EQ(Frames()[0], Header(0xB0, 0x84, 0, 0, 0, 0x10));
  // Without a session key the class 0xB4 command goes out as 0xB0.
  EXPECT_EQ(Frames()[1], Cat(Header(0xB0, 0x20, 0, 1, 0x10, 0), Proof(pin, challenge1)));
  EXPECT_EQ(Frames()[3], Cat(Header(0xB0, 0x20, 0, 1, 0x10, 0), Proof(pin, challenge2)));
  EXPECT_NE(Frames()[1], Frames()[3]);
  EXPECT_EQ(m_transport->Timeouts(), (std::vector<DWORD>{2, 120, 2, 120}));

  // An empty PIN is proved with MD5 of nothing.
  m_transport->Clear();
  m_transport->QueueReply(0x9000, challenge1);
  m_transport->QueueReply(0x9000);
  const BYTE none = 0;
  ASSERT_EQ(mr_VerifyPIN(&m_ctx, MR_PIN_ADMIN, &none, 0), 0);
  EXPECT_EQ(Frames()[1], Cat(Header(0xB0, 0x20, 0, 2, 0x10, 0), Proof("", challenge1)));
}

TEST_F(PinAuthFrames, ChangeAndUnlockCarryProofThenNewDigest) {
  const Bytes challenge = Pattern(16, 0x31);
  const std::string oldPin = "905172", newPin = "24680";
  const struct {
    const char* name;
    BYTE ins;
    DWORD timeout;
    HRESULT (*call)(DEV_CTX*, BYTE, const BYTE*, BYTE, const BYTE*, BYTE);
  } cases[] = {{"change", 0x21, 120, &mr_ChangePIN}, {"unlock", 0x22, 2, &mr_UnlockPIN}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_transport->Clear();
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x9000);
    ASSERT_EQ(c.call(&m_ctx, MR_PIN_USER, reinterpret_cast<const BYTE*>(oldPin.data()),
                     static_cast<BYTE>(oldPin.size()), reinterpret_cast<const BYTE*>(newPin.data()),
                     static_cast<BYTE>(newPin.size())),
              0);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[1], Cat(Cat(Header(0xB0, c.ins, 0, 1, 0x20, 0), Proof(oldPin, challenge)),
                               Md5(Text(newPin))));
    EXPECT_EQ(Frames()[1].size(), 38u);
    EXPECT_EQ(m_transport->Timeouts().back(), c.timeout);
  }
}

TEST_F(PinAuthFrames, PinErrorsPassThrough) {
  const std::string pin = "1";
  // A failed challenge ends the command before anything else is sent.
  m_transport->QueueReply(0x6D00);
  EXPECT_EQ(mr_VerifyPIN(&m_ctx, 1, reinterpret_cast<const BYTE*>(pin.data()), 1),
            static_cast<HRESULT>(0x80006D00));
  EXPECT_EQ(Frames().size(), 1u);
  // A wrong PIN comes back with the tries left.
  m_transport->QueueReply(0x9000, Pattern(16, 0));
  m_transport->QueueReply(0x63C4);
  EXPECT_EQ(mr_VerifyPIN(&m_ctx, 1, reinterpret_cast<const BYTE*>(pin.data()), 1),
            static_cast<HRESULT>(0x800063C4));
}

TEST_F(PinAuthFrames, PinStatusReadsTwoParts) {
  m_transport->QueueReply(0x9000, {0x05, 0x11});
  m_transport->QueueReply(0x9000, {0x01});
  BYTE times = 0, status = 0, modified = 0;
  ASSERT_EQ(mr_GetPINStatus(&m_ctx, MR_PIN_USER, &times, &status, &modified), 0);
  EXPECT_EQ(Frames()[0], Header(0xB0, 0x25, 0, 1, 0, 2));
  EXPECT_EQ(Frames()[1], Header(0xB0, 0x25, 1, 1, 0, 1));
  EXPECT_EQ(times, 5);
  EXPECT_EQ(status, 0x11);
  EXPECT_EQ(modified, 1);

  // The second part fails: the first part's outputs stay written.
  m_transport->QueueReply(0x9000, {0x03, 0x00});
  m_transport->QueueReply(0x6A88);
  modified = 0x77;
  EXPECT_EQ(mr_GetPINStatus(&m_ctx, MR_PIN_ADMIN, &times, &status, &modified),
            static_cast<HRESULT>(0x80006A88));
  EXPECT_EQ(times, 3);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(modified, 0x77);

  // Replies shorter than the bytes used are refused, nothing written.
  const struct {
    Bytes part0, part1;
    BYTE times, status, modified;
  } shortReplies[] = {{{0x06}, {}, 0xAA, 0xAA, 0xAA}, {{0x06, 0x11}, {}, 6, 0x11, 0xAA}};
  for (const auto& c : shortReplies) {
    m_transport->Clear();
    m_transport->QueueReply(0x9000, c.part0);
    m_transport->QueueReply(0x9000, c.part1);
    times = status = modified = 0xAA;
    EXPECT_EQ(mr_GetPINStatus(&m_ctx, 1, &times, &status, &modified), kBadReply);
    EXPECT_EQ(times, c.times);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(modified, c.modified);
  }
}

TEST_F(PinAuthFrames, ExternalAuthCryptogramAndKeyIds) {
  const Bytes key = Pattern(16, 0x5A);
  const Bytes challenge = Pattern(8, 0x90);
  const struct {
    BYTE keyId;
    BYTE p1;
  } cases[] = {{MR_KEY_EXTERN, 0x00}, {MR_KEY_EXTERN_CFG, 0x01}, {0x77, 0x01}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyId);
    m_transport->Clear();
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x9000);
    ASSERT_EQ(mr_ExternalAuth(&m_ctx, key.data(), c.keyId), 0);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[0], Header(0xB0, 0x84, 0, 0, 0, 8));
    // Eight bytes of the challenge and a whole padding block: 16 bytes.
    EXPECT_EQ(Frames()[1], Cat(Header(0xB0, 0x82, c.p1, 0, 0x10, 0), Tdes(key, challenge)));
    EXPECT_EQ(Frames()[1].size(), 22u);
  }
  m_transport->Clear();
  m_transport->QueueReply(0x9000, challenge);
  m_transport->QueueReply(0x63C2);
  EXPECT_EQ(mr_ExternalAuth(&m_ctx, key.data(), MR_KEY_EXTERN), static_cast<HRESULT>(0x800063C2));
}

TEST_F(PinAuthFrames, AutoExternalAuthKeys) {
  const Bytes chipSn = Pattern(8, 0xC3);
  const Bytes challenge = Pattern(8, 0x44);
  const Bytes cfgKey(MR_EXTERN_CFG_KEY, MR_EXTERN_CFG_KEY + MR_EXTERN_KEY_LEN);
  // MR_KEY_EXTERN: chip serial number, MD5, triple DES under the
  // configuration key, first 16 bytes.
  m_transport->QueueReply(0x9000, chipSn);
  m_transport->QueueReply(0x9000, challenge);
  m_transport->QueueReply(0x9000);
  ASSERT_EQ(mr_AutoExternalAuth(&m_ctx, MR_KEY_EXTERN), 0);
  ASSERT_EQ(Frames().size(), 3u);
  EXPECT_EQ(Frames()[0], Header(0xB0, 0x93, 0, 0, 0, 8));
  Bytes derived = Tdes(cfgKey, Md5(chipSn));
  derived.resize(16);
  EXPECT_EQ(Frames()[2], Cat(Header(0xB0, 0x82, 0, 0, 0x10, 0), Tdes(derived, challenge)));

  // The same token always yields the same key; another chip another key
  // (each in a context of its own, which reads the serial number).
  m_transport->Clear();
  for (const Bytes& sn : {chipSn, Pattern(8, 0xC4)}) {
    DEV_CTX ctx = RecordingTransport::Context();
    m_transport->QueueReply(0x9000, sn);
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x9000);
    ASSERT_EQ(mr_AutoExternalAuth(&ctx, MR_KEY_EXTERN), 0);
  }
  EXPECT_EQ(Frames()[2], Cat(Header(0xB0, 0x82, 0, 0, 0x10, 0), Tdes(derived, challenge)));
  EXPECT_NE(Frames()[5], Frames()[2]);

  // MR_KEY_EXTERN_CFG: the configuration key itself.
  m_transport->Clear();
  m_transport->QueueReply(0x9000, challenge);
  m_transport->QueueReply(0x9000);
  ASSERT_EQ(mr_AutoExternalAuth(&m_ctx, MR_KEY_EXTERN_CFG), 0);
  EXPECT_EQ(Frames()[1], Cat(Header(0xB0, 0x82, 1, 0, 0x10, 0), Tdes(cfgKey, challenge)));

  // Any other id sends nothing.
  m_transport->Clear();
  EXPECT_EQ(mr_AutoExternalAuth(&m_ctx, 0x35), kBadKeyId);
  EXPECT_TRUE(Frames().empty());
}

// A context reads the chip serial number once. When the token refuses the
// proof made from the kept one, the number is read again, and the proof is
// sent again only when the token now gives another number (the same proof
// would only cost a try).
TEST_F(PinAuthFrames, KeptChipSerialReadAgainAfterARefusal) {
  const Bytes kept = Pattern(8, 0xC3);
  const Bytes challenge = Pattern(8, 0x44);
  const Bytes cfgKey(MR_EXTERN_CFG_KEY, MR_EXTERN_CFG_KEY + MR_EXTERN_KEY_LEN);
  const auto proof = [&](const Bytes& sn) {
    Bytes key = Tdes(cfgKey, Md5(sn));
    key.resize(16);
    return Cat(Header(0xB0, 0x82, 0, 0, 0x10, 0), Tdes(key, challenge));
  };
  const struct {
    const char* name;
    Bytes serialNow;    // what the token gives when asked again
    HRESULT result;
    size_t frames;      // 84 82 93, then 84 82 when the proof is sent again
  } cases[] = {
      {"another chip under the same context", Pattern(8, 0xD7), S_OK, 5},
      {"the same chip, refused for its own reasons", kept, static_cast<HRESULT>(0x800063C2), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DEV_CTX ctx = RecordingTransport::Context();
    m_transport->Clear();
    m_transport->QueueReply(0x9000, kept);
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x9000);
    ASSERT_EQ(mr_AutoExternalAuth(&ctx, MR_KEY_EXTERN), 0);

    m_transport->Clear();
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x63C2);
    m_transport->QueueReply(0x9000, c.serialNow);
    m_transport->QueueReply(0x9000, challenge);
    m_transport->QueueReply(0x9000);
    EXPECT_EQ(mr_AutoExternalAuth(&ctx, MR_KEY_EXTERN), c.result);
    ASSERT_EQ(Frames().size(), c.frames);
    EXPECT_EQ(Frames()[0], Header(0xB0, 0x84, 0, 0, 0, 8)) << "no serial number read first";
    EXPECT_EQ(Frames()[1], proof(kept));
    EXPECT_EQ(Frames()[2], Header(0xB0, 0x93, 0, 0, 0, 8));
    if (c.frames == 5) {
      EXPECT_EQ(Frames()[4], proof(c.serialNow));
    }
  }
}

// Answers SET SESSION KEY as a token would: decrypts the transport key with
// the temporary private key and returns `reply(transportKey)`.
class SessionKeyToken : public RecordingTransport {
 public:
  SessionKeyToken() {
    merro::crypto::SM2_generate_keypair(m_d, m_pub, m_pub + 32);
  }
  Bytes PublicKey() const { return Bytes(m_pub, m_pub + 64); }
  std::function<Bytes(const Bytes&)> reply;
  Bytes transportKey;

  // A new temporary key pair, as a token provisioned again gets.
  void Rekey() { merro::crypto::SM2_generate_keypair(m_d, m_pub, m_pub + 32); }
  // With answersKeyReads the token answers the select and the public-key
  // read itself (instead of replies queued ahead); refusal, when not 0, is
  // its answer to SET SESSION KEY. A transport key it cannot decrypt is
  // refused with 6A80.
  bool answersKeyReads = false;
  WORD refusal = 0;

  HRESULT SendFrame(HANDLE h, const BYTE* pFrame, DWORD nFrameLen, DWORD nTimeoutSec) override {
    const HRESULT hr = RecordingTransport::SendFrame(h, pFrame, nFrameLen, nTimeoutSec);
    if (hr == 0 && answersKeyReads && nFrameLen >= 2 && pFrame[1] == 0xA4) {
      QueueReply(0x9000, Bytes(16, 0));
    } else if (hr == 0 && answersKeyReads && nFrameLen >= 2 && pFrame[1] == 0x53) {
      QueueReply(0x9000, PublicKey());
    } else if (hr == 0 && nFrameLen == 6 + 113 && pFrame[1] == 0x91) {
      BnPtr d(BN_bin2bn(m_d, 32, nullptr));
      transportKey.assign(16, 0);
      if (merro::crypto::SM2_decrypt(pFrame + 6, 113, d.get(), transportKey.data(), 16) != 1) {
        transportKey.clear();
      }
      if (refusal != 0) {
        QueueReply(refusal);
      } else if (answersKeyReads && transportKey.empty()) {
        QueueReply(0x6A80);
      } else {
        QueueReply(0x9000, reply(transportKey));
      }
    }
    return hr;
  }

 private:
  struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
  };
  using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
  std::uint8_t m_d[32];
  std::uint8_t m_pub[64];
};

class SessionKeyFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    m_token = std::make_shared<SessionKeyToken>();
    merro::transport::SetTransportOverride(m_token);
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  // Queues the select and public-key replies ahead of SET SESSION KEY.
  void QueueKeyReads() {
    m_token->QueueReply(0x9000, Bytes(16, 0));
    m_token->QueueReply(0x9000, m_token->PublicKey());
  }

  std::shared_ptr<SessionKeyToken> m_token;
  DEV_CTX m_ctx = RecordingTransport::Context();
};

TEST_F(SessionKeyFrames, SetsKeyFromWrappedReply) {
  const Bytes sessionKey = Pattern(16, 0x61);
  m_token->reply = [&](const Bytes& tk) { return Sm4(true, tk, sessionKey); };
  QueueKeyReads();
  ASSERT_EQ(mr_SetSessionKey(&m_ctx), 0);
  const auto& frames = m_token->Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], Cat(Header(0xB0, 0xA4, 0x20, 0, 2, 0x10), {0x12, 0x00}));
  EXPECT_EQ(frames[1], Header(0xB0, 0x53, 0x00, 0x12, 0, 0x40));
  EXPECT_EQ(Bytes(frames[2].begin(), frames[2].begin() + 6), Header(0xB0, 0x91, 0, 0, 0x71, 0x20));
  EXPECT_EQ(frames[2][6], 0x04);
  ASSERT_EQ(m_token->transportKey.size(), 16u) << "the 113 bytes must decrypt to the transport key";
  for (BYTE b : m_token->transportKey) {
    EXPECT_TRUE(b >= 1 && b <= 254) << int(b);
  }
  EXPECT_EQ(m_ctx.bySMState, MR_SM_STATE_SESSION_KEY);
  EXPECT_EQ(m_ctx.dwSessionKeyLen, 16u);
  EXPECT_EQ(Bytes(m_ctx.bySessionKey, m_ctx.bySessionKey + 16), sessionKey);
}

// 32 bytes ending in `last`, the two bytes before it `last` and `third`.
Bytes BadPadding(BYTE last, BYTE third) {
  Bytes plain = Pattern(32, 0x40);
  plain[29] = third;
  plain[30] = last;
  plain[31] = last;
  return plain;
}

TEST_F(SessionKeyFrames, BadRepliesKeepTheEarlierKey) {
  const Bytes earlier = Pattern(16, 0x02);
  const struct {
    const char* name;
    std::function<Bytes(const Bytes&)> reply;
  } cases[] = {
      {"empty", [](const Bytes&) { return Bytes{}; }},
      {"short", [](const Bytes& tk) { return Sm4(true, tk, Bytes(1, 9)); }},
      {"long", [](const Bytes& tk) { return Sm4(true, tk, Pattern(40, 1)); }},
      // Each decrypts to 32 bytes whose padding is wrong in its own way, so
      // that a looser check would take a key of 16 to 32 bytes from it.
      {"padding byte 0", [](const Bytes& tk) { return Sm4Raw(tk, BadPadding(0x00, 0x00)); }},
      {"padding longer than the data",
       [](const Bytes& tk) { return Sm4Raw(tk, BadPadding(0x21, 0x21)); }},
      {"padding bytes that differ",
       [](const Bytes& tk) { return Sm4Raw(tk, BadPadding(0x03, 0x09)); }},
  };
  // The padding cases reach the padding check: their replies have the
  // right length.
  ASSERT_EQ(Sm4Raw(earlier, BadPadding(0x00, 0x00)).size(), 32u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A context that has not read the public key yet takes the queued reads.
    m_ctx = RecordingTransport::Context();
    m_ctx.bySMState = MR_SM_STATE_SESSION_KEY;
    std::memcpy(m_ctx.bySessionKey, earlier.data(), 16);
    m_ctx.dwSessionKeyLen = 16;
    m_token->reply = c.reply;
    QueueKeyReads();
    EXPECT_NE(mr_SetSessionKey(&m_ctx), 0);
    EXPECT_EQ(m_ctx.bySMState, MR_SM_STATE_SESSION_KEY);
    EXPECT_EQ(m_ctx.dwSessionKeyLen, 16u);
    EXPECT_EQ(Bytes(m_ctx.bySessionKey, m_ctx.bySessionKey + 16), earlier);
  }
  // A refused SET SESSION KEY leaves the state off when it was off.
  DEV_CTX fresh = RecordingTransport::Context();
  QueueKeyReads();
  m_token->reply = [](const Bytes&) { return Bytes{}; };
  EXPECT_NE(mr_SetSessionKey(&fresh), 0);
  EXPECT_EQ(fresh.bySMState, MR_SM_STATE_NONE);
  EXPECT_EQ(fresh.dwSessionKeyLen, 0u);
}

// A context reads the token's temporary public key once. When the token
// refuses the session key sent under the kept key, the key is read again,
// and the session key asked for again only when the key changed.
TEST_F(SessionKeyFrames, KeptPublicKeyReadAgainAfterARefusal) {
  const Bytes sessionKey = Pattern(16, 0x61);
  m_token->reply = [&](const Bytes& tk) { return Sm4(true, tk, sessionKey); };
  m_token->answersKeyReads = true;
  const struct {
    const char* name;
    bool rekeyed;    // the token's key pair was made anew
    WORD refusal;    // the token refuses every session key with this
    HRESULT result;
    Bytes ins;
  } cases[] = {
      {"a key pair made anew", true, 0, S_OK, {0x91, 0xA4, 0x53, 0x91}},
      {"the same key, refused for its own reasons", false, 0x6982,
       static_cast<HRESULT>(0x80006982), {0x91, 0xA4, 0x53}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DEV_CTX ctx = RecordingTransport::Context();
    ASSERT_EQ(mr_SetSessionKey(&ctx), 0);
    m_token->Clear();
    ASSERT_EQ(mr_SetSessionKey(&ctx), 0);
    ASSERT_EQ(m_token->Frames().size(), 1u) << "the second session of a context reads no key";
    EXPECT_EQ(m_token->Frames()[0][1], 0x91);

    if (c.rekeyed) {
      m_token->Rekey();
    }
    m_token->refusal = c.refusal;
    m_token->Clear();
    EXPECT_EQ(mr_SetSessionKey(&ctx), c.result);
    m_token->refusal = 0;
    Bytes ins;
    for (const Bytes& frame : m_token->Frames()) {
      ins.push_back(frame[1]);
    }
    EXPECT_EQ(ins, c.ins);
    if (c.result == S_OK) {
      ASSERT_EQ(m_token->transportKey.size(), 16u) << "sent under the token's new key";
      EXPECT_EQ(Bytes(ctx.bySessionKey, ctx.bySessionKey + 16), sessionKey);
    }
  }
}

}  // namespace
