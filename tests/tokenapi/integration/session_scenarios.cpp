#include "tests/tokenapi/integration/session_scenarios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "tests/tokenapi/support/mutex_probe.h"
#include "tests/tokenapi/support/test_context.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/commands/device_open.h"
#include "tokenapi/transport/merro_transport.h"

namespace merro::testing {
namespace {


constexpr HRESULT kWrongPin = static_cast<HRESULT>(0x800063C0);
constexpr HRESULT kSecurityNotSatisfied = static_cast<HRESULT>(0x80006982);

struct ContextCloser {
  void operator()(DEV_CTX* ctx) const { EXPECT_EQ(mr_CloseDevice(ctx), 0); }
};
using OpenToken = std::unique_ptr<DEV_CTX, ContextCloser>;

// Opens the token and sets a session key; null (and a test failure) when
// either fails.
OpenToken OpenSession(const SessionEnv& env) {
  DEV_CTX* raw = nullptr;
  const HRESULT hr = mr_OpenDevice(env.deviceName.c_str(), &raw);
  EXPECT_EQ(hr, 0);
  OpenToken ctx(raw);
  if (hr != 0 || raw == nullptr) {
    return nullptr;
  }
  EXPECT_EQ(ctx->bySMState, MR_SM_STATE_NONE);
  EXPECT_EQ(mr_SetSessionKey(ctx.get()), 0);
  EXPECT_EQ(ctx->bySMState, MR_SM_STATE_SESSION_KEY);
  return ctx;
}

const BYTE* Data(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }
BYTE Len(const std::string& s) { return static_cast<BYTE>(s.size()); }

HRESULT Verify(DEV_CTX* ctx, const std::string& pin, BYTE type = MR_PIN_USER) {
  return mr_VerifyPIN(ctx, type, Data(pin), Len(pin));
}

struct PinStatus {
  BYTE times = 0xEE, state = 0xEE, modified = 0xEE;
  bool operator==(const PinStatus& o) const {
    return times == o.times && state == o.state && modified == o.modified;
  }
};
std::ostream& operator<<(std::ostream& out, const PinStatus& s) {
  return out << "{times " << int(s.times) << ", state " << int(s.state) << ", modified "
             << int(s.modified) << "}";
}

PinStatus Status(DEV_CTX* ctx, BYTE type = MR_PIN_USER) {
  PinStatus s;
  EXPECT_EQ(mr_GetPINStatus(ctx, type, &s.times, &s.state, &s.modified), 0);
  return s;
}


}  // namespace

void PinLifecycle(const SessionEnv& env) {
  env.control("provision " + env.tokenIndex);
  const OpenToken ctx = OpenSession(env);
  ASSERT_TRUE(ctx);

  // VERIFY goes out as class 0xB4 with the proof in one encrypted block.
  env.log->ClearFrames();
  ASSERT_EQ(Verify(ctx.get(), "905172"), 0);
  const std::vector<Bytes> frames = env.log->Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Bytes{0xB0, 0x84, 0x00, 0x00, 0x00, 0x10}));
  ASSERT_EQ(frames[1].size(), 6u + 32u);
  EXPECT_EQ(Bytes(frames[1].begin(), frames[1].begin() + 6), (Bytes{0xB4, 0x20, 0x00, 0x01, 0x20, 0x00}));
  EXPECT_EQ(Status(ctx.get()), (PinStatus{6, MR_PIN_STATE_USER_VERIFIED, 0}));

  // Wrong PINs count down; with three tries or fewer the token asks for
  // its button first. Blocked stays blocked, even for the right PIN.
  for (int triesBefore = 6; triesBefore >= 0; --triesBefore) {
    SCOPED_TRACE(triesBefore);
    if (triesBefore > 0 && triesBefore <= 3) {
      env.control("button " + env.tokenIndex + " ok");
    }
    const int left = triesBefore > 0 ? triesBefore - 1 : 0;
    EXPECT_EQ(Verify(ctx.get(), "000000"), kWrongPin | left);
  }
  EXPECT_EQ(Status(ctx.get()), (PinStatus{0, 0x00, 0}));
  EXPECT_EQ(Verify(ctx.get(), "905172"), kWrongPin);

  // UNLOCK with the administrator PIN sets a new user PIN with full tries.
  const std::string admin = "905172", newPin = "1234", changed = "5678";
  ASSERT_EQ(mr_UnlockPIN(ctx.get(), MR_PIN_USER, Data(admin), Len(admin), Data(newPin), Len(newPin)), 0);
  EXPECT_EQ(Status(ctx.get()), (PinStatus{6, 0x00, 1}));
  ASSERT_EQ(Verify(ctx.get(), newPin), 0);
  ASSERT_EQ(mr_ChangePIN(ctx.get(), MR_PIN_USER, Data(newPin), Len(newPin), Data(changed), Len(changed)), 0);
  EXPECT_EQ(Verify(ctx.get(), newPin), kWrongPin | 5);
  EXPECT_EQ(Verify(ctx.get(), changed), 0);
  EXPECT_EQ(Status(ctx.get()), (PinStatus{6, MR_PIN_STATE_USER_VERIFIED, 1}));

  // The administrator PIN has its own tries and state.
  EXPECT_EQ(Status(ctx.get(), MR_PIN_ADMIN), (PinStatus{6, 0x00, 0}));
  EXPECT_EQ(Verify(ctx.get(), admin, MR_PIN_ADMIN), 0);
  EXPECT_EQ(Status(ctx.get(), MR_PIN_ADMIN), (PinStatus{6, 0x10, 0}));
}

