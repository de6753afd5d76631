// The device key objects over a recording transport: the factory, the
// size and length checks of the wrappers and operations (which must send
// nothing), the device mutex rules, and the host-side public operations
// against OpenSSL.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/alg_ids.h"
#include "tests/tokenapi/crypto/trace_capture.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/keyobjects/asym_key_object.h"
#include "tokenapi/keyobjects/rsa_dev_obj.h"
#include "tokenapi/keyobjects/sm2_dev_obj.h"
#include "tokenapi/transport/merro_transport.h"

namespace {

using merro::testing::Bytes;

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kBadType = static_cast<HRESULT>(0x80070209);
constexpr WORD kFid = 0xC004;

// A key object whose storage the test owns.
struct KeyCtx {
  KeyCtx(DEV_CTX* ctx, BYTE type) { EXPECT_EQ(CAsymKeyObject::AsymKeyInit(ctx, type, kFid, &p), 0); }
  ~KeyCtx() { CAsymKeyObject::AsymKeyFinal(p); }
  void* p = nullptr;
};

class KeyObjectRules : public merro::testing::RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    const std::string name = "merro-keyobj-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    std::memcpy(m_ctx.szMutexName, name.c_str(), name.size() + 1);
    ASSERT_EQ(MerroCreateMutex(&m_ctx), 0);
    merro::commands::SetResultPollSleep([](DWORD) {});
  }
  void TearDown() override {
    merro::commands::SetResultPollSleep(nullptr);
    MerroCloseMutex(&m_ctx);
    RecordingTest::TearDown();
  }
  // The replies of mr_ExportPublicKey for a 1024-bit key: select, length,
  // exponent, modulus.
  void QueueRsaExport(EVP_PKEY* key) {
    BIGNUM* n = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
    Bytes modulus(128);
    BN_bn2binpad(n, modulus.data(), 128);
    BN_free(n);
    m_transport->QueueReply(0x9000);
    m_transport->QueueReply(0x9000, {0x04, 0x00});
    m_transport->QueueReply(0x9000, {0x01, 0x00, 0x01});
    m_transport->QueueReply(0x9000, modulus);
  }
};

TEST_F(KeyObjectRules, FactoryMakesTheObjectOfTheKeyType) {
  const struct {
    BYTE type;
    bool sm2;
    DWORD signLen;
  } made[] = {{MR_ALG_SM2, true, 64}, {MR_ALG_RSA1024, false, 128}, {MR_ALG_RSA2048, false, 256}};
  for (const auto& m : made) {
    void* key = nullptr;
    ASSERT_EQ(CAsymKeyObject::AsymKeyInit(&m_ctx, m.type, kFid, &key), 0);
    auto* obj = static_cast<CAsymKeyObject*>(key);
    EXPECT_EQ(dynamic_cast<CSM2DevObj*>(obj) != nullptr, m.sm2);
    EXPECT_EQ(obj->GetKeyType(), m.type);
    EXPECT_EQ(obj->GetKeyFID(), kFid);
    EXPECT_EQ(obj->GetDevCtx(), &m_ctx);
    EXPECT_EQ(obj->GetOutLen(ASYMKEY_OP_SIGN, 0), m.signLen);
    EXPECT_EQ(CAsymKeyObject::AsymKeyFinal(key), 0);
  }
  void* untouched = &m_ctx;
  for (BYTE type : {BYTE{0}, BYTE{2}, BYTE{0x12}}) {
    EXPECT_EQ(CAsymKeyObject::AsymKeyInit(&m_ctx, type, kFid, &untouched), kBadType);
    EXPECT_EQ(untouched, &m_ctx);
  }
  EXPECT_EQ(CAsymKeyObject::AsymKeyFinal(nullptr), 0);

  // SM2 output lengths, the decryption length wrapping below 97.
  KeyCtx sm2(&m_ctx, MR_ALG_SM2);
  auto* obj = static_cast<CAsymKeyObject*>(sm2.p);
  EXPECT_EQ(obj->GetOutLen(ASYMKEY_OP_ENCRYPT, 20), 117u);
  EXPECT_EQ(obj->GetOutLen(ASYMKEY_OP_DECRYPT, 117), 20u);
  EXPECT_GT(obj->GetOutLen(ASYMKEY_OP_DECRYPT, 96), 0x10000000u);
  EXPECT_EQ(obj->GetOutLen(ASYMKEY_OP_ENCRYPT, 0xFFFFFFF0u), 0xFFFFFFFFu);  // would wrap
  EXPECT_EQ(obj->GetOutLen(3, 5), 0u);
}

