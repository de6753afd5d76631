// The key-object scenarios against the merro-tokensim daemon over TCP,
// natively and from the Windows build under Wine, with keys the token
// generates. Run by run-with-tokensim, which starts the daemon and sets
// MERRO_TOKEN_SIM.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/support/child_process.h"
#include "tests/tokenapi/keyobjects/key_object_scenarios.h"
#include "tests/tokenapi/support/test_context.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/token_files.h"
#include "tokenapi/keyobjects/asym_key_object.h"
#include "tokenapi/transport/device_mutex_hold.h"
#include "tokenapi/transport/sim/sim_transport.h"

namespace {

using merro::testing::Bytes;
using merro::testing::PkeyPtr;

// The key files both processes sign with.
constexpr WORD kSharedSm2Fid = 0xC032;
constexpr WORD kSharedRsaFid = 0xC038;

// The public key of a key file, as the token exports it. The export
// selects the file and reads it: under the device mutex, as another
// process's commands may come in between.
PkeyPtr ExportedKey(DEV_CTX* ctx, WORD fid, BYTE type) {
  merro::transport::DevMutexHold hold;
  if (hold.Wait(ctx->szMutexName) != 0) {
    return nullptr;
  }
  if (type == MR_ALG_SM2) {
    Bytes xy(64);
    return mr_ExportPublicKey(ctx, type, fid, xy.data()) == 0 ? merro::testing::Sm2PublicKey(xy)
                                                               : nullptr;
  }
  RSA_KEY pub{};
  return mr_ExportPublicKey(ctx, type, fid, &pub) == 0
             ? merro::testing::RsaPublicKey(Bytes(pub.n, pub.n + pub.nLen), Bytes(pub.e, pub.e + pub.eLen))
             : nullptr;
}

struct SigningTally {
  int succeeded = 0;
  int failed = 0;
  int overOtherData = 0;  // successes whose digest or signature is not over the caller's data
};

// Token-hashed SM2 and RSA-1024 sequences, one after the other, on the
// shared key files for about ms milliseconds; messages carry the tag, so
// two processes never sign the same data.
SigningTally SignForAWhile(DEV_CTX* ctx, char tag, int ms) {
  SigningTally tally;
  const PkeyPtr sm2 = ExportedKey(ctx, kSharedSm2Fid, MR_ALG_SM2);
  const PkeyPtr rsa = ExportedKey(ctx, kSharedRsaFid, MR_ALG_RSA1024);
  if (!sm2 || !rsa) {
    tally.overOtherData = -1;
    return tally;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
    const bool isSm2 = i % 2 == 0;
    Bytes message(40 + (i * 37) % 400, static_cast<BYTE>(tag));
    std::snprintf(reinterpret_cast<char*>(message.data()), message.size(), "%c-%d", tag, i);
    void* key = nullptr;
    BYTE digest[64];
    DWORD digestLen = sizeof digest;
    BYTE sig[128];
    DWORD sigLen = sizeof sig;
    const DWORD half = static_cast<DWORD>(message.size() / 2);
    const bool ok =
        CAsymKeyObject::AsymKeyInit(ctx, isSm2 ? MR_ALG_SM2 : MR_ALG_RSA1024,
                                    isSm2 ? kSharedSm2Fid : kSharedRsaFid, &key) == 0 &&
        CAsymKeyObject::PrikeySignDataInit(key, isSm2 ? MR_ALG_SM3 : MR_ALG_SHA1) == 0 &&
        CAsymKeyObject::PrikeySignDataUpdate(key, message.data(), half) == 0 &&
        CAsymKeyObject::PrikeySignDataUpdate(key, message.data() + half,
                                             static_cast<DWORD>(message.size()) - half) == 0 &&
        CAsymKeyObject::PrikeySignDataFinal(key, digest, &digestLen) == 0 &&
        CAsymKeyObject::PrikeySignDataResult(key, sig, &sigLen) == 0;
    CAsymKeyObject::AsymKeyFinal(key);
    if (!ok) {
      ++tally.failed;
      continue;
    }
    ++tally.succeeded;
    const Bytes own = isSm2 ? merro::testing::Sm2MessageDigest(sm2.get(), message)
                            : merro::testing::Digest(EVP_sha1(), message);
    const bool verified =
        isSm2 ? merro::testing::Sm2VerifyMessage(sm2.get(), message, Bytes(sig, sig + sigLen))
              : merro::testing::RsaVerifyDigest(rsa.get(), EVP_sha1(), own, Bytes(sig, sig + sigLen));
    if (Bytes(digest, digest + digestLen) != own || !verified) {
      ++tally.overOtherData;
    }
  }
  return tally;
}

// The second process of TwoProcessesNeverGetSignaturesOverTheOthersData.
int ChildSign(int ms) {
  const std::vector<std::string> tokens = merro::testing::ListTokens();
  DEV_CTX ctx{};
  if (tokens.empty() || merro::testing::OpenTestContext(tokens[0], &ctx) != 0) {
    return 2;
  }
  const SigningTally tally = SignForAWhile(&ctx, 'c', ms);
  merro::testing::CloseTestContext(&ctx);
  std::fprintf(stderr, "child: %d signed, %d failed, %d over other data\n", tally.succeeded,
               tally.failed, tally.overOtherData);
  return tally.overOtherData == 0 ? 0 : 3;
}

class KeyObjectsDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* sim = std::getenv("MERRO_TOKEN_SIM");
    ASSERT_NE(sim, nullptr) << "run under run-with-tokensim";
    m_address = sim;
    const std::vector<std::string> tokens = merro::testing::ListTokens();
    ASSERT_FALSE(tokens.empty());
    Control("provision 0");
    ASSERT_EQ(merro::testing::OpenTestContext(tokens[0], &m_ctx), 0);
  }
  void TearDown() override { merro::testing::CloseTestContext(&m_ctx); }

  std::string Control(const std::string& command) {
    std::string answer;
    EXPECT_EQ(merro::sim::SimControl(merro::sim::TcpChannelFactory(m_address), command, &answer), 0)
        << command << ": " << answer;
    return answer;
  }

  // A key pair generated by the token; its public key as exported.
  PkeyPtr Generate(WORD fid, BYTE type) {
    const HRESULT created = mr_CreateKeyFile(&m_ctx, fid);
    EXPECT_TRUE(created == 0 || created == static_cast<HRESULT>(0x80006A89)) << std::hex << created;
    EXPECT_EQ(mr_GenerateKeyPair(&m_ctx, type, fid, nullptr), 0);
    if (type == MR_ALG_SM2) {
      Bytes xy(64);
      EXPECT_EQ(mr_ExportPublicKey(&m_ctx, type, fid, xy.data()), 0);
      return merro::testing::Sm2PublicKey(xy);
    }
    RSA_KEY pub{};
    EXPECT_EQ(mr_ExportPublicKey(&m_ctx, type, fid, &pub), 0);
    return merro::testing::RsaPublicKey(Bytes(pub.n, pub.n + pub.nLen), Bytes(pub.e, pub.e + pub.eLen));
  }

  merro::testing::KeyObjectEnv Env() {
    return {&m_ctx, "0", [this](const std::string& command) { return Control(command); },
            [this](WORD fid, BYTE type) { return Generate(fid, type); }};
  }

  std::string m_address;
  DEV_CTX m_ctx{};
};

