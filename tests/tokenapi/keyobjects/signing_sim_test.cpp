// The private-key commands against the in-process simulator, with OpenSSL
// judging the results: signatures with hashing on the token, raw RSA,
// decryption, display signing with the scripted buttons, and the token's
// refusal of steps out of order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "foundation/alg_ids.h"
#include "tests/tokenapi/keyobjects/sim_keys.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/commands/rsa_private_commands.h"
#include "tokenapi/commands/sm2_private_commands.h"
#include "tokenapi/crypto/sm2/sm2_api.h"

namespace {

using merro::testing::Bytes;
using merro::testing::PkeyPtr;

constexpr WORD kSm2Fid = 0xC004;
constexpr WORD kRsa1024Fid = 0xC014;
constexpr WORD kRsa2048Fid = 0xC024;
constexpr HRESULT kOutOfOrder = static_cast<HRESULT>(0x80006985);

Bytes Message(size_t n) {
  Bytes m(n);
  for (size_t i = 0; i < n; ++i) {
    m[i] = static_cast<BYTE>('A' + i % 26);
  }
  return m;
}

class SigningSim : public merro::testing::SimulatorTest {
 protected:
  size_t TokenCount() const override { return 1; }
  void SetUp() override {
    SimulatorTest::SetUp();
    merro::commands::SetResultPollSleep([this](DWORD) { ++m_pauses; });
    m_ctx = OpenToken(0);
  }
  void TearDown() override {
    merro::commands::SetResultPollSleep(nullptr);
    SimulatorTest::TearDown();
  }
  PkeyPtr Place(WORD fid, BYTE alg) {
    PkeyPtr key = merro::testing::PlaceKey(*m_sim, 0, fid, alg);
    EXPECT_TRUE(key);
    return key;
  }
  HRESULT Select(WORD fid) {
    BYTE info[MR_FILE_INFO_LEN];
    DWORD len = sizeof info;
    return mr_SelectFile(m_ctx, MR_SELECT_BY_ID, fid, info, &len);
  }
  std::string LastShown() {
    std::string shown;
    m_sim->WithToken(0, [&](merro::tokensim::Token& t) {
      if (!t.Screen().Transcript().empty()) {
        shown = t.Screen().Transcript().back();
      }
    });
    return shown;
  }

  DEV_CTX* m_ctx = nullptr;
  unsigned m_pauses = 0;
};

TEST_F(SigningSim, Sm2HashingOnTheTokenSurvivesTheCommandsInBetween) {
  PkeyPtr key = Place(kSm2Fid, MR_ALG_SM2);
  Place(kRsa1024Fid, MR_ALG_RSA1024);
  const Bytes message = Message(500);
  ASSERT_EQ(mr_SM2SignDataInit(m_ctx, kSm2Fid), 0);
  ASSERT_EQ(mr_SM2SignDataUpdate(m_ctx, message.data(), 300), 0);
  ASSERT_EQ(mr_SM2SignDataUpdate(m_ctx, message.data() + 300, 200), 0);
  BYTE e[32];
  DWORD eLen = sizeof e;
  ASSERT_EQ(mr_SM2SignDataFinal(m_ctx, e, &eLen), 0);
  EXPECT_EQ(Bytes(e, e + 32), merro::testing::Sm2MessageDigest(key.get(), message));

  // What the host sends before it asks for the signature: a reset of the
  // security state, a challenge, reads of other files.
  ASSERT_EQ(mr_GetDevInfo(m_ctx, 1, nullptr), 0);
  BYTE challenge[8];
  ASSERT_EQ(mr_GenRandom(m_ctx, sizeof challenge, challenge), 0);
  ASSERT_EQ(Select(kRsa1024Fid), 0);
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  // Not the key of the sequence: refused, and the sequence stays.
  EXPECT_EQ(mr_SM2SignDataResult(m_ctx, sig, &sigLen), kOutOfOrder);
  ASSERT_EQ(Select(kSm2Fid), 0);
  sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignDataResult(m_ctx, sig, &sigLen), 0);
  EXPECT_EQ(sigLen, 64u);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(key.get(), message, Bytes(sig, sig + 64)));
  // The sequence is over.
  EXPECT_EQ(mr_SM2SignDataResult(m_ctx, sig, &sigLen), kOutOfOrder);
}