void ButtonAnswers(const SessionEnv& env) {
  const std::string& i = env.tokenIndex;
  env.control("provision " + i + " retry 3");
  env.control("display " + i + " clear");
  const OpenToken ctx = OpenSession(env);
  ASSERT_TRUE(ctx);
  env.control("button " + i + " cancel");
  EXPECT_EQ(Verify(ctx.get(), "905172"), static_cast<HRESULT>(0x8000FF06));
  env.control("button " + i + " timeout after 2");
  EXPECT_EQ(Verify(ctx.get(), "905172"), static_cast<HRESULT>(0x8000FF07));
  // Neither answer costs a try.
  EXPECT_EQ(Status(ctx.get()).times, 3);
  env.control("button " + i + " ok after 1");
  EXPECT_EQ(Verify(ctx.get(), "905172"), 0);

  const std::string oldPin = "905172", newPin = "1111";
  env.control("button " + i + " cancel");
  EXPECT_EQ(mr_ChangePIN(ctx.get(), MR_PIN_USER, Data(oldPin), Len(oldPin), Data(newPin), Len(newPin)),
            static_cast<HRESULT>(0x8000FF06));
  env.control("button " + i + " ok");
  EXPECT_EQ(Verify(ctx.get(), oldPin), 0) << "a refused CHANGE keeps the PIN";
  const std::string shown = env.control("display " + i);
  EXPECT_NE(shown.find("VERIFY PIN"), std::string::npos) << shown;
  EXPECT_NE(shown.find("CHANGE PIN"), std::string::npos) << shown;
}