TEST_F(KeyObjectRules, ABareObjectSupportsNothing) {
  struct Bare : CAsymKeyObject {};
  Bare bare;
  BYTE buf[8];
  DWORD len = sizeof buf;
  EXPECT_TRUE(bare.SetKeyType(MR_ALG_SM2));
  EXPECT_EQ(bare.GetOutLen(ASYMKEY_OP_SIGN, 1), static_cast<DWORD>(ASYMKEY_NOT_SUPPORTED));
  EXPECT_EQ(bare.Decrypt(buf, 1, buf, &len), ASYMKEY_NOT_SUPPORTED);
  EXPECT_EQ(bare.SignDataInit(0), ASYMKEY_NOT_SUPPORTED);
  EXPECT_EQ(bare.SignXML(18, buf, 1, buf, &len), ASYMKEY_NOT_SUPPORTED);
  EXPECT_EQ(bare.Verify(0, buf, 1, buf, 1), ASYMKEY_NOT_SUPPORTED);
}

TEST_F(KeyObjectRules, ChecksThatFailBeforeAnyTokenTraffic) {
  KeyCtx sm2(&m_ctx, MR_ALG_SM2);
  KeyCtx rsa(&m_ctx, MR_ALG_RSA2048);
  BYTE in[300] = {};
  BYTE out[300];
  DWORD outLen = 116;
  // PubkeyEnc tells the length it needs.
  EXPECT_EQ(CAsymKeyObject::PubkeyEnc(sm2.p, in, 20, out, &outLen), kBufferTooSmall);
  EXPECT_EQ(outLen, 117u);
  // An empty plaintext has no SM2 ciphertext.
  outLen = sizeof out;
  EXPECT_EQ(CAsymKeyObject::PubkeyEnc(sm2.p, in, 0, out, &outLen), kBadLength);
  // A 96-byte ciphertext asks for a wrapped length.
  outLen = sizeof out;
  EXPECT_EQ(CAsymKeyObject::PrikeyDec(sm2.p, in, 96, out, &outLen), kBufferTooSmall);
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(sm2.p, MR_ALG_SM3, in, 32, in, 63), kBadArgument);
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(sm2.p, MR_ALG_SM3, in, 31, in, 64), kBadLength);
  outLen = 64;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA256, in, 10, out, &outLen), kBadType);
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.p, 0, 0, in, 31, out, &outLen), kBadLength);
  outLen = 63;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.p, 0, 0, in, 32, out, &outLen), kBufferTooSmall);
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataResult(sm2.p, out, &outLen), kBufferTooSmall);
  outLen = 31;
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataFinal(sm2.p, out, &outLen), kBufferTooSmall);

  outLen = 255;
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataResult(rsa.p, out, &outLen), kBufferTooSmall);
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.p, 0, 0, in, 256, out, &outLen), kBufferTooSmall);
  outLen = 256;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.p, 0, 0, in, 255, out, &outLen), kBadLength);
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA1, in, 9, out, &outLen), kBadType);
  EXPECT_EQ(CAsymKeyObject::PrikeyDec(rsa.p, in, 128, out, &outLen), kBadLength);
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(rsa.p, MR_ALG_SHA1, in, 20, in, 128), kBadArgument);
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataInit(nullptr, MR_ALG_SHA1), kBadArgument);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(KeyObjectRules, RsaVerifyTakesTheRealDigestLengthOfEachHash) {
  KeyCtx rsa(&m_ctx, MR_ALG_RSA1024);
  BYTE digest[64] = {};
  BYTE sig[128] = {};
  const struct {
    BYTE hash;
    DWORD len;
    bool accepted;
  } cases[] = {{MR_ALG_MD5, 16, true},       {MR_ALG_SHA1, 20, true},    {MR_ALG_SHA256, 32, true},
               {MR_ALG_SHA512, 64, true},    {MR_ALG_SHA1_MD5, 36, true}, {MR_ALG_SHA512, 20, false},
               {MR_ALG_SM3, 32, false},      {MR_ALG_SHA256, 20, false},  {0, 20, false}};
  for (const auto& c : cases) {
    m_transport->Clear();
    m_transport->QueueReply(0x6A82);  // the key file cannot be selected
    const HRESULT hr = CAsymKeyObject::PubkeyVerify(rsa.p, c.hash, digest, c.len, sig, 128);
    // An accepted pair reaches the key export; a refused one sends nothing.
    EXPECT_EQ(hr, c.accepted ? static_cast<HRESULT>(0x80006A82) : kBadLength) << int(c.hash) << "/" << c.len;
    EXPECT_EQ(Frames().size(), c.accepted ? 1u : 0u);
  }
}