TEST_F(KeyObjectsDaemon, Sm2HashedAcrossAuthSessionAndPin) {
  merro::testing::Sm2HashedAcrossAuthSessionAndPin(Env());
}
TEST_F(KeyObjectsDaemon, DigestSignatures) { merro::testing::DigestSignatures(Env()); }
TEST_F(KeyObjectsDaemon, DisplaySigning) { merro::testing::DisplaySigning(Env()); }
TEST_F(KeyObjectsDaemon, InterleavedSequencesAreRefused) {
  merro::testing::InterleavedSequencesAreRefused(Env());
}
TEST_F(KeyObjectsDaemon, EncryptDecrypt) { merro::testing::EncryptDecrypt(Env()); }

// Two processes sign with the hashing on one token at once; each holds the
// device mutex per command, so their sequences interleave on the token.
// Every success carries the caller's own digest and a signature OpenSSL
// verifies over the caller's own data; the rest fail with a code.
TEST_F(KeyObjectsDaemon, TwoProcessesNeverGetSignaturesOverTheOthersData) {
  ASSERT_TRUE(Generate(kSharedSm2Fid, MR_ALG_SM2));
  ASSERT_TRUE(Generate(kSharedRsaFid, MR_ALG_RSA1024));
  merro::testing::ChildProcess child = merro::testing::ChildProcess::StartSelf({"--child-sign", "2500"});
  ASSERT_TRUE(child.Started());
  const SigningTally tally = SignForAWhile(&m_ctx, 'p', 3000);
  EXPECT_EQ(child.Join(), 0);
  EXPECT_EQ(tally.overOtherData, 0);
  EXPECT_GT(tally.succeeded, 0);
  std::printf("parent: %d signed, %d failed\n", tally.succeeded, tally.failed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--child-sign") == 0) {
    return ChildSign(std::atoi(argv[2]));
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
