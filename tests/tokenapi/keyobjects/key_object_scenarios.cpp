#include "tests/tokenapi/keyobjects/key_object_scenarios.h"

#include <gtest/gtest.h>

#include "foundation/alg_ids.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/extern_auth_keys.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/keyobjects/asym_key_object.h"

namespace merro::testing {
namespace {

constexpr WORD kSm2Fid = 0xC002;
constexpr WORD kRsa1024Fid = 0xC012;
constexpr WORD kRsa2048Fid = 0xC022;

Bytes Message(size_t n, char base) {
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

// The last line the display showed.
std::string LastShown(const KeyObjectEnv& env) {
  std::string lines = env.control("display " + env.tokenIndex);
  if (!lines.empty() && lines.back() == '\n') {
    lines.pop_back();
  }
  const size_t at = lines.rfind('\n');
  return at == std::string::npos ? lines : lines.substr(at + 1);
}

void Button(const KeyObjectEnv& env, const std::string& answer) {
  env.control("button " + env.tokenIndex + " " + answer);
}

}  // namespace

void Sm2HashedAcrossAuthSessionAndPin(const KeyObjectEnv& env) {
  PkeyPtr pair = env.makeKey(kSm2Fid, MR_ALG_SM2);
  ASSERT_TRUE(pair);
  Key key(env.ctx, MR_ALG_SM2, kSm2Fid);
  const Bytes message = Message(700, 'a');
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(key.get(), MR_ALG_SM3), 0);
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(key.get(), message.data(), 400), 0);
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(key.get(), message.data() + 400, 300), 0);
  BYTE digest[32];
  DWORD digestLen = sizeof digest;
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(key.get(), digest, &digestLen), 0);
  ASSERT_EQ(digestLen, 32u);
  EXPECT_EQ(Bytes(digest, digest + 32), Sm2MessageDigest(pair.get(), message));

  // What the device object sends before it fetches the signature.
  ASSERT_EQ(mr_AutoExternalAuth(env.ctx, MR_KEY_EXTERN), 0);
  ASSERT_EQ(mr_SetSessionKey(env.ctx), 0);
  const std::string pin = "905172";
  ASSERT_EQ(mr_VerifyPIN(env.ctx, MR_PIN_USER, reinterpret_cast<const BYTE*>(pin.data()), 6), 0);

  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(CAsymKeyObject::PrikeySignDataResult(key.get(), sig, &sigLen), 0);
  ASSERT_EQ(sigLen, 64u);
  EXPECT_TRUE(Sm2VerifyMessage(pair.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(key.get(), MR_ALG_SM3, digest, 32, sig, 64), 0);
  sig[10] ^= 1;
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(key.get(), MR_ALG_SM3, digest, 32, sig, 64),
            static_cast<HRESULT>(0x80070212));
  // The sequence has ended: the token refuses another signature.
  sigLen = sizeof sig;
  EXPECT_EQ(CAsymKeyObject::PrikeySignDataResult(key.get(), sig, &sigLen),
            static_cast<HRESULT>(0x80006985));
}