TEST_F(KeyObjectRules, VerifyLeavesTheHashingSequenceAlone) {
  KeyCtx rsa(&m_ctx, MR_ALG_RSA1024);
  auto* obj = static_cast<CRSADevObj*>(static_cast<CAsymKeyObject*>(rsa.p));
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(rsa.p, MR_ALG_SHA1), 0);
  EXPECT_EQ(obj->DigestLen(), 20);
  BYTE buf[128] = {};
  m_transport->QueueReply(0x6A82);
  CAsymKeyObject::PubkeyVerify(rsa.p, MR_ALG_MD5, buf, 16, buf, 128);
  EXPECT_EQ(obj->DigestLen(), 20);
  m_transport->Clear();
  // The token's digest of the data fed (none): SHA-1 of the empty string.
  m_transport->QueueReply(0x9000, merro::testing::Digest(EVP_sha1(), Bytes()));
  DWORD len = 20;
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(rsa.p, buf, &len), 0);
  EXPECT_EQ(Frames().back(), (Bytes{0xB0, 0x80, 0x02, 0x00, 0x00, 0x14}));

  // A refused hash type leaves a digest length of 0, and the end of data
  // then passes its size check with any buffer and goes out; what the token
  // answers is no digest of a sequence this context started.
  m_transport->Clear();
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataInit(rsa.p, MR_ALG_SHA256), MR_E_INVALID_HASH_TYPE);
  EXPECT_EQ(obj->DigestLen(), 0);
  EXPECT_TRUE(Frames().empty());
  len = 0;
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataFinal(rsa.p, buf, &len), MR_E_SIGN_DATA_MISMATCH);
  EXPECT_EQ(Frames().back(), (Bytes{0xB0, 0x80, 0x02, 0x00, 0x00, 0x00}));
}

TEST_F(KeyObjectRules, PrikeySignChoosesDisplayOrDigest) {
  KeyCtx sm2(&m_ctx, MR_ALG_SM2);
  BYTE msg[40] = {1, 2, 3};
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000, Bytes(32));
  m_transport->QueueReply(0x9000, Bytes(64, 9));
  ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, msg, 40, sig, &sigLen), 0);
  EXPECT_EQ(Frames().front()[1], 0x59);
  EXPECT_EQ(sig[0], 9);
  for (DWORD flag : {0u, 2u}) {
    m_transport->Clear();
    m_transport->QueueReply(0x9000, Bytes(64, 5));
    sigLen = sizeof sig;
    ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.p, flag, 0, msg, 32, sig, &sigLen), 0);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0][1], 0x54);
    EXPECT_EQ(Frames()[0][2], 0xC0);  // the file id in P1 P2
    EXPECT_EQ(Frames()[0][3], 0x04);
  }
  // The token's answer passes unchanged.
  m_transport->Clear();
  m_transport->QueueReply(0x9000);
  m_transport->QueueReply(0x9000, Bytes(32));
  m_transport->QueueReply(0xFF06);
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, msg, 0, sig, &sigLen),
            MR_E_KEY_CANCELLED);
}

TEST_F(KeyObjectRules, DecryptionNeverTakesMoreThanTheCallersBuffer) {
  KeyCtx sm2(&m_ctx, MR_ALG_SM2);
  BYTE cipher[117] = {0x04};
  BYTE out[21] = {};
  DWORD outLen = 20;  // what GetOutLen asks for
  m_transport->QueueReply(0x9000, Bytes(21, 1));  // one byte more
  EXPECT_EQ(CAsymKeyObject::PrikeyDec(sm2.p, cipher, 117, out, &outLen), kBufferTooSmall);
  EXPECT_EQ(out[20], 0);
  EXPECT_EQ(Frames()[0][5], 0x15);  // Le stays one above the plaintext
  m_transport->QueueReply(0x9000, Bytes(20, 1));
  ASSERT_EQ(CAsymKeyObject::PrikeyDec(sm2.p, cipher, 117, out, &outLen), 0);
  EXPECT_EQ(outLen, 20u);
}

