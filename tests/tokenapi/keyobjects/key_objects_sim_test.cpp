// The device key objects against the in-process simulator: signatures made
// on the token judged by OpenSSL and by the host's own verification,
// display signing with the scripted buttons, encryption on the host and
// decryption on the token, hashing on the token across authentication,
// session key and PIN, and the device mutex shared with another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/alg_ids.h"
#include "tests/tokenapi/keyobjects/sim_keys.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/extern_auth_keys.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/keyobjects/asym_key_object.h"
#include "tokenapi/transport/merro_transport.h"

namespace {

using merro::testing::Bytes;
using merro::testing::PkeyPtr;

constexpr WORD kSm2Fid = 0xC004;
constexpr WORD kRsa1024Fid = 0xC014;
constexpr WORD kRsa2048Fid = 0xC021;

Bytes Message(size_t n, char base = 'a') {
  Bytes m(n);
  for (size_t i = 0; i < n; ++i) {
    m[i] = static_cast<BYTE>(base + i % 26);
  }
  return m;
}

// A key object made and destroyed by the scope.
class Key {
 public:
  Key(DEV_CTX* ctx, BYTE type, WORD fid) {
    EXPECT_EQ(CAsymKeyObject::AsymKeyInit(ctx, type, fid, &m_key), 0);
  }
  ~Key() { CAsymKeyObject::AsymKeyFinal(m_key); }
  void* get() const { return m_key; }

 private:
  void* m_key = nullptr;
};

class KeyObjectsSim : public merro::testing::SimulatorTest {
 protected:
  size_t TokenCount() const override { return 1; }
  void SetUp() override {
    SimulatorTest::SetUp();
    merro::commands::SetResultPollSleep([](DWORD) {});
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
  std::string LastShown() {
    std::string shown;
    m_sim->WithToken(0, [&](merro::tokensim::Token& t) {
      shown = t.Screen().Transcript().empty() ? "" : t.Screen().Transcript().back();
    });
    return shown;
  }

  DEV_CTX* m_ctx = nullptr;
};

TEST_F(KeyObjectsSim, Sm2HashedOnTheTokenAcrossAuthenticationSessionKeyAndPin) {
  Control("provision 0");
  PkeyPtr pair = Place(kSm2Fid, MR_ALG_SM2);
  Key key(m_ctx, MR_ALG_SM2, kSm2Fid);
  const Bytes message = Message(700);
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(key.get(), MR_ALG_SM3), 0);
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(key.get(), message.data(), 400), 0);
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(key.get(), message.data() + 400, 300), 0);
  BYTE digest[32];
  DWORD digestLen = sizeof digest;
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(key.get(), digest, &digestLen), 0);
  ASSERT_EQ(digestLen, 32u);

  // What the device object sends before it fetches the signature.
  ASSERT_EQ(mr_AutoExternalAuth(m_ctx, MR_KEY_EXTERN), 0);
  ASSERT_EQ(mr_SetSessionKey(m_ctx), 0);
  const std::string pin = "905172";
  ASSERT_EQ(mr_VerifyPIN(m_ctx, MR_PIN_USER, reinterpret_cast<const BYTE*>(pin.data()), 6), 0);

  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataResult(key.get(), sig, &sigLen), 0);
  ASSERT_EQ(sigLen, 64u);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(pair.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(key.get(), MR_ALG_SM3, digest, 32, sig, 64), 0);
  sig[10] ^= 1;
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(key.get(), MR_ALG_SM3, digest, 32, sig, 64),
            static_cast<HRESULT>(0x80070212));
  // Out of order now: the token's status word passes through.
  sigLen = sizeof sig;
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataResult(key.get(), sig, &sigLen),
            static_cast<HRESULT>(0x80006985));
}

TEST_F(KeyObjectsSim, DigestSignaturesVerifyOnTheHostAndWithOpenSsl) {
  PkeyPtr sm2Pair = Place(kSm2Fid, MR_ALG_SM2);
  Key sm2(m_ctx, MR_ALG_SM2, kSm2Fid);
  const Bytes message = Message(123);
  const Bytes e = merro::testing::Sm2MessageDigest(sm2Pair.get(), message);
  BYTE sig[256];
  DWORD sigLen = 64;
  ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.get(), 0, 0, e.data(), 32, sig, &sigLen), 0);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(sm2Pair.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(sm2.get(), MR_ALG_SM3, e.data(), 32, sig, 64), 0);

  for (const auto& k : {std::make_pair(kRsa1024Fid, BYTE{MR_ALG_RSA1024}),
                        std::make_pair(kRsa2048Fid, BYTE{MR_ALG_RSA2048})}) {
    PkeyPtr pair = Place(k.first, k.second);
    Key rsa(m_ctx, k.second, k.first);
    const DWORD n = k.second == MR_ALG_RSA2048 ? 256 : 128;
    const Bytes digest = merro::testing::Digest(EVP_sha256(), message);
    const Bytes block = merro::testing::Pkcs1SignatureBlock(digest, n);
    sigLen = n;
    ASSERT_EQ(CAsymKeyObject::PrikeySign(rsa.get(), 0, 0, block.data(), n, sig, &sigLen), 0);
    ASSERT_EQ(sigLen, n);
    EXPECT_TRUE(merro::testing::RsaVerifyDigest(pair.get(), EVP_sha256(), digest, Bytes(sig, sig + n)));
    EXPECT_EQ(CAsymKeyObject::PubkeyVerify(rsa.get(), MR_ALG_SHA256, digest.data(), 32, sig, n), 0);

    // Hashing on the token, SHA-1.
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(rsa.get(), MR_ALG_SHA1), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(rsa.get(), message.data(), 123), 0);
    BYTE tokenDigest[20];
    DWORD tokenDigestLen = sizeof tokenDigest;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(rsa.get(), tokenDigest, &tokenDigestLen), 0);
    EXPECT_EQ(Bytes(tokenDigest, tokenDigest + 20), merro::testing::Digest(EVP_sha1(), message));
    sigLen = n;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataResult(rsa.get(), sig, &sigLen), 0);
    EXPECT_EQ(CAsymKeyObject::PubkeyVerify(rsa.get(), MR_ALG_SHA1, tokenDigest, 20, sig, n), 0);
    EXPECT_TRUE(merro::testing::RsaVerifyDigest(pair.get(), EVP_sha1(), Bytes(tokenDigest, tokenDigest + 20),
                                                Bytes(sig, sig + n)));
  }
}