void ResetDropsSession(const SessionEnv& env) {
  env.control("provision " + env.tokenIndex);
  const OpenToken ctx = OpenSession(env);
  ASSERT_TRUE(ctx);
  ASSERT_EQ(Verify(ctx.get(), "905172"), 0);

  // A refused SET SESSION KEY leaves the session as it was.
  env.control("fault " + env.tokenIndex + " sw 6A80 ins 91");
  EXPECT_EQ(mr_SetSessionKey(ctx.get()), static_cast<HRESULT>(0x80006A80));
  EXPECT_EQ(Status(ctx.get()), (PinStatus{6, MR_PIN_STATE_USER_VERIFIED, 0}));

  // The reset clears the token's session key: the host still protects
  // its commands under the old one, which the token refuses.
  ASSERT_EQ(mr_GetDevInfo(ctx.get(), 1, nullptr), 0);
  BYTE times = 0, state = 0, modified = 0;
  EXPECT_EQ(mr_GetPINStatus(ctx.get(), MR_PIN_USER, &times, &state, &modified), kSecurityNotSatisfied);
  ASSERT_EQ(mr_AutoExternalAuth(ctx.get(), MR_KEY_EXTERN), 0);
  ASSERT_EQ(mr_SetSessionKey(ctx.get()), 0);
  // Works again; the reset also dropped the verified PIN.
  EXPECT_EQ(Status(ctx.get()), (PinStatus{6, 0x00, 0}));
  // The configuration key authenticates too.
  EXPECT_EQ(mr_AutoExternalAuth(ctx.get(), MR_KEY_EXTERN_CFG), 0);
}

// The INS bytes of the frames logged since the last clear.
Bytes LoggedIns(const SessionEnv& env) {
  Bytes ins;
  for (const Bytes& frame : env.log->Frames()) {
    ins.push_back(frame.size() > 1 ? frame[1] : 0);
  }
  return ins;
}

constexpr BYTE kInsChallenge = 0x84, kInsExternalAuth = 0x82, kInsSessionKey = 0x91;
constexpr BYTE kInsDevInfo = 0x12, kInsChipSn = 0x93, kInsSelect = 0xA4, kInsExportKey = 0x53;
constexpr BYTE kInsVerify = 0x20;

void TokenFactsPerContext(const SessionEnv& env) {
  env.control("provision " + env.tokenIndex);
  OpenToken ctx = OpenSession(env);
  ASSERT_TRUE(ctx);

  // Later sessions of the context: challenge, proof, session key; no
  // serial number, no key read.
  env.log->ClearFrames();
  ASSERT_EQ(mr_GetDevInfo(ctx.get(), 1, nullptr), 0);
  ASSERT_EQ(mr_AutoExternalAuth(ctx.get(), MR_KEY_EXTERN), 0);
  ASSERT_EQ(mr_SetSessionKey(ctx.get()), 0);
  EXPECT_EQ(LoggedIns(env), (Bytes{kInsDevInfo, kInsChallenge, kInsExternalAuth, kInsSessionKey}));
  EXPECT_EQ(Verify(ctx.get(), "905172"), 0);

  // The token's temporary key pair is made anew while the context stays
  // open: the kept public key is refused, read again, and the session is
  // the new key's (the PIN travels under it).
  env.control("provision " + env.tokenIndex);
  ASSERT_EQ(mr_AutoExternalAuth(ctx.get(), MR_KEY_EXTERN), 0);
  env.log->ClearFrames();
  ASSERT_EQ(mr_SetSessionKey(ctx.get()), 0);
  EXPECT_EQ(LoggedIns(env), (Bytes{kInsSessionKey, kInsSelect, kInsExportKey, kInsSessionKey}));
  EXPECT_EQ(Verify(ctx.get(), "905172"), 0);

  // Pulled out and put back: the old context is dead; a new one reads the
  // serial number and the key again.
  env.control("pull " + env.tokenIndex);
  env.control("insert " + env.tokenIndex);
  EXPECT_NE(mr_SetSessionKey(ctx.get()), 0);
  ctx.reset();
  env.log->ClearFrames();
  OpenToken fresh = OpenSession(env);
  ASSERT_TRUE(fresh);
  const Bytes ins = LoggedIns(env);
  for (BYTE read : {kInsChipSn, kInsSelect, kInsExportKey}) {
    EXPECT_NE(std::find(ins.begin(), ins.end(), read), ins.end()) << std::hex << int(read);
  }
  EXPECT_EQ(Verify(fresh.get(), "905172"), 0);
  EXPECT_EQ(LoggedIns(env).back(), kInsVerify);
}