TEST_F(KeyObjectRules, RsaEncryptionAgainstOpenSsl) {
  merro::testing::PkeyPtr key(EVP_RSA_gen(1024));
  ASSERT_TRUE(key);
  KeyCtx rsa(&m_ctx, MR_ALG_RSA1024);
  const struct {
    DWORD len;
    bool block;
    HRESULT expected;
  } cases[] = {{117, false, 0}, {118, false, kBadLength}, {1, false, 0},
               {128, true, 0},  {127, true, kBadLength}};
  for (const auto& c : cases) {
    m_transport->Clear();
    QueueRsaExport(key.get());
    Bytes plain(c.len, 0x5A);
    if (c.block) {
      plain[0] = 0x00;
      plain[1] = 0x02;
      plain[c.len - 4] = 0x00;  // 00 02 PS 00 M with a three-byte M
    }
    BYTE out[128];
    DWORD outLen = sizeof out;
    ASSERT_EQ(CAsymKeyObject::PubkeyEnc(rsa.p, plain.data(), c.len, out, &outLen), c.expected) << c.len;
    if (c.expected != 0) {
      continue;
    }
    EXPECT_EQ(outLen, 128u);
    // OpenSSL takes the PKCS#1 block off again.
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(
        EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr), EVP_PKEY_CTX_free);
    BYTE dec[128];
    size_t decLen = sizeof dec;
    ASSERT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
    ASSERT_EQ(EVP_PKEY_decrypt(ctx.get(), dec, &decLen, out, outLen), 1) << c.len;
    const Bytes expected = c.block ? Bytes(plain.end() - 3, plain.end()) : plain;
    EXPECT_EQ(Bytes(dec, dec + decLen), expected);
  }
}

TEST_F(KeyObjectRules, TheWrapperReleasesOnlyWhatItsWaitTook) {
  KeyCtx rsa(&m_ctx, MR_ALG_RSA1024);
  ASSERT_EQ(MerroWaitDevMutex(m_ctx.szMutexName), 0);  // an outer hold
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(rsa.p, MR_ALG_SHA1), 0);
  EXPECT_EQ(MerroReleaseMutex(m_ctx.szMutexName), 0);  // still held once
  EXPECT_LT(MerroReleaseMutex(m_ctx.szMutexName), 0);

  // A mutex that cannot be waited for: the wrapper fails, touches nothing,
  // and PubkeyEnc reports 0 as the length.
  DEV_CTX other = m_ctx;
  std::strcpy(other.szMutexName, "merro-keyobj-no-such-mutex");
  void* key = nullptr;
  ASSERT_EQ(CAsymKeyObject::AsymKeyInit(&other, MR_ALG_SM2, kFid, &key), 0);
  BYTE in[20] = {};
  BYTE out[200];
  DWORD outLen = sizeof out;
  m_transport->Clear();
  EXPECT_EQ(CAsymKeyObject::PubkeyEnc(key, in, 20, out, &outLen), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(outLen, 0u);
  EXPECT_TRUE(Frames().empty());
  CAsymKeyObject::AsymKeyFinal(key);
}

TEST_F(KeyObjectRules, StepLinesNameTheWrapperAndTheCallee) {
  KeyCtx sm2(&m_ctx, MR_ALG_SM2);
  KeyCtx rsa(&m_ctx, MR_ALG_RSA1024);
  BYTE buf[128] = {};
  DWORD len = 64;
  merro::crypto::test::TraceCapture trace;
  m_transport->QueueReply(0x9000, Bytes(64));
  ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.p, 0, 0, buf, 32, buf, &len), 0);
  EXPECT_TRUE(trace.HasStep(u"CAsymKeyObject::PrikeySign - MerroWaitDevMutex"));
  EXPECT_TRUE(trace.HasStep(u"CSM2DevObj::SignDigest - mr_SM2SignDigest"));
  EXPECT_TRUE(trace.HasStep(u"CAsymKeyObject::PrikeySign - pAsymKey->Sign"));
  std::uint32_t result = 0;
  len = 10;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, buf, 5, buf, &len),
            kBufferTooSmall);
  ASSERT_TRUE(trace.FindFailure(u"CAsymKeyObject::PrikeySign - CHECK *pOutLen SIZE", &result));
  EXPECT_EQ(result, 0x80070003u);
  len = 128;
  m_transport->QueueReply(0x9000);  // start
  m_transport->QueueReply(0x9000);  // the message
  m_transport->QueueReply(0x9000);  // end of data
  m_transport->QueueReply(0xFF06);  // C
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA256, buf, 5, buf, &len),
            MR_E_KEY_CANCELLED);
  ASSERT_TRUE(trace.FindFailure(u"CAsymKeyObject::PrikeySign - pAsymKey->SignDisp", &result));
  EXPECT_EQ(result, 0x8000FF06u);
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.p, ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA1, buf, 5, buf, &len),
            kBadType);
  ASSERT_TRUE(trace.FindFailure(u"CRSADevObj::SignXML - CHECK nHashType", &result));
  EXPECT_EQ(result, 0x80070209u);
}

}  // namespace