void DigestSignatures(const KeyObjectEnv& env) {
  PkeyPtr sm2Pair = env.makeKey(kSm2Fid, MR_ALG_SM2);
  ASSERT_TRUE(sm2Pair);
  Key sm2(env.ctx, MR_ALG_SM2, kSm2Fid);
  const Bytes message = Message(123, 'a');
  const Bytes e = Sm2MessageDigest(sm2Pair.get(), message);
  BYTE sig[256];
  DWORD sigLen = 64;
  ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.get(), 0, 0, e.data(), 32, sig, &sigLen), 0);
  EXPECT_TRUE(Sm2VerifyMessage(sm2Pair.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(CAsymKeyObject::PubkeyVerify(sm2.get(), MR_ALG_SM3, e.data(), 32, sig, 64), 0);

  for (const auto& k : {std::make_pair(kRsa1024Fid, BYTE{MR_ALG_RSA1024}),
                        std::make_pair(kRsa2048Fid, BYTE{MR_ALG_RSA2048})}) {
    PkeyPtr pair = env.makeKey(k.first, k.second);
    ASSERT_TRUE(pair);
    Key rsa(env.ctx, k.second, k.first);
    const DWORD n = k.second == MR_ALG_RSA2048 ? 256 : 128;
    const Bytes digest = Digest(EVP_sha256(), message);
    const Bytes block = Pkcs1SignatureBlock(digest, n);
    sigLen = n;
    ASSERT_EQ(CAsymKeyObject::PrikeySign(rsa.get(), 0, 0, block.data(), n, sig, &sigLen), 0);
    ASSERT_EQ(sigLen, n);
    EXPECT_TRUE(RsaVerifyDigest(pair.get(), EVP_sha256(), digest, Bytes(sig, sig + n)));
    EXPECT_EQ(CAsymKeyObject::PubkeyVerify(rsa.get(), MR_ALG_SHA256, digest.data(), 32, sig, n), 0);

    // Hashing on the token, SHA-1.
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(rsa.get(), MR_ALG_SHA1), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(rsa.get(), message.data(), 123), 0);
    BYTE tokenDigest[20];
    DWORD tokenDigestLen = sizeof tokenDigest;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(rsa.get(), tokenDigest, &tokenDigestLen), 0);
    const Bytes sha1(tokenDigest, tokenDigest + 20);
    EXPECT_EQ(sha1, Digest(EVP_sha1(), message));
    sigLen = n;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataResult(rsa.get(), sig, &sigLen), 0);
    EXPECT_EQ(CAsymKeyObject::PubkeyVerify(rsa.get(), MR_ALG_SHA1, tokenDigest, 20, sig, n), 0);
    EXPECT_TRUE(RsaVerifyDigest(pair.get(), EVP_sha1(), sha1, Bytes(sig, sig + n)));
  }
}

void InterleavedSequencesAreRefused(const KeyObjectEnv& env) {
  const struct {
    WORD fid;
    BYTE type;
    BYTE hash;
    DWORD digestLen;
    DWORD sigLen;
  } kinds[] = {{kSm2Fid, MR_ALG_SM2, MR_ALG_SM3, 32, 64},
               {kRsa1024Fid, MR_ALG_RSA1024, MR_ALG_SHA1, 20, 128}};
  const Bytes mine = Message(300, 'a');
  const Bytes theirs = Message(260, 'A');
  for (const auto& k : kinds) {
    SCOPED_TRACE(int(k.type));
    PkeyPtr pair = env.makeKey(k.fid, k.type);
    ASSERT_TRUE(pair);
    Key me(env.ctx, k.type, k.fid);
    Key other(env.ctx, k.type, k.fid);
    const auto digestOf = [&](const Bytes& m) {
      return k.type == MR_ALG_SM2 ? Sm2MessageDigest(pair.get(), m) : Digest(EVP_sha1(), m);
    };
    const auto verifies = [&](const Bytes& m, const BYTE* sig) {
      return k.type == MR_ALG_SM2 ? Sm2VerifyMessage(pair.get(), m, Bytes(sig, sig + 64))
                                  : RsaVerifyDigest(pair.get(), EVP_sha1(), digestOf(m),
                                                    Bytes(sig, sig + k.sigLen));
    };

    // The other sequence starts between my data and my digest: the token's
    // digest is over its data, not mine.
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(me.get(), k.hash), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(me.get(), mine.data(), 300), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(other.get(), k.hash), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(other.get(), theirs.data(), 260), 0);
    BYTE digest[64];
    DWORD digestLen = sizeof digest;
    EXPECT_EQ(CAsymKeyObject::PrikeySignDataFinal(me.get(), digest, &digestLen), MR_E_SIGN_DATA_MISMATCH);
    EXPECT_EQ(digestLen, 0u);
    EXPECT_EQ(Bytes(digest, digest + k.digestLen), Bytes(k.digestLen, 0)) << "wiped";
    // That took the token's digest step; the other context's signature
    // still comes out over its own data.
    BYTE sig[256];
    DWORD sigLen = sizeof sig;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataResult(other.get(), sig, &sigLen), 0);
    EXPECT_TRUE(verifies(theirs, sig));

    // The other sequence runs whole between my digest and my signature: the
    // token signs its digest.
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(me.get(), k.hash), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(me.get(), mine.data(), 300), 0);
    digestLen = sizeof digest;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(me.get(), digest, &digestLen), 0);
    EXPECT_EQ(Bytes(digest, digest + digestLen), digestOf(mine));
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(other.get(), k.hash), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(other.get(), theirs.data(), 260), 0);
    digestLen = sizeof digest;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(other.get(), digest, &digestLen), 0);
    sigLen = sizeof sig;
    EXPECT_EQ(CAsymKeyObject::PrikeySignDataResult(me.get(), sig, &sigLen), MR_E_SIGN_DATA_MISMATCH);
    EXPECT_EQ(sigLen, 0u);
    EXPECT_EQ(Bytes(sig, sig + k.sigLen), Bytes(k.sigLen, 0)) << "wiped";

    // A sequence of my own alone still signs my data.
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataInit(me.get(), k.hash), 0);
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataUpdate(me.get(), mine.data(), 300), 0);
    digestLen = sizeof digest;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataFinal(me.get(), digest, &digestLen), 0);
    sigLen = sizeof sig;
    ASSERT_EQ(CAsymKeyObject::PrikeySignDataResult(me.get(), sig, &sigLen), 0);
    EXPECT_EQ(sigLen, k.sigLen);
    EXPECT_TRUE(verifies(mine, sig));
  }
}

