// The cipher and hash contexts and the device-level handles: algorithm and
// hash numbers, argument checks, result codes with their step texts, output
// room, and that every path frees what it made (the sanitizer build checks
// for leaks).
#include <gtest/gtest.h>

#include <cstring>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/crypto/sym_driver.h"
#include "tests/tokenapi/crypto/trace_capture.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"
#include "tokenapi/crypto/contexts/handles.h"

namespace merro::crypto::test {
namespace {

const Bytes kKey(32, 0x4B);
const Bytes kData = FromText("the quick brown fox jumps over the lazy dog");

// The result of the failure line of `step` while `action` ran.
template <class Action>
std::uint32_t FailureOf(const std::u16string& step, Action action) {
  TraceCapture trace;
  action();
  std::uint32_t result = 0;
  EXPECT_TRUE(trace.FindFailure(step, &result)) << "no failure line for the step";
  return result;
}

TEST(SymContexts, AlgorithmNumbers) {
  // The software ciphers, and the token-only algorithm 16 refused.
  for (BYTE alg : {MR_ALG_DES, MR_ALG_3DES_2KEY, MR_ALG_3DES, MR_ALG_RC4, MR_ALG_SM4}) {
    EXPECT_EQ(0, RunSym(alg, MR_MODE_CBC, true, kKey, nullptr, kData).hr) << int{alg};
    EXPECT_NE(nullptr, NewSymKey(alg)) << int{alg};
  }
  for (BYTE alg : std::initializer_list<BYTE>{0, 1, MR_ALG_TOKEN_SYM, MR_ALG_MD5, 17, 255}) {
    SYMKEY_CTX* ctx = nullptr;
    EXPECT_EQ(static_cast<std::uint32_t>(kResultBadAlgorithm),
              FailureOf(u"SymEncryptInit - CHECK AlgID", [&] {
                EXPECT_EQ(kResultBadAlgorithm,
                          SymEncryptInit(&ctx, alg, MR_MODE_CBC, kKey.data(), nullptr));
              }));
    EXPECT_EQ(nullptr, ctx);
    EXPECT_EQ(nullptr, NewSymKey(alg));
  }
}

TEST(SymContexts, ArgumentChecksAndSetupSteps) {
  SYMKEY_CTX* ctx = nullptr;
  EXPECT_EQ(kResultInvalidArg, SymEncryptInit(nullptr, MR_ALG_SM4, 1, kKey.data(), nullptr));
  EXPECT_EQ(kResultInvalidArg, SymDecryptInit(&ctx, MR_ALG_SM4, 1, nullptr, nullptr));
  {
    TraceCapture trace;
    ASSERT_EQ(0, SymDecryptInit(&ctx, MR_ALG_3DES_2KEY, MR_MODE_CBC, kKey.data(), nullptr));
    EXPECT_TRUE(trace.HasStep(u"SymDecryptInit - des2key"));
  }
  Bytes out(64);
  DWORD room = 64;
  EXPECT_EQ(kResultInvalidArg, SymDecryptUpdate(ctx, nullptr, 8, out.data(), &room));
  EXPECT_EQ(kResultInvalidArg, SymDecryptUpdate(ctx, kData.data(), 8, nullptr, &room));
  EXPECT_EQ(kResultInvalidArg, SymDecryptUpdate(ctx, kData.data(), 8, out.data(), nullptr));
  EXPECT_EQ(kResultInvalidArg, SymCipherUpdate(nullptr, kData.data(), 8, out.data(), &room));
  // A zero length is accepted and writes nothing.
  ASSERT_EQ(0, SymDecryptUpdate(ctx, kData.data(), 0, out.data(), &room));
  EXPECT_EQ(0u, room);
  // A context whose number was spoiled is refused, and still ended.
  ctx->algtype = MR_ALG_TOKEN_SYM;
  room = 64;
  EXPECT_EQ(static_cast<std::uint32_t>(kResultBadAlgorithm),
            FailureOf(u"SymKeyUpdate - CHECK pCipherCtx->algtype", [&] {
              SymCipherUpdate(ctx, kData.data(), 8, out.data(), &room);
            }));
  EXPECT_EQ(static_cast<std::uint32_t>(kResultBadAlgorithm),
            FailureOf(u"SymKeyFinal - CHECK pCipherCtx->algtype",
                      [&] { SymDecryptFinal(ctx, out.data(), &room); }));
  EXPECT_EQ(kResultInvalidArg, SymCipherFinal(nullptr, out.data(), &room));
}

TEST(SymContexts, EdgeCasesOfTripleDes) {
  // 16 bytes: 16 from the update, a whole block of 0x08 from the final; 13
  // bytes: 8 and 8 (5 data bytes and three 0x03 bytes).
  const Bytes key = Bytes(kKey.begin(), kKey.begin() + 24);
  const SymRun sixteen = RunSym(MR_ALG_3DES, MR_MODE_ECB, true, key, nullptr, Bytes(16, 1));
  EXPECT_EQ((std::vector<DWORD>{16, 8}), sixteen.written);
  const auto ecb = OracleCipher(MR_ALG_3DES, MR_MODE_ECB);
  EXPECT_EQ(Bytes(8, 0x08), *OracleCrypt(ecb, false, key, {}, Bytes(sixteen.out.begin() + 16, sixteen.out.end()), false));
  const SymRun thirteen = RunSym(MR_ALG_3DES, MR_MODE_ECB, true, key, nullptr, Bytes(13, 2));
  EXPECT_EQ((std::vector<DWORD>{8, 8}), thirteen.written);
  EXPECT_EQ(Concat({Bytes(5, 2), Bytes(3, 3)}),
            *OracleCrypt(ecb, false, key, {}, Bytes(thirteen.out.begin() + 8, thirteen.out.end()), false));
  // Their 24 bytes decrypt as 16 from the update and the rest from the final.
  const SymRun back = RunSym(MR_ALG_3DES, MR_MODE_ECB, false, key, nullptr, sixteen.out);
  EXPECT_EQ((std::vector<DWORD>{16, 0}), back.written);
}

TEST(SymHandles, DirectionsAndFlags) {
  SYMKEY_HANDLE* enc = nullptr;
  SYMKEY_HANDLE* dec = nullptr;
  ASSERT_EQ(0, mr_SymKeyInit(nullptr, MR_ALG_SM4, MR_CRYPTO_ENC, MR_MODE_CBC, kKey.data(), nullptr, &enc));
  ASSERT_EQ(0, mr_SymKeyInit(nullptr, MR_ALG_SM4, MR_CRYPTO_DEC, MR_MODE_CBC, kKey.data(), nullptr, &dec));
  Bytes cipherText(kData.size() + 16);
  DWORD n1 = static_cast<DWORD>(cipherText.size());
  ASSERT_EQ(0, mr_SymKeyUpdate(enc, kData.data(), static_cast<DWORD>(kData.size()), cipherText.data(), &n1));
  DWORD n2 = static_cast<DWORD>(cipherText.size() - n1);
  ASSERT_EQ(0, mr_SymKeyFinal(enc, cipherText.data() + n1, &n2));
  cipherText.resize(n1 + n2);
  Bytes plain(cipherText.size());
  DWORD p1 = static_cast<DWORD>(plain.size());
  ASSERT_EQ(0, mr_SymKeyUpdate(dec, cipherText.data(), static_cast<DWORD>(cipherText.size()), plain.data(), &p1));
  DWORD p2 = static_cast<DWORD>(plain.size() - p1);
  ASSERT_EQ(0, mr_SymKeyFinal(dec, plain.data() + p1, &p2));
  plain.resize(p1 + p2);
  EXPECT_EQ(kData, plain);

  SYMKEY_HANDLE* bad = nullptr;
  EXPECT_EQ(static_cast<std::uint32_t>(kResultBadCryptFlag),
            FailureOf(u"mr_SymKeyInit - CHECK nCryptFlag", [&] {
              mr_SymKeyInit(nullptr, MR_ALG_SM4, 3, MR_MODE_CBC, kKey.data(), nullptr, &bad);
            }));
  EXPECT_EQ(nullptr, bad);
  // An init failure below comes back through the handle.
  EXPECT_EQ(kResultBadAlgorithm,
            mr_SymKeyInit(nullptr, MR_ALG_TOKEN_SYM, MR_CRYPTO_ENC, MR_MODE_CBC, kKey.data(), nullptr, &bad));

  // A handle whose flag is spoiled: update refused, final refused and the
  // handle with its cipher context freed all the same.
  ASSERT_EQ(0, mr_SymKeyInit(nullptr, MR_ALG_3DES, MR_CRYPTO_ENC, MR_MODE_CBC, kKey.data(), nullptr, &bad));
  bad->nCryptFlag = 0;
  Bytes out(64);
  DWORD room = 64;
  EXPECT_EQ(static_cast<std::uint32_t>(kResultBadCryptFlag),
            FailureOf(u"mr_SymKeyUpdate - CHECK pKeyCtx.nCryptFlag",
                      [&] { mr_SymKeyUpdate(bad, kData.data(), 8, out.data(), &room); }));
  EXPECT_EQ(static_cast<std::uint32_t>(kResultBadCryptFlag),
            FailureOf(u"mr_SymKeyFinal - CHECK pKeyCtx.nCryptFlag",
                      [&] { mr_SymKeyFinal(bad, out.data(), &room); }));
}

TEST(SymHandles, FinalFailureNamesTheStepAndFreesTheHandle) {
  SYMKEY_HANDLE* dec = nullptr;
  ASSERT_EQ(0, mr_SymKeyInit(nullptr, MR_ALG_SM4, MR_CRYPTO_DEC, MR_MODE_CBC, kKey.data(), nullptr, &dec));
  Bytes out(64);
  DWORD room = 64;
  ASSERT_EQ(0, mr_SymKeyUpdate(dec, kData.data(), 15, out.data(), &room));
  room = 64;
  TraceCapture trace;
  EXPECT_EQ(kResultFinalFailed, mr_SymKeyFinal(dec, out.data(), &room));
  std::uint32_t result = 0;
  EXPECT_TRUE(trace.FindFailure(u"SymKeyFinal - sm4final", &result));
  EXPECT_TRUE(trace.FindFailure(u"mr_SymKeyFinal - SymDecryptFinal", &result));
  EXPECT_EQ(static_cast<std::uint32_t>(kResultFinalFailed), result);
}

class HashTypes : public ::testing::TestWithParam<BYTE> {};

TEST_P(HashTypes, DigestThroughHandleMatchesOpenSsl) {
  HASH_HANDLE* h = nullptr;
  ASSERT_EQ(0, mr_HashInit(nullptr, GetParam(), &h));
  ASSERT_EQ(0, mr_HashUpdate(h, kData.data(), 10));
  ASSERT_EQ(0, mr_HashUpdate(h, kData.data() + 10, 0));
  ASSERT_EQ(0, mr_HashUpdate(h, kData.data() + 10, static_cast<DWORD>(kData.size() - 10)));
  Bytes digest(64);
  DWORD len = static_cast<DWORD>(digest.size());
  ASSERT_EQ(0, mr_HashFinal(h, digest.data(), &len));
  digest.resize(len);
  EXPECT_EQ(HashDigestLength(GetParam()), len);
  EXPECT_EQ(OracleDigest(GetParam(), kData), digest);
}

INSTANTIATE_TEST_SUITE_P(All, HashTypes,
                         ::testing::Values(MR_ALG_MD5, MR_ALG_SHA1, MR_ALG_SHA256, MR_ALG_SHA512,
                                           MR_ALG_SHA1_MD5, MR_ALG_SM3));

TEST(HashContexts, ShaThenMd5IsThirtySixBytes) {
  const Bytes digest = RunHash(MR_ALG_SHA1_MD5, kData);
  EXPECT_EQ(Concat({OracleDigest(MR_ALG_SHA1, kData), OracleDigest(MR_ALG_MD5, kData)}), digest);
}

TEST(HashContexts, UnsupportedTypesAndArgumentChecks) {
  for (BYTE type : std::initializer_list<BYTE>{15, 16, 17, MR_ALG_SM4, 0}) {
    HASH_CTX* ctx = nullptr;
    EXPECT_EQ(static_cast<std::uint32_t>(kResultBadAlgorithm),
              FailureOf(u"Hash_Init - CHECK nHashAlgid", [&] { Hash_Init(&ctx, type); }));
    EXPECT_EQ(nullptr, ctx);
    HASH_HANDLE* h = nullptr;
    EXPECT_EQ(kResultBadAlgorithm, mr_HashInit(nullptr, type, &h));
    EXPECT_EQ(nullptr, h);
  }
  HASH_CTX* ctx = nullptr;
  ASSERT_EQ(0, Hash_Init(&ctx, MR_ALG_SHA256));
  EXPECT_EQ(kResultInvalidArg, Hash_Update(nullptr, kData.data(), 1));
  EXPECT_EQ(kResultInvalidArg, Hash_Update(ctx, nullptr, 1));
  ASSERT_EQ(0, Hash_Update(ctx, kData.data(), static_cast<DWORD>(kData.size())));
  // Null digest or length, or short room: nothing ends, and the final can
  // be called again.
  Bytes digest(32);
  DWORD len = 32;
  EXPECT_EQ(kResultInvalidArg, Hash_Final(ctx, nullptr, &len));
  EXPECT_EQ(kResultInvalidArg, Hash_Final(ctx, digest.data(), nullptr));
  len = 31;
  EXPECT_EQ(kResultBufferTooSmall, Hash_Final(ctx, digest.data(), &len));
  EXPECT_EQ(32u, len);
  ASSERT_EQ(0, Hash_Final(ctx, digest.data(), &len));
  EXPECT_EQ(OracleDigest(MR_ALG_SHA256, kData), digest);
  EXPECT_EQ(kResultInvalidArg, Hash_Final(nullptr, digest.data(), &len));
}

TEST(HashHandles, FinalFreesHandleAndContextOnEveryPath) {
  // Null digest: the context is kept by Hash_Final, the handle frees it.
  HASH_HANDLE* h = nullptr;
  ASSERT_EQ(0, mr_HashInit(nullptr, MR_ALG_SHA1_MD5, &h));
  DWORD len = 36;
  EXPECT_EQ(kResultInvalidArg, mr_HashFinal(h, nullptr, &len));
  // Short room, the same.
  ASSERT_EQ(0, mr_HashInit(nullptr, MR_ALG_SM3, &h));
  Bytes digest(8);
  len = 8;
  EXPECT_EQ(kResultBufferTooSmall, mr_HashFinal(h, digest.data(), &len));
  EXPECT_EQ(32u, len);
  // A spoiled hash type: refused, everything freed.
  ASSERT_EQ(0, mr_HashInit(nullptr, MR_ALG_MD5, &h));
  h->pHashCtx->hashtype = 99;
  EXPECT_EQ(kResultBadAlgorithm, mr_HashUpdate(h, kData.data(), 3));
  digest.resize(64);
  len = 64;
  EXPECT_EQ(kResultBadAlgorithm, mr_HashFinal(h, digest.data(), &len));
  EXPECT_EQ(kResultInvalidArg, mr_HashFinal(nullptr, digest.data(), &len));
  EXPECT_EQ(kResultInvalidArg, mr_HashUpdate(nullptr, kData.data(), 3));
}

TEST(HashContexts, OneShotDigestIsMd5Only) {
  Bytes digest(16);
  DWORD len = 0;
  ASSERT_EQ(0, Hash_Digest(MR_ALG_MD5, kData.data(), static_cast<DWORD>(kData.size()), digest.data(), &len));
  EXPECT_EQ(16u, len);
  EXPECT_EQ(OracleDigest(MR_ALG_MD5, kData), digest);
  EXPECT_EQ(kResultBadAlgorithm, Hash_Digest(MR_ALG_SHA1, kData.data(), 3, digest.data(), &len));
  EXPECT_EQ(kResultInvalidArg, Hash_Digest(MR_ALG_MD5, nullptr, 3, digest.data(), &len));
  EXPECT_EQ(kResultInvalidArg, Hash_Digest(MR_ALG_MD5, kData.data(), 3, nullptr, &len));
  EXPECT_EQ(kResultInvalidArg, Hash_Digest(MR_ALG_MD5, kData.data(), 3, digest.data(), nullptr));
}

}  // namespace
}  // namespace merro::crypto::test
