// The argument checks of the entry points: for each family, the step text of
// the first check that fails, the result 0x80070001, and no frame sent.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/tokenapi/api/api_test_support.h"
#include "tests/tokenapi/support/recording_transport.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/transport/transport.h"

namespace {

using merro::apitest::TraceLines;
using merro::testing::RecordingTransport;

struct CheckCase {
  const char* function;  // the name the entry point traces under
  const char* step;      // the step text of the first failing check
  std::function<HRESULT(DEV_CTX*)> call;
};

std::ostream& operator<<(std::ostream& os, const CheckCase& c) {
  return os << c.function << " / " << c.step;
}

BYTE g_buf[512];
DWORD g_len = sizeof g_buf;
DEVICE_INFO g_info{};
DEVICE_INFO g_infoNoMask{};
HASH_HANDLE g_hash;
SYMKEY_HANDLE g_symkey;
// A well-formed frame: GET CHIP SN (no data).
const BYTE g_frame[6] = {0xB0, 0x93, 0x00, 0x00, 0x00, 0x08};
// Lc says 2 data bytes, the frame carries 3.
const BYTE g_badLc[9] = {0xB0, 0xD6, 0x00, 0x00, 0x02, 0x00, 1, 2, 3};

class ArgumentCheckTest : public ::testing::TestWithParam<CheckCase> {
 protected:
  void SetUp() override {
    m_transport = std::make_shared<RecordingTransport>();
    merro::transport::SetTransportOverride(m_transport);
    g_info.Mask = MR_DEVINFO_PART01;
    g_infoNoMask.Mask = 0;
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  std::shared_ptr<RecordingTransport> m_transport;
};

TEST_P(ArgumentCheckTest, FirstFailingCheckIsReported) {
  const CheckCase& c = GetParam();
  merro::apitest::MutexContext mutexCtx;
  DEV_CTX* ctx = mutexCtx.get();
  ctx->hDevice = RecordingTransport::Context().hDevice;
  TraceLines trace;
  EXPECT_EQ(static_cast<std::uint32_t>(c.call(ctx)), 0x80070001u);
  const auto* failure = trace.FirstFailure(c.function);
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->text, std::string(c.function) + " - " + c.step);
  EXPECT_FALSE(trace.Has(std::string(c.function) + " - MerroWaitDevMutex"));
  EXPECT_TRUE(m_transport->Frames().empty());
}

const CheckCase kDeviceCases[] = {
    {"EnumDevice", "CHECK pCounter", [](DEV_CTX*) { return EnumDevice(g_buf, nullptr); }},
    // The name is tested first, even when the destination is missing too.
    {"OpenDevice", "CHECK pDevName", [](DEV_CTX*) { return OpenDevice(nullptr, nullptr); }},
    {"OpenDevice", "CHECK ppDevCtx", [](DEV_CTX*) { return OpenDevice("x", nullptr); }},
    {"ResetDevice", "CHECK pDevCtx", [](DEV_CTX*) { return ResetDevice(nullptr); }},
    {"GetDeviceInfo", "CHECK pDevInfo", [](DEV_CTX* c) { return GetDeviceInfo(c, nullptr); }},
    // The context is tested last: a zero Mask is reported even without one.
    {"GetDeviceInfo", "CHECK pDevInfo->Mask",
     [](DEV_CTX*) { return GetDeviceInfo(nullptr, &g_infoNoMask); }},
    {"GetDeviceInfo", "CHECK pDevCtx", [](DEV_CTX*) { return GetDeviceInfo(nullptr, &g_info); }},
    {"GetChipSN", "CHECK pSNLen", [](DEV_CTX* c) { return GetChipSN(c, g_buf, nullptr); }},
    {"GetChipSN", "CHECK pDevCtx", [](DEV_CTX*) { return GetChipSN(nullptr, g_buf, &g_len); }},
    {"SetTokenSN", "CHECK pLabel", [](DEV_CTX* c) { return SetTokenSN(c, nullptr, 2); }},
    {"SetTokenSN", "CHECK pDevCtx", [](DEV_CTX*) { return SetTokenSN(nullptr, g_buf, 2); }},
    {"GetTokenSN", "CHECK pLabelLen", [](DEV_CTX* c) { return GetTokenSN(c, g_buf, nullptr); }},
    {"GetTokenSN", "CHECK pDevCtx", [](DEV_CTX*) { return GetTokenSN(nullptr, g_buf, &g_len); }},
    // The label forwards run under the names of what they forward to.
    {"SetTokenSN", "CHECK pLabel", [](DEV_CTX* c) { return SetDevLabel(c, nullptr, 2); }},
    {"GetTokenSN", "CHECK pLabelLen", [](DEV_CTX* c) { return GetDevLabel(c, g_buf, nullptr); }},
    {"GenerateRandom", "CHECK nRandlen",
     [](DEV_CTX* c) { return GenerateRandom(c, RANDOM_FLAG_KEY, 0, g_buf); }},
    {"GenerateRandom", "CHECK nRandlen",
     [](DEV_CTX* c) { return GenerateRandom(c, RANDOM_FLAG_SOFT, 129, g_buf); }},
    {"GenerateRandom", "CHECK pRandom",
     [](DEV_CTX* c) { return GenerateRandom(c, RANDOM_FLAG_KEY, 8, nullptr); }},
    {"GenerateRandom", "CHECK pDevCtx",
     [](DEV_CTX*) { return GenerateRandom(nullptr, RANDOM_FLAG_SOFT, 8, g_buf); }},
    {"SendAPDUCommand", "CHECK pCmdbuf",
     [](DEV_CTX* c) { return SendAPDUCommand(c, nullptr, 6, g_buf, &g_len); }},
    {"SendAPDUCommand", "CHECK nCmdlen",
     [](DEV_CTX* c) { return SendAPDUCommand(c, g_frame, 5, g_buf, &g_len); }},
    {"SendAPDUCommand", "CHECK nCmdlen",
     [](DEV_CTX* c) { return SendAPDUCommand(c, g_buf, 262, g_buf, &g_len); }},
    {"SendAPDUCommand", "CHECK nCmdlen",
     [](DEV_CTX* c) { return SendAPDUCommand(c, g_badLc, sizeof g_badLc, g_buf, &g_len); }},
    {"SendAPDUCommand", "CHECK pRepbuf",
     [](DEV_CTX* c) { return SendAPDUCommand(c, g_frame, 6, nullptr, &g_len); }},
    {"SendAPDUCommand", "CHECK pReplen",
     [](DEV_CTX* c) { return SendAPDUCommand(c, g_frame, 6, g_buf, nullptr); }},
    {"SendAPDUCommand", "CHECK pDevCtx",
     [](DEV_CTX*) { return SendAPDUCommand(nullptr, g_frame, 6, g_buf, &g_len); }},
    {"EraseMF", "CHECK pDevCtx", [](DEV_CTX*) { return EraseMF(nullptr); }},
    {"EraseCOS", "CHECK pDevCtx", [](DEV_CTX*) { return EraseCOS(nullptr); }},
    {"AdjustClock", "CHECK pDevCtx", [](DEV_CTX*) { return AdjustClock(nullptr); }},
    {"DispImportCert", "CHECK pDevCtx", [](DEV_CTX*) { return DispImportCert(nullptr, 1); }},
};
INSTANTIATE_TEST_SUITE_P(Device, ArgumentCheckTest, ::testing::ValuesIn(kDeviceCases));

const CheckCase kFileCases[] = {
    {"WriteFlash", "CHECK pInbuf", [](DEV_CTX* c) { return WriteFlash(c, 0, nullptr, 4); }},
    {"WriteFlash", "CHECK pDevCtx", [](DEV_CTX*) { return WriteFlash(nullptr, 0, g_buf, 4); }},
    {"ReadFlash", "CHECK pOutbuf", [](DEV_CTX* c) { return ReadFlash(c, 0, nullptr, 4); }},
    {"ReadFlash", "CHECK pDevCtx", [](DEV_CTX*) { return ReadFlash(nullptr, 0, g_buf, 4); }},
    {"EraseFlash", "CHECK pDevCtx", [](DEV_CTX*) { return EraseFlash(nullptr); }},
    {"SelectFile", "CHECK pFileInfo", [](DEV_CTX* c) { return SelectFile(c, 0x20, 2, nullptr); }},
    {"SelectFile", "CHECK pDevCtx", [](DEV_CTX*) { return SelectFile(nullptr, 0x20, 2, g_buf); }},
    {"CreateCosFile", "CHECK pFileInfo", [](DEV_CTX* c) { return CreateCosFile(c, nullptr); }},
    {"CreateCosFile", "CHECK pDevCtx", [](DEV_CTX*) { return CreateCosFile(nullptr, g_buf); }},
    {"WriteCosFile", "CHECK pInbuf", [](DEV_CTX* c) { return WriteCosFile(c, 0, nullptr, 4); }},
    {"WriteCosFile", "CHECK pDevCtx", [](DEV_CTX*) { return WriteCosFile(nullptr, 0, g_buf, 4); }},
    {"ReadCosFile", "CHECK pOutbuf", [](DEV_CTX* c) { return ReadCosFile(c, 0, nullptr, &g_len); }},
    {"ReadCosFile", "CHECK pOutlen", [](DEV_CTX* c) { return ReadCosFile(c, 0, g_buf, nullptr); }},
    {"ReadCosFile", "CHECK pDevCtx",
     [](DEV_CTX*) { return ReadCosFile(nullptr, 0, g_buf, &g_len); }},
    {"EraseCosFile", "CHECK pDevCtx", [](DEV_CTX*) { return EraseCosFile(nullptr, 0x20, 2); }},
    {"DeleteCosFile", "CHECK pDevCtx", [](DEV_CTX*) { return DeleteCosFile(nullptr, 0x20, 2); }},
    {"SetTokenName", "CHECK pLabel", [](DEV_CTX* c) { return SetTokenName(c, nullptr, 2); }},
    {"SetTokenName", "CHECK pDevCtx", [](DEV_CTX*) { return SetTokenName(nullptr, g_buf, 2); }},
    {"GetTokenName", "CHECK pDevCtx",
     [](DEV_CTX*) { return GetTokenName(nullptr, g_buf, &g_len); }},
};
INSTANTIATE_TEST_SUITE_P(FilesFlashName, ArgumentCheckTest, ::testing::ValuesIn(kFileCases));

const CheckCase kCryptoCases[] = {
    {"HashInit", "CHECK ppHashCtx", [](DEV_CTX* c) { return HashInit(c, MR_ALG_SHA1, nullptr); }},
    {"HashInit", "CHECK pDevCtx",
     [](DEV_CTX*) {
       HASH_HANDLE* h = nullptr;
       return HashInit(nullptr, MR_ALG_SHA1, &h);
     }},
    {"HashUpdate", "CHECK pHashCtx", [](DEV_CTX*) { return HashUpdate(nullptr, g_buf, 1); }},
    {"HashUpdate", "CHECK pInbuf", [](DEV_CTX*) { return HashUpdate(&g_hash, nullptr, 1); }},
    {"HashFinal", "CHECK pHashCtx", [](DEV_CTX*) { return HashFinal(nullptr, g_buf, &g_len); }},
    {"HashFinal", "CHECK pOutbuf", [](DEV_CTX*) { return HashFinal(&g_hash, nullptr, &g_len); }},
    {"HashFinal", "CHECK pOutlen", [](DEV_CTX*) { return HashFinal(&g_hash, g_buf, nullptr); }},
    {"SymKeyInit", "CHECK pKey",
     [](DEV_CTX* c) {
       SYMKEY_HANDLE* h = nullptr;
       return SymKeyInit(c, MR_ALG_SM4, MR_CRYPTO_ENC, MR_MODE_CBC, nullptr, nullptr, &h);
     }},
    {"SymKeyInit", "CHECK ppKeyCtx",
     [](DEV_CTX* c) {
       return SymKeyInit(c, MR_ALG_SM4, MR_CRYPTO_ENC, MR_MODE_CBC, g_buf, nullptr, nullptr);
     }},
    {"SymKeyInit", "CHECK pDevCtx",
     [](DEV_CTX*) {
       SYMKEY_HANDLE* h = nullptr;
       return SymKeyInit(nullptr, MR_ALG_SM4, MR_CRYPTO_ENC, MR_MODE_CBC, g_buf, nullptr, &h);
     }},
    {"SymKeyUpdate", "CHECK pKeyCtx",
     [](DEV_CTX*) { return SymKeyUpdate(nullptr, g_buf, 16, g_buf, &g_len); }},
    {"SymKeyUpdate", "CHECK pInbuf",
     [](DEV_CTX*) { return SymKeyUpdate(&g_symkey, nullptr, 16, g_buf, &g_len); }},
    {"SymKeyUpdate", "CHECK pOutbuf",
     [](DEV_CTX*) { return SymKeyUpdate(&g_symkey, g_buf, 16, nullptr, &g_len); }},
    {"SymKeyUpdate", "CHECK pOutlen",
     [](DEV_CTX*) { return SymKeyUpdate(&g_symkey, g_buf, 16, g_buf, nullptr); }},
    {"SymKeyFinal", "CHECK pKeyCtx", [](DEV_CTX*) { return SymKeyFinal(nullptr, g_buf, &g_len); }},
    // The final writes the last block through both outputs: both tested.
    {"SymKeyFinal", "CHECK pOutbuf",
     [](DEV_CTX*) { return SymKeyFinal(&g_symkey, nullptr, &g_len); }},
    {"SymKeyFinal", "CHECK pOutlen",
     [](DEV_CTX*) { return SymKeyFinal(&g_symkey, g_buf, nullptr); }},
    // The key is checked under "CHECK pKeyCtx".
    {"HWSymKeyCrypto", "CHECK pKeyCtx",
     [](DEV_CTX* c) {
       return HWSymKeyCrypto(c, MR_ALG_SM4, 1, nullptr, g_buf, 16, g_buf, &g_len);
     }},
    {"HWSymKeyCrypto", "CHECK pInbuf",
     [](DEV_CTX* c) {
       return HWSymKeyCrypto(c, MR_ALG_SM4, 1, g_buf, nullptr, 16, g_buf, &g_len);
     }},
    {"HWSymKeyCrypto", "CHECK pOutbuf",
     [](DEV_CTX* c) {
       return HWSymKeyCrypto(c, MR_ALG_SM4, 1, g_buf, g_buf, 16, nullptr, &g_len);
     }},
    {"HWSymKeyCrypto", "CHECK pOutlen",
     [](DEV_CTX* c) { return HWSymKeyCrypto(c, MR_ALG_SM4, 1, g_buf, g_buf, 16, g_buf, nullptr); }},
    {"HWSymKeyCrypto", "CHECK pDevCtx",
     [](DEV_CTX*) {
       return HWSymKeyCrypto(nullptr, MR_ALG_SM4, 1, g_buf, g_buf, 16, g_buf, &g_len);
     }},
};
INSTANTIATE_TEST_SUITE_P(HashSymKey, ArgumentCheckTest, ::testing::ValuesIn(kCryptoCases));

const BYTE g_pin[17] = {'1', '2', '3', '4', '5', '6', '7', '8', '9',
                        '0', '1', '2', '3', '4', '5', '6', '7'};

// PIN lengths run from 6 to 16: 5 and 17 fail before anything is sent (the
// accepted lengths are shown against the simulator).
const CheckCase kPinCases[] = {
    {"VerifyPIN", "CHECK pPin", [](DEV_CTX* c) { return VerifyPIN(c, 1, nullptr, 6); }},
    {"VerifyPIN", "CHECK nPinLen", [](DEV_CTX* c) { return VerifyPIN(c, 1, g_pin, 5); }},
    {"VerifyPIN", "CHECK nPinLen", [](DEV_CTX* c) { return VerifyPIN(c, 1, g_pin, 17); }},
    {"VerifyPIN", "CHECK nPinLen", [](DEV_CTX* c) { return VerifyPIN(c, 1, g_pin, 0); }},
    {"VerifyPIN", "CHECK pDevCtx", [](DEV_CTX*) { return VerifyPIN(nullptr, 1, g_pin, 6); }},
    {"ChangePIN", "CHECK pOldPin",
     [](DEV_CTX* c) { return ChangePIN(c, 1, nullptr, 6, g_pin, 6); }},
    {"ChangePIN", "CHECK nOldPinLen",
     [](DEV_CTX* c) { return ChangePIN(c, 1, g_pin, 5, g_pin, 6); }},
    {"ChangePIN", "CHECK nOldPinLen",
     [](DEV_CTX* c) { return ChangePIN(c, 1, g_pin, 17, g_pin, 6); }},
    {"ChangePIN", "CHECK pNewPin",
     [](DEV_CTX* c) { return ChangePIN(c, 1, g_pin, 6, nullptr, 6); }},
    {"ChangePIN", "CHECK nNewPinLen",
     [](DEV_CTX* c) { return ChangePIN(c, 1, g_pin, 16, g_pin, 5); }},
    {"ChangePIN", "CHECK nNewPinLen",
     [](DEV_CTX* c) { return ChangePIN(c, 1, g_pin, 16, g_pin, 17); }},
    {"ChangePIN", "CHECK pDevCtx",
     [](DEV_CTX*) { return ChangePIN(nullptr, 1, g_pin, 6, g_pin, 16); }},
    // The administrator PIN is checked under "CHECK pOldPin".
    {"UnlockPIN", "CHECK pOldPin",
     [](DEV_CTX* c) { return UnlockPIN(c, 1, nullptr, 6, g_pin, 6); }},
    {"UnlockPIN", "CHECK nAdminPinLen",
     [](DEV_CTX* c) { return UnlockPIN(c, 1, g_pin, 5, g_pin, 6); }},
    {"UnlockPIN", "CHECK nAdminPinLen",
     [](DEV_CTX* c) { return UnlockPIN(c, 1, g_pin, 17, g_pin, 6); }},
    {"UnlockPIN", "CHECK pNewPin",
     [](DEV_CTX* c) { return UnlockPIN(c, 1, g_pin, 6, nullptr, 6); }},
    {"UnlockPIN", "CHECK nNewPinLen",
     [](DEV_CTX* c) { return UnlockPIN(c, 1, g_pin, 6, g_pin, 17); }},
    {"UnlockPIN", "CHECK pDevCtx",
     [](DEV_CTX*) { return UnlockPIN(nullptr, 1, g_pin, 6, g_pin, 6); }},
    // Every output is tested before the context.
    {"GetPINStatus", "CHECK pTimes",
     [](DEV_CTX*) { return GetPINStatus(nullptr, 1, nullptr, g_buf, g_buf); }},
    {"GetPINStatus", "CHECK pStatus",
     [](DEV_CTX*) { return GetPINStatus(nullptr, 1, g_buf, nullptr, g_buf); }},
    {"GetPINStatus", "CHECK pModified",
     [](DEV_CTX*) { return GetPINStatus(nullptr, 1, g_buf, g_buf, nullptr); }},
    {"GetPINStatus", "CHECK pDevCtx",
     [](DEV_CTX*) { return GetPINStatus(nullptr, 1, g_buf, g_buf, g_buf); }},
    {"ExternalAuth", "CHECK pDevCtx", [](DEV_CTX*) { return ExternalAuth(nullptr, 0x33); }},
    {"SetSessionKey", "CHECK pDevCtx", [](DEV_CTX*) { return SetSessionKey(nullptr); }},
};
INSTANTIATE_TEST_SUITE_P(PinAuth, ArgumentCheckTest, ::testing::ValuesIn(kPinCases));

// A key context that is never used: every case fails before the key object
// is looked at.
int g_keyObject;
void* const g_key = &g_keyObject;

const CheckCase kAsymCases[] = {
    {"AsymKeyInit", "CHECK ppKeyCtx",
     [](DEV_CTX* c) { return AsymKeyInit(c, MR_ALG_SM2, 0xC004, nullptr); }},
    {"AsymKeyInit", "CHECK pDevCtx",
     [](DEV_CTX*) {
       void* k = nullptr;
       return AsymKeyInit(nullptr, MR_ALG_SM2, 0xC004, &k);
     }},
    {"AsymKeyFinal", "CHECK pKeyCtx", [](DEV_CTX*) { return AsymKeyFinal(nullptr); }},
    {"SignXML", "CHECK pKeyCtx",
     [](DEV_CTX*) { return SignXML(nullptr, 0, g_buf, 4, g_buf, &g_len); }},
    {"SignXML", "CHECK pDispbuf",
     [](DEV_CTX*) { return SignXML(g_key, 0, nullptr, 4, g_buf, &g_len); }},
    {"SignXML", "CHECK pSignbuf",
     [](DEV_CTX*) { return SignXML(g_key, 0, g_buf, 4, nullptr, &g_len); }},
    {"SignXML", "CHECK pSignlen",
     [](DEV_CTX*) { return SignXML(g_key, 0, g_buf, 4, g_buf, nullptr); }},
    {"DigestInit", "CHECK pKeyCtx", [](DEV_CTX*) { return DigestInit(nullptr, MR_ALG_SM3); }},
    {"DigestUpdate", "CHECK pKeyCtx", [](DEV_CTX*) { return DigestUpdate(nullptr, g_buf, 4); }},
    {"DigestUpdate", "CHECK pInbuf", [](DEV_CTX*) { return DigestUpdate(g_key, nullptr, 4); }},
    {"DigestFinal", "CHECK pKeyCtx", [](DEV_CTX*) { return DigestFinal(nullptr, g_buf, &g_len); }},
    {"DigestFinal", "CHECK pDigestbuf",
     [](DEV_CTX*) { return DigestFinal(g_key, nullptr, &g_len); }},
    {"DigestFinal", "CHECK pDigestlen",
     [](DEV_CTX*) { return DigestFinal(g_key, g_buf, nullptr); }},
    {"SignDataResult", "CHECK pKeyCtx",
     [](DEV_CTX*) { return SignDataResult(nullptr, g_buf, &g_len); }},
    {"SignDataResult", "CHECK pSignbuf",
     [](DEV_CTX*) { return SignDataResult(g_key, nullptr, &g_len); }},
    {"SignDataResult", "CHECK pSignlen",
     [](DEV_CTX*) { return SignDataResult(g_key, g_buf, nullptr); }},
    // Checked as SignXML is, so a null key context cannot reach the key object.
    {"SignDigest", "CHECK pKeyCtx",
     [](DEV_CTX*) { return SignDigest(nullptr, g_buf, 32, g_buf, &g_len); }},
    {"SignDigest", "CHECK pDigest",
     [](DEV_CTX*) { return SignDigest(g_key, nullptr, 32, g_buf, &g_len); }},
    {"SignDigest", "CHECK pSignbuf",
     [](DEV_CTX*) { return SignDigest(g_key, g_buf, 32, nullptr, &g_len); }},
    {"SignDigest", "CHECK pSignlen",
     [](DEV_CTX*) { return SignDigest(g_key, g_buf, 32, g_buf, nullptr); }},
    {"PrikeyDec", "CHECK pKeyCtx",
     [](DEV_CTX*) { return PrikeyDec(nullptr, g_buf, 4, g_buf, &g_len); }},
    {"PrikeyDec", "CHECK pInbuf",
     [](DEV_CTX*) { return PrikeyDec(g_key, nullptr, 4, g_buf, &g_len); }},
    {"PrikeyDec", "CHECK pOutbuf",
     [](DEV_CTX*) { return PrikeyDec(g_key, g_buf, 4, nullptr, &g_len); }},
    {"PrikeyDec", "CHECK pOutlen",
     [](DEV_CTX*) { return PrikeyDec(g_key, g_buf, 4, g_buf, nullptr); }},
    {"VerifySignature", "CHECK pKeyCtx",
     [](DEV_CTX*) { return VerifySignature(nullptr, 0, g_buf, 32, g_buf, 64); }},
    {"VerifySignature", "CHECK pDigestbuf",
     [](DEV_CTX*) { return VerifySignature(g_key, 0, nullptr, 32, g_buf, 64); }},
    {"VerifySignature", "CHECK pSignbuf",
     [](DEV_CTX*) { return VerifySignature(g_key, 0, g_buf, 32, nullptr, 64); }},
    {"PubkeyEnc", "CHECK pKeyCtx",
     [](DEV_CTX*) { return PubkeyEnc(nullptr, g_buf, 4, g_buf, &g_len); }},
    {"PubkeyEnc", "CHECK pInbuf",
     [](DEV_CTX*) { return PubkeyEnc(g_key, nullptr, 4, g_buf, &g_len); }},
    {"PubkeyEnc", "CHECK pOutbuf",
     [](DEV_CTX*) { return PubkeyEnc(g_key, g_buf, 4, nullptr, &g_len); }},
    {"PubkeyEnc", "CHECK pOutlen",
     [](DEV_CTX*) { return PubkeyEnc(g_key, g_buf, 4, g_buf, nullptr); }},
};
INSTANTIATE_TEST_SUITE_P(AsymKey, ArgumentCheckTest, ::testing::ValuesIn(kAsymCases));

CONTAINER_RECORD g_record{};

const CheckCase kContainerKeyCases[] = {
    {"EnumContainer", "CHECK pCount",
     [](DEV_CTX* c) { return EnumContainer(c, &g_record, nullptr); }},
    {"EnumContainer", "CHECK pDevCtx",
     [](DEV_CTX*) { return EnumContainer(nullptr, &g_record, &g_len); }},
    {"CreateContainer", "CHECK pContainer", [](DEV_CTX* c) { return CreateContainer(c, nullptr); }},
    {"CreateContainer", "CHECK pDevCtx",
     [](DEV_CTX*) { return CreateContainer(nullptr, &g_record); }},
    {"DeleteContainer", "CHECK pContainer",
     [](DEV_CTX* c) { return DeleteContainer(c, nullptr, 3); }},
    {"DeleteContainer", "CHECK pDevCtx",
     [](DEV_CTX*) { return DeleteContainer(nullptr, "abc", 3); }},
    {"ReadContainer", "CHECK pContainer", [](DEV_CTX* c) { return ReadContainer(c, nullptr); }},
    {"ReadContainer", "CHECK pDevCtx", [](DEV_CTX*) { return ReadContainer(nullptr, &g_record); }},
    {"WriteContainer", "CHECK pContainer", [](DEV_CTX* c) { return WriteContainer(c, nullptr); }},
    {"WriteContainer", "CHECK pDevCtx",
     [](DEV_CTX*) { return WriteContainer(nullptr, &g_record); }},
    {"EnableContainer", "CHECK pContainerName",
     [](DEV_CTX* c) { return EnableContainer(c, nullptr, 3); }},
    {"EnableContainer", "CHECK pDevCtx",
     [](DEV_CTX*) { return EnableContainer(nullptr, "abc", 3); }},
    {"InitTokenFile", "CHECK pDevCtx", [](DEV_CTX*) { return InitTokenFile(nullptr); }},
    {"GenerateKeyPair", "CHECK pPubKey",
     [](DEV_CTX* c) { return GenerateKeyPair(c, MR_ALG_SM2, 0xC004, nullptr); }},
    {"GenerateKeyPair", "CHECK pDevCtx",
     [](DEV_CTX*) { return GenerateKeyPair(nullptr, MR_ALG_SM2, 0xC004, g_buf); }},
    {"ImportKeyPair", "CHECK pKey",
     [](DEV_CTX* c) { return ImportKeyPair(c, MR_ALG_SM2, 0xC001, nullptr, 4, nullptr); }},
    {"ImportKeyPair", "CHECK pDevCtx",
     [](DEV_CTX*) { return ImportKeyPair(nullptr, MR_ALG_SM2, 0xC001, g_buf, 4, nullptr); }},
    {"ImportKeyPairEx", "CHECK pKey",
     [](DEV_CTX* c) { return ImportKeyPairEx(c, MR_ALG_SM2, 0xC001, nullptr); }},
    {"ImportKeyPairEx", "CHECK pDevCtx",
     [](DEV_CTX*) { return ImportKeyPairEx(nullptr, MR_ALG_SM2, 0xC001, g_buf); }},
    {"ExportPublicKey", "CHECK pKey",
     [](DEV_CTX* c) { return ExportPublicKey(c, MR_ALG_SM2, 0xC004, nullptr); }},
    {"ExportPublicKey", "CHECK pDevCtx",
     [](DEV_CTX*) { return ExportPublicKey(nullptr, MR_ALG_SM2, 0xC004, g_buf); }},
    {"ImportCert", "CHECK pInbuf", [](DEV_CTX* c) { return ImportCert(c, 0xC002, nullptr, 4); }},
    {"ImportCert", "CHECK pDevCtx", [](DEV_CTX*) { return ImportCert(nullptr, 0xC002, g_buf, 4); }},
    {"ExportCert", "CHECK pOutbuf",
     [](DEV_CTX* c) { return ExportCert(c, 0xC002, nullptr, &g_len); }},
    {"ExportCert", "CHECK pOutlen",
     [](DEV_CTX* c) { return ExportCert(c, 0xC002, g_buf, nullptr); }},
    {"ExportCert", "CHECK pDevCtx",
     [](DEV_CTX*) { return ExportCert(nullptr, 0xC002, g_buf, &g_len); }},
};
INSTANTIATE_TEST_SUITE_P(ContainersKeys, ArgumentCheckTest,
                         ::testing::ValuesIn(kContainerKeyCases));

}  // namespace