void DisplaySigning(const KeyObjectEnv& env) {
  PkeyPtr sm2Pair = env.makeKey(kSm2Fid, MR_ALG_SM2);
  PkeyPtr rsaPair = env.makeKey(kRsa1024Fid, MR_ALG_RSA1024);
  ASSERT_TRUE(sm2Pair && rsaPair);
  Key sm2(env.ctx, MR_ALG_SM2, kSm2Fid);
  Key rsa(env.ctx, MR_ALG_RSA1024, kRsa1024Fid);
  const Bytes message = Message(480, 'A');
  BYTE sig[128];
  DWORD sigLen = 64;

  Button(env, "ok after 2");
  ASSERT_EQ(CAsymKeyObject::PrikeySign(sm2.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, message.data(),
                                       480, sig, &sigLen), 0);
  EXPECT_TRUE(Sm2VerifyMessage(sm2Pair.get(), message, Bytes(sig, sig + 64)));
  EXPECT_EQ(LastShown(env), std::string(message.begin(), message.end()));

  Button(env, "ok after 4");
  sigLen = sizeof sig;
  const Bytes rsaMessage = Message(250, 'N');
  ASSERT_EQ(CAsymKeyObject::PrikeySign(rsa.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA256,
                                       rsaMessage.data(), 250, sig, &sigLen), 0);
  EXPECT_TRUE(RsaVerifyDigest(rsaPair.get(), EVP_sha256(), Digest(EVP_sha256(), rsaMessage),
                              Bytes(sig, sig + 128)));
  EXPECT_EQ(LastShown(env), std::string(rsaMessage.begin(), rsaMessage.end()));

  Button(env, "cancel after 1");
  sigLen = 64;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(sm2.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SM3, message.data(),
                                       20, sig, &sigLen), MR_E_KEY_CANCELLED);
  Button(env, "timeout after 3");
  sigLen = sizeof sig;
  EXPECT_EQ(CAsymKeyObject::PrikeySign(rsa.get(), ASYMKEY_SIGN_DISPLAY, MR_ALG_SHA256, message.data(),
                                       20, sig, &sigLen), MR_E_KEY_TIMEOUT);
}

void EncryptDecrypt(const KeyObjectEnv& env) {
  const struct {
    WORD fid;
    BYTE type;
    DWORD plainLen;
  } cases[] = {{kSm2Fid, MR_ALG_SM2, 1}, {kSm2Fid, MR_ALG_SM2, 141},
               {kRsa1024Fid, MR_ALG_RSA1024, 117}, {kRsa2048Fid, MR_ALG_RSA2048, 200}};
  for (const auto& c : cases) {
    ASSERT_TRUE(env.makeKey(c.fid, c.type));
    Key key(env.ctx, c.type, c.fid);
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

}  // namespace merro::testing