// Sends a frame as it stands (no secure messaging) and returns the status
// word of the reply.
WORD SendRaw(DEV_CTX* ctx, const Bytes& frame) {
  BYTE reply[256] = {};
  DWORD replyLen = 0;
  EXPECT_EQ(MerroSendCommand(ctx->hDevice, frame.data(), static_cast<DWORD>(frame.size()), reply,
                             &replyLen, 2),
            0);
  return static_cast<WORD>((reply[0] << 8) | reply[1]);
}

void ProofsAreSingleUse(const SessionEnv& env) {
  env.control("provision " + env.tokenIndex);
  const OpenToken ctx = OpenSession(env);
  ASSERT_TRUE(ctx);
  env.log->ClearFrames();
  ASSERT_EQ(Verify(ctx.get(), "905172"), 0);
  const Bytes recorded = env.log->Frames().back();
  // Replayed as it went: its challenge is used up.
  EXPECT_EQ(SendRaw(ctx.get(), recorded), 0x6985);
  // Replayed after a fresh challenge: the proof does not match it.
  BYTE challenge[16];
  ASSERT_EQ(mr_GenRandom(ctx.get(), 16, challenge), 0);
  EXPECT_EQ(SendRaw(ctx.get(), recorded), 0x63C5);
  EXPECT_EQ(Status(ctx.get()).times, 5);
}

void AuthenticationGuardsAndTries(const SessionEnv& env) {
  env.control("provision " + env.tokenIndex);
  // A context with the device open but no reset and no authentication.
  DEV_CTX ctx{};
  ASSERT_EQ(OpenTestContext(env.deviceName, &ctx), 0);
  ASSERT_EQ(mr_GetDevInfo(&ctx, 1, nullptr), 0);
  EXPECT_EQ(Verify(&ctx, "905172"), kSecurityNotSatisfied);
  EXPECT_EQ(mr_SetSessionKey(&ctx), kSecurityNotSatisfied);
  EXPECT_EQ(ctx.bySMState, MR_SM_STATE_NONE);

  const BYTE wrongKey[16] = {1, 2, 3};
  for (int left = 5; left >= 0; --left) {
    EXPECT_EQ(mr_ExternalAuth(&ctx, wrongKey, MR_KEY_EXTERN), kWrongPin | left);
  }
  // Out of tries: even the right key is refused.
  EXPECT_EQ(mr_AutoExternalAuth(&ctx, MR_KEY_EXTERN), static_cast<HRESULT>(0x80006983));
  EXPECT_EQ(mr_AutoExternalAuth(&ctx, MR_KEY_EXTERN_CFG), 0) << "the other key has its own tries";
  EXPECT_EQ(Verify(&ctx, "905172"), 0);
  CloseTestContext(&ctx);
  env.control("provision " + env.tokenIndex);
}

void UnprovisionedTokenRefusesOpen(const SessionEnv& env) {
  std::string mutexName = env.deviceName.substr(env.deviceName.find("rev_"));
  mutexName = mutexName.substr(mutexName.find('#') + 1);
  mutexName = mutexName.substr(0, mutexName.find('#'));

  DEV_CTX* ctx = reinterpret_cast<DEV_CTX*>(0x1);
  EXPECT_EQ(mr_OpenDevice(env.deviceName.c_str(), &ctx), static_cast<HRESULT>(0x80006A88));
  EXPECT_EQ(ctx, nullptr);
  EXPECT_TRUE(OtherThreadAcquires(mutexName));

  env.control("fault " + env.tokenIndex + " sw 6F00 ins 12");
  ctx = reinterpret_cast<DEV_CTX*>(0x1);
  EXPECT_EQ(mr_OpenDevice(env.deviceName.c_str(), &ctx), static_cast<HRESULT>(0x80006F00));
  EXPECT_EQ(ctx, nullptr);
  EXPECT_TRUE(OtherThreadAcquires(mutexName));
}

}  // namespace merro::testing