TEST_F(SigningSim, StepsOutOfOrderAreRefused) {
  Place(kSm2Fid, MR_ALG_SM2);
  Place(kRsa1024Fid, MR_ALG_RSA1024);
  const Bytes data = Message(10);
  BYTE out[256];
  DWORD outLen = 32;
  BYTE digestLen = 0;
  EXPECT_EQ(mr_SM2SignDataUpdate(m_ctx, data.data(), 10), kOutOfOrder);
  EXPECT_EQ(mr_SM2SignDataFinal(m_ctx, out, &outLen), kOutOfOrder);
  EXPECT_EQ(mr_RSASignDataUpdate(m_ctx, data.data(), 10), kOutOfOrder);
  outLen = 20;
  EXPECT_EQ(mr_RSASignDataFinal(m_ctx, 20, out, &outLen), kOutOfOrder);
  outLen = 128;
  EXPECT_EQ(mr_RSASignDataResult(m_ctx, kRsa1024Fid, MR_ALG_RSA1024, out, &outLen), kOutOfOrder);
  // A digest asked for with the wrong length, then the sequence goes on.
  ASSERT_EQ(mr_RSASignDataInit(m_ctx, MR_ALG_SHA1, &digestLen), 0);
  outLen = sizeof out;
  EXPECT_EQ(mr_RSASignDataFinal(m_ctx, 16, out, &outLen), static_cast<HRESULT>(0x80006700));
  outLen = sizeof out;
  EXPECT_EQ(mr_RSASignDataFinal(m_ctx, digestLen, out, &outLen), 0);
  // A display result with nothing shown; a key that is not there.
  outLen = 64;
  EXPECT_EQ(mr_SM2SignDigest(m_ctx, 0xC044, out, 32, out, &outLen), static_cast<HRESULT>(0x80006A82));
  EXPECT_EQ(mr_SM2SignDigest(m_ctx, kRsa1024Fid, out, 32, out, &outLen), kOutOfOrder);
}

TEST_F(SigningSim, Sm2DecryptionAndDigestSignature) {
  PkeyPtr key = Place(kSm2Fid, MR_ALG_SM2);
  const Bytes xy = merro::testing::Sm2PublicXY(key.get());
  for (DWORD plainLen : {1u, 20u, 141u}) {
    const Bytes plain = Message(plainLen);
    Bytes cipher(plainLen + 97);
    DWORD cipherLen = static_cast<DWORD>(cipher.size());
    ASSERT_EQ(merro::crypto::SM2_Encrypt(xy.data(), plain.data(), plainLen, cipher.data(), &cipherLen), 0);
    BYTE out[200];
    DWORD outLen = sizeof out;
    ASSERT_EQ(mr_SM2Decrypt(m_ctx, kSm2Fid, cipher.data(), cipherLen, out, &outLen), 0) << plainLen;
    EXPECT_EQ(Bytes(out, out + outLen), plain);
    // A tampered check value does not decrypt.
    cipher.back() ^= 1;
    outLen = sizeof out;
    EXPECT_EQ(mr_SM2Decrypt(m_ctx, kSm2Fid, cipher.data(), cipherLen, out, &outLen),
              static_cast<HRESULT>(0x80006A80));
  }
  const Bytes message = Message(77);
  const Bytes e = merro::testing::Sm2MessageDigest(key.get(), message);
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(mr_SM2SignDigest(m_ctx, kSm2Fid, e.data(), 32, sig, &sigLen), 0);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(key.get(), message, Bytes(sig, sig + 64)));
}