TEST_F(KeyObjectsSim, DisplaySigningShowsTheMessageAndFollowsTheButtons) {
  PkeyPtr sm2Pair = Place(kSm2Fid, MR_ALG_SM2);
  PkeyPtr rsaPair = Place(kRsa1024Fid, MR_ALG_RSA1024);
  Key sm2(m_ctx, MR_ALG_SM2, kSm2Fid);
  Key rsa(m_ctx, MR_ALG_RSA1024, kRsa1024Fid);
  const Bytes message = Message(480, 'A');
  BYTE sig[128];
  DWORD sigLen = 64;

  Control("button 0 ok after 2");
  ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, message.data(),
                                       480, sig, &sigLen), 0);
  EXPECT_TRUE(merro::testing::Sm2VerifyMessage(sm2Pair.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(LastShown(), std::string(message.begin(), message.end()));

  Control("button 0 ok after 4");
  sigLen = sizeof sig;
  ASSERT_EQ(CAsymKeyObject::PrikeySign(rsa.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA256, message.data(),
                                       480, sig, &sigLen), 0);
  EXPECT_TRUE(merro::testing::RsaVerifyDigest(rsaPair.get(), EVP_sha256(),
                                              merro::testing::Digest(EVP_sha256(), message),
                                              Bytes(sig, sig + 128)));

  Control("button 0 cancel after 1");
  sigLen = 64;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, message.data(),
                                       20, sig, &sigLen), MR_E_KEY_CANCELLED);
  Control("button 0 timeout after 3");
  sigLen = sizeof sig;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA256, message.data(),
                                       20, sig, &sigLen), MR_E_KEY_TIMEOUT);
}

TEST_F(KeyObjectsSim, EncryptOnTheHostDecryptOnTheToken) {
  const struct {
    WORD fid;
    BYTE type;
    DWORD plainLen;
  } cases[] = {{kSm2Fid, MR_ALG_SM2, 1}, {kSm2Fid, MR_ALG_SM2, 141},
               {kRsa1024Fid, MR_ALG_RSA1024, 117}, {kRsa2048Fid, MR_ALG_RSA2048, 200}};
  for (const auto& c : cases) {
    Place(c.fid, c.type);
    Key key(m_ctx, c.type, c.fid);
    const Bytes plain = Message(c.plainLen, 'K');
    BYTE cipher[256];
    DWORD cipherLen = sizeof cipher;
    ASSERT_EQ(CAsymKeyObject::PubkeyEnc(key.get(), plain.data(), c.plainLen, cipher, &cipherLen), 0);
    BYTE out[256];
    DWORD outLen = sizeof out;
    ASSERT_EQ(CAsymKeyObject::PrikeyDec(key.get(), cipher, cipherLen, out, &outLen), 0) << c.plainLen;
    Bytes got(out, out + outLen);
    if (c.type != MR_ALG_SM2) {
      // The raw result is the PKCS#1 block 00 02 PS 00 M.
      ASSERT_EQ(outLen, cipherLen);
      EXPECT_EQ(got[0], 0x00);
      EXPECT_EQ(got[1], 0x02);
      EXPECT_EQ(got[outLen - c.plainLen - 1], 0x00);
      got.erase(got.begin(), got.end() - c.plainLen);
    }
    EXPECT_EQ(got, plain) << c.plainLen;
  }
}

TEST_F(KeyObjectsSim, AnotherHolderOfTheDeviceMutexMakesTheSignatureWait) {
  Place(kSm2Fid, MR_ALG_SM2);
  Key key(m_ctx, MR_ALG_SM2, kSm2Fid);
  std::atomic<bool> held{false};
  std::atomic<bool> released{false};
  std::atomic<bool> go{false};
  std::thread holder([&] {
    ASSERT_EQ(MerroWaitDevMutex(m_ctx->szMutexName), 0);
    held = true;
    while (!go) {
      std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    released = true;
    MerroReleaseMutex(m_ctx->szMutexName);
  });
  while (!held) {
    std::this_thread::yield();
  }
  go = true;
  const Bytes e(32, 3);
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(CAsymKeyObject::PrikeySign(key.get(), 0, 0, e.data(), 32, sig, &sigLen), 0);
  EXPECT_TRUE(released);  // it could only run after the holder let go
  holder.join();
  // Nothing is left held: another thread takes the mutex at once.
  std::thread after([&] {
    EXPECT_EQ(merro::transport::WaitDevMutexFor(m_ctx->szMutexName, 0), 0);
    EXPECT_EQ(MerroReleaseMutex(m_ctx->szMutexName), 0);
  });
  after.join();
}

}  // namespace
