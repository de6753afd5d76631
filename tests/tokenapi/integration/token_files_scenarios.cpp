#include "tests/tokenapi/integration/token_files_scenarios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tests/tokenapi/support/test_context.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/cert_commands.h"
#include "tokenapi/commands/container_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/init_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/commands/device_open.h"

namespace merro::testing {
namespace {

using Bytes = std::vector<BYTE>;

struct ContextCloser {
  void operator()(DEV_CTX* ctx) const { EXPECT_EQ(mr_CloseDevice(ctx), 0); }
};
using OpenToken = std::unique_ptr<DEV_CTX, ContextCloser>;

// Opens with the derived key, sets a session key and verifies the user PIN.
OpenToken OpenVerified(const TokenFilesEnv& env) {
  DEV_CTX* raw = nullptr;
  EXPECT_EQ(mr_OpenDevice(env.deviceName.c_str(), &raw), 0);
  OpenToken ctx(raw);
  if (raw == nullptr) {
    return nullptr;
  }
  EXPECT_EQ(mr_SetSessionKey(ctx.get()), 0);
  const BYTE pin[] = {'9', '0', '5', '1', '7', '2'};
  EXPECT_EQ(mr_VerifyPIN(ctx.get(), MR_PIN_USER, pin, sizeof pin), 0);
  return ctx;
}

void Initialise(const TokenFilesEnv& env) {
  DEV_CTX ctx;
  ASSERT_EQ(OpenTestContext(env.deviceName, &ctx), 0);
  EXPECT_EQ(mr_EraseMF(&ctx), 0);
  EXPECT_EQ(mr_InitTokenFile(&ctx), 0);
  CloseTestContext(&ctx);
}

CONTAINER_RECORD Named(const char* name) {
  CONTAINER_RECORD r;
  std::memset(&r, 0, sizeof r);
  std::strncpy(r.szContainerName, name, sizeof r.szContainerName);
  return r;
}

Bytes Certificate(size_t n, BYTE seed) {
  Bytes cert(n, seed);
  cert[0] = 0x30;
  cert[1] = 0x82;
  cert[2] = static_cast<BYTE>((n - 4) >> 8);
  cert[3] = static_cast<BYTE>(n - 4);
  return cert;
}

}  // namespace

void InitialiseBlankToken(const TokenFilesEnv& env) {
  Initialise(env);
  OpenToken ctx = OpenVerified(env);
  ASSERT_TRUE(ctx);
  BYTE times = 0, state = 0, modified = 0;
  ASSERT_EQ(mr_GetPINStatus(ctx.get(), MR_PIN_USER, &times, &state, &modified), 0);
  EXPECT_EQ(times, 6);
  EXPECT_EQ(state, 0x11);
  DWORD count = 9;
  EXPECT_EQ(mr_EnumContainer(ctx.get(), nullptr, &count), 0);
  EXPECT_EQ(count, 0u);
}

void ContainersKeysCertificates(const TokenFilesEnv& env) {
  Initialise(env);
  OpenToken ctx = OpenVerified(env);
  ASSERT_TRUE(ctx);
  DEV_CTX* c = ctx.get();

  CONTAINER_RECORD sm2 = Named("sm2 container");
  ASSERT_EQ(mr_CreateContainer(c, &sm2), 0);
  CONTAINER_RECORD codes = sm2;
  codes.AlgType = MR_ALG_SM2;
  codes.ExchKeyLen = 0x00;
  codes.SignKeyLen = 0x00;
  ASSERT_EQ(mr_WriteContainer(c, &codes), 0);

  BYTE signPub[64];
  ASSERT_EQ(mr_GenerateKeyPair(c, MR_ALG_SM2, sm2.SignKeyFID, signPub), 0);
  BYTE again[64];
  ASSERT_EQ(mr_ExportPublicKey(c, MR_ALG_SM2, sm2.SignKeyFID, again), 0);
  EXPECT_EQ(Bytes(signPub, signPub + 64), Bytes(again, again + 64));

  BYTE pair[96];
  ASSERT_EQ(merro::crypto::SM2_GenKey(pair), 0);
  SM2_KEY exch;
  std::memcpy(&exch, pair, sizeof exch);
  ASSERT_EQ(mr_ImportKeyPairEx(c, MR_ALG_SM2, sm2.ExchangeKeyFID, &exch), 0);
  ASSERT_EQ(mr_ExportPublicKey(c, MR_ALG_SM2, sm2.ExchangeKeyFID, again), 0);
  EXPECT_EQ(Bytes(again, again + 64), Bytes(pair, pair + 64));

  const Bytes exchCert = Certificate(1200, 0x5A);
  const Bytes signCert = Certificate(800, 0xA5);
  ASSERT_EQ(mr_WriteCert(c, sm2.ExchangeCertFID, exchCert.data(), 1200), 0);
  ASSERT_EQ(mr_WriteCert(c, sm2.SignCertFID, signCert.data(), 800), 0);
  // All four bits: the container is available without enabling.
  CONTAINER_RECORD read = Named("sm2 container");
  ASSERT_EQ(mr_ReadContainer(c, &read), 0);
  EXPECT_EQ(read.byFlag, MR_CTNR_AVL);
  Bytes back(2048);
  DWORD len = 2048;
  ASSERT_EQ(mr_ReadCert(c, sm2.ExchangeCertFID, back.data(), &len), 0);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + len), exchCert);

  CONTAINER_RECORD rsa = Named("rsa container");
  ASSERT_EQ(mr_CreateContainer(c, &rsa), 0);
  EXPECT_EQ(rsa.ExchangeKeyFID, 0xC011);
  RSA_KEY pub;
  ASSERT_EQ(mr_GenerateKeyPair(c, MR_ALG_RSA2048, rsa.ExchangeKeyFID, &pub), 0);
  EXPECT_EQ(pub.nLen, 256u);
  EXPECT_NE(pub.n[0] & 0x80, 0) << "a 2048-bit modulus";

  DWORD count = 4;
  CONTAINER_RECORD all[4];
  ASSERT_EQ(mr_EnumContainer(c, all, &count), 0);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(mr_DeleteContainer(c, "rsa container", 13), 0);
  ASSERT_EQ(mr_EnumContainer(c, nullptr, &count), 0);
  EXPECT_EQ(count, 1u);
}

}  // namespace merro::testing