TEST_F(SigningSim, RsaRawOperationAndHashingOnTheToken) {
  const struct {
    WORD fid;
    BYTE alg;
    size_t k;
  } keys[] = {{kRsa1024Fid, MR_ALG_RSA1024, 128}, {kRsa2048Fid, MR_ALG_RSA2048, 256}};
  const struct {
    BYTE hash;
    const EVP_MD* digestMd;  // what the token hashes with
    bool digestInfo;
  } hashes[] = {{MR_ALG_SHA1, EVP_sha1(), true},
                {MR_ALG_SHA512, EVP_sha512(), true},
                {MR_ALG_MD5, EVP_md5(), true},
                {MR_ALG_SHA1_MD5, nullptr, false}};
  const Bytes message = Message(450);
  for (const auto& k : keys) {
    PkeyPtr key = Place(k.fid, k.alg);
    // Raw: the caller's PKCS#1 block of a SHA-256 digest.
    const Bytes digest = merro::testing::Digest(EVP_sha256(), message);
    const Bytes block = merro::testing::Pkcs1SignatureBlock(digest, k.k);
    BYTE sig[256];
    DWORD sigLen = sizeof sig;
    ASSERT_EQ(mr_RSAPriKeyRaw(m_ctx, k.fid, k.alg, block.data(), static_cast<DWORD>(k.k), sig, &sigLen), 0);
    ASSERT_EQ(sigLen, k.k);
    EXPECT_TRUE(merro::testing::RsaVerifyDigest(key.get(), EVP_sha256(), digest, Bytes(sig, sig + k.k)));

    for (const auto& h : hashes) {
      BYTE digestLen = 0;
      ASSERT_EQ(mr_RSASignDataInit(m_ctx, h.hash, &digestLen), 0);
      ASSERT_EQ(mr_RSASignDataUpdate(m_ctx, message.data(), 450), 0);
      BYTE tokenDigest[64];
      DWORD tokenDigestLen = sizeof tokenDigest;
      ASSERT_EQ(mr_RSASignDataFinal(m_ctx, digestLen, tokenDigest, &tokenDigestLen), 0);
      Bytes expected;
      if (h.digestMd != nullptr) {
        expected = merro::testing::Digest(h.digestMd, message);
      } else {
        expected = merro::testing::Digest(EVP_sha1(), message);
        const Bytes md5 = merro::testing::Digest(EVP_md5(), message);
        expected.insert(expected.end(), md5.begin(), md5.end());
      }
      EXPECT_EQ(Bytes(tokenDigest, tokenDigest + tokenDigestLen), expected) << int(h.hash);
      sigLen = sizeof sig;
      ASSERT_EQ(mr_RSASignDataResult(m_ctx, k.fid, k.alg, sig, &sigLen), 0);
      ASSERT_EQ(sigLen, k.k);
      EXPECT_TRUE(merro::testing::RsaVerifyDigest(key.get(), h.digestInfo ? h.digestMd : nullptr,
                                                  expected, Bytes(sig, sig + k.k)))
          << int(h.hash) << " " << k.k;
    }
  }
  // Raw input that is not below the modulus.
  const Bytes ones(128, 0xFF);
  BYTE out[256];
  DWORD outLen = sizeof out;
  EXPECT_EQ(mr_RSAPriKeyRaw(m_ctx, kRsa1024Fid, MR_ALG_RSA1024, ones.data(), 128, out, &outLen),
            static_cast<HRESULT>(0x80006A80));
  // A 2048-bit operation asked of a 1024-bit key.
  outLen = sizeof out;
  EXPECT_EQ(mr_RSAPriKeyRaw(m_ctx, kRsa1024Fid, MR_ALG_RSA2048, Bytes(256, 1).data(), 256, out, &outLen),
            kOutOfOrder);
}

TEST_F(SigningSim, DisplaySignatureFollowsTheButtons) {
  PkeyPtr sm2 = Place(kSm2Fid, MR_ALG_SM2);
  PkeyPtr rsa = Place(kRsa2048Fid, MR_ALG_RSA2048);
  const Bytes message = Message(300);
  const std::string shown(message.begin(), message.end());

  Control("button 0 ok after 3");
  BYTE sig[256];
  DWORD sigLen = 64;
  ASSERT_EQ(mr_SM2SignXML(m_ctx, kSm2Fid, message.data(), 300, sig, &sigLen), 0);
  EXPECT_EQ(sigLen, 64u);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(sm2.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(LastShown(), shown);
  EXPECT_EQ(m_pauses, 4u);

  Control("button 0 ok after 1");
  sigLen = sizeof sig;
  ASSERT_EQ(mr_RSASignXML(m_ctx, kRsa2048Fid, MR_ALG_RSA2048, MR_ALG_SHA256, message.data(), 300,
                          sig, &sigLen), 0);
  ASSERT_EQ(sigLen, 256u);
  EXPECT_TRUE(merro::testing::RsaVerifyDigest(rsa.get(), EVP_sha256(),
                                              merro::testing::Digest(EVP_sha256(), message),
                                              Bytes(sig, sig + 256)));

  const struct {
    const char* script;
    HRESULT expected;
  } answers[] = {{"button 0 cancel after 2", MR_E_KEY_CANCELLED},
                 {"button 0 timeout after 5", MR_E_KEY_TIMEOUT},
                 {"button 0 clear", MR_E_KEY_CANCELLED}};  // nobody scripted: C at once
  for (const auto& a : answers) {
    Control(a.script);
    sigLen = 64;
    EXPECT_EQ(mr_SM2SignXML(m_ctx, kSm2Fid, message.data(), 10, sig, &sigLen), a.expected) << a.script;
    // The sequence has ended: another poll is out of order.
    sigLen = sizeof sig;
    EXPECT_EQ(mr_SM2SignDataResult(m_ctx, sig, &sigLen), kOutOfOrder);
  }
  // An empty message is shown as such and signed.
  Control("button 0 ok");
  sigLen = 64;
  ASSERT_EQ(mr_SM2SignXML(m_ctx, kSm2Fid, nullptr, 0, sig, &sigLen), 0);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(sm2.get(), Bytes(), Bytes(sig, sig + 64)));
  EXPECT_EQ(LastShown(), "");
}

// A held button: the result polls hear "still waiting" until the test
// releases the button, then the answer it was released with; without a
// release, no answer once the hold limit has passed.
TEST_F(SigningSim, DisplaySignatureWaitsForAHeldButton) {
  PkeyPtr sm2 = Place(kSm2Fid, MR_ALG_SM2);
  const Bytes message = Message(40);
  std::atomic<unsigned> polls{0};
  merro::commands::SetResultPollSleep([&](DWORD) {
    ++polls;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  m_sim->WithToken(0, [](merro::tokensim::Token& t) { t.Screen().SetHoldLimit(std::chrono::seconds(10)); });
  Control("button 0 hold");
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  HRESULT result = 1;
  std::thread signer([&] { result = mr_SM2SignXML(m_ctx, kSm2Fid, message.data(), 40, sig, &sigLen); });
  for (int i = 0; i < 2000 && polls < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_GE(polls.load(), 20u) << "polled while held";
  Control("button 0 release ok");
  signer.join();
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(sm2.get(), message, Bytes(sig, sig + 64)));

  m_sim->WithToken(0, [](merro::tokensim::Token& t) {
    t.Screen().SetHoldLimit(std::chrono::milliseconds(100));
  });
  Control("button 0 hold");
  sigLen = sizeof sig;
  EXPECT_EQ(mr_SM2SignXML(m_ctx, kSm2Fid, message.data(), 40, sig, &sigLen), MR_E_KEY_TIMEOUT);
}

}  // namespace
