// The provider's contexts and provider parameters as CryptoAPI programs see
// them: merrocsp.dll registered in the prefix and loaded by advapi32, one
// token in the simulator whose user PIN was never changed.
#include "tests/csp/cryptoapi_fixture.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::Outcome;
using namespace merro::testing::csp;

// Requests the flags turn down before any container is made or opened.
TEST_F(CspCryptoApi, AcquireRefusalsCarryTheirCodes) {
  struct Case {
    const char* name;
    DWORD flags;
    DWORD code;
  } const cases[] = {
      {"abc", CRYPT_DELETEKEYSET, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {nullptr, CRYPT_DELETEKEYSET, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {nullptr, 0, static_cast<DWORD>(NTE_BAD_KEYSET)},
      {"no such container", 0, static_cast<DWORD>(NTE_NO_KEY)},
  };
  for (const Case& c : cases) {
    Provider p;
    const Outcome o = AcquireInto(&p, c.name, c.flags);
    EXPECT_FALSE(o.result) << (c.name ? c.name : "(none)") << " " << c.flags;
    EXPECT_EQ(o.error, c.code) << (c.name ? c.name : "(none)") << " " << c.flags;
  }
}

// With no token inserted there is nothing behind a verification context.
TEST_F(CspCryptoApi, AVerificationContextNeedsAnInsertedToken) {
  DeviceBench::Pull(0);
  Provider p;
  const Outcome o = AcquireInto(&p, nullptr, CRYPT_VERIFYCONTEXT);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, static_cast<DWORD>(NTE_NO_KEY));
}

// With the marker file the factory PIN of a token whose PIN was never
// changed stands in for the prompt: no dialog, so the call returns on its
// own. The new container is then open under its name in any letter case,
// survives a refused deletion and is listed.
TEST_F(CspCryptoApi, NewKeySetWithTheMarkerFileCreatesTheContainerUnprompted) {
  TavrFlag flag(true);
  Provider abc;
  const Outcome created = CallWithin(std::chrono::seconds(60), [&abc] {
    const Outcome o = AcquireInto(&abc, "abc", CRYPT_NEWKEYSET);
    ::SetLastError(o.error);
    return o.result;
  });
  ASSERT_TRUE(created.result) << std::hex << created.error;
  EXPECT_EQ(created.error, 0u);

  // Both refusals are decided before the token is asked anything (the
  // library stays loaded while abc is open, so no start-up talks to it).
  DeviceBench::CommandLog(0, /*clear=*/true);
  Provider again;
  const Outcome exists = AcquireInto(&again, "ABC", CRYPT_NEWKEYSET);
  EXPECT_FALSE(exists.result);
  EXPECT_EQ(exists.error, static_cast<DWORD>(NTE_EXISTS));

  Provider deleted;
  const Outcome refused = AcquireInto(&deleted, "abc", CRYPT_DELETEKEYSET);
  EXPECT_FALSE(refused.result);
  EXPECT_EQ(refused.error, static_cast<DWORD>(NTE_NOT_SUPPORTED));
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty());
  const std::vector<std::string> names = EnumContainers(abc.h);
  EXPECT_NE(std::find(names.begin(), names.end(), "abc"), names.end());

  // The name opens it again, as a plain request and as a named verification
  // context.
  for (const DWORD flags : {DWORD{0}, DWORD{CRYPT_VERIFYCONTEXT}}) {
    Provider opened;
    const Outcome o = AcquireInto(&opened, "abc", flags);
    EXPECT_TRUE(o.result) << flags << " " << std::hex << o.error;
    EXPECT_EQ(o.error, 0u);
    char name[64] = {};
    DWORD length = sizeof name;
    EXPECT_TRUE(
        ::CryptGetProvParam(opened.h, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &length, 0));
    EXPECT_STREQ(name, "abc");
  }
}

// A new container on a token whose user PIN was never changed: with the
// marker file the factory PIN stands in and nobody is asked; without it the
// user is asked once for the user PIN, and the typed PIN creates it, while a
// cancel creates nothing. The library reads the marker file when it loads,
// so each request runs in a child that loads it afresh.
TEST_F(CspCryptoApi, NewKeySetAsksForThePinOnlyWithoutTheMarkerFile) {
  struct Case {
    const char* name;
    bool flag;
    const char* answer;
    DWORD code;  // 0: created
    size_t prompts;
  } const cases[] = {
      {"with-flag", true, "pin 47193628", 0, 0},
      {"without-flag", false, "pin 47193628", 0, 1},
      {"cancelled", false, "cancel", static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER), 1},
      // A PIN dialog that could not be shown is no cancel: the acquire gives
      // its code for any other failure of the creation.
      {"no-dialog", false, "fail 0x80070716", static_cast<DWORD>(NTE_NO_MEMORY), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TavrFlag flag(c.flag);
    ui.Answer({c.answer});
    const Outcome created = AcquireInChild(c.name, CRYPT_NEWKEYSET);
    EXPECT_EQ(created.error, c.code) << std::hex << created.error;

    const std::vector<std::string> prompts = ui.Transcript();
    ASSERT_EQ(prompts.size(), c.prompts) << (prompts.empty() ? "" : prompts.front());
    if (c.prompts == 1) {
      // The user PIN (mode 0), answered as the script says.
      EXPECT_EQ(prompts[0].rfind("pin mode=0 ", 0), 0u) << prompts[0];
      const std::string answered = c.code == 0 ? " -> pin" : std::string(" -> ") + c.answer;
      EXPECT_EQ(prompts[0].substr(prompts[0].size() - std::min(prompts[0].size(), answered.size())),
                answered);
    }
    // The container is there exactly when the request succeeded.
    Provider opened;
    const Outcome o = AcquireInto(&opened, c.name, 0);
    EXPECT_EQ(o.result, c.code == 0 ? TRUE : FALSE);
    EXPECT_EQ(o.error, c.code == 0 ? 0u : static_cast<DWORD>(NTE_NO_KEY));
  }
}

// The provider parameters on a verification context: the enumeration's
// first answer on a fresh load, the hardware random source, the numbers
// that are not parameters, and the signature PIN, whose text is read only
// up to a bound.
TEST_F(CspCryptoApi, ProviderParametersOnAVerificationContext) {
  Provider p;
  const Outcome acquired = AcquireInto(&p, nullptr, CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(acquired.result) << std::hex << acquired.error;
  EXPECT_EQ(acquired.error, 0u);

  PROV_ENUMALGS alg = {};
  DWORD length = sizeof alg;
  Outcome o = GetParam(p.h, PP_ENUMALGS, reinterpret_cast<BYTE*>(&alg), &length, 0);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.error, 0u);
  EXPECT_STREQ(alg.szName, "RC4");

  struct Case {
    const char* what;
    DWORD param;
    bool withBuffer;
    DWORD flags;
    DWORD code;  // 0: TRUE
  } const cases[] = {
      {"hardware RNG asked plainly", PP_USE_HARDWARE_RNG, false, 0, 0},
      {"hardware RNG with a buffer", PP_USE_HARDWARE_RNG, true, 0, ERROR_INVALID_PARAMETER},
      {"hardware RNG with flags", PP_USE_HARDWARE_RNG, false, 1, ERROR_INVALID_PARAMETER},
      {"parameter 0", 0, true, 0, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {"parameter 7", 7, true, 0, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {"parameter 40", 40, true, 0, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
  };
  for (const Case& c : cases) {
    BYTE buffer[16] = {};
    DWORD size = sizeof buffer;
    o = GetParam(p.h, c.param, c.withBuffer ? buffer : nullptr, &size, c.flags);
    EXPECT_EQ(o.result, c.code == 0 ? TRUE : FALSE) << c.what;
    EXPECT_EQ(o.error, c.code) << c.what;
  }

  // A PIN is taken whether or not the container can use it; text without its
  // terminator within 260 bytes is refused rather than read on.
  const std::string longest(259, '7');
  std::vector<BYTE> unterminated(300, '7');
  struct PinCase {
    const char* what;
    DWORD param;
    const BYTE* data;
    DWORD code;
  } const pins[] = {
      {"the user PIN", PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>("47193628"), 0},
      {"259 characters", PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(longest.c_str()), 0},
      {"no terminator", PP_SIGNATURE_PIN, unterminated.data(), ERROR_INVALID_PARAMETER},
      {"exchange PIN", PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>("47193628"),
       ERROR_NOT_SUPPORTED},
  };
  for (const PinCase& c : pins) {
    o = SetParam(p.h, c.param, c.data);
    EXPECT_EQ(o.result, c.code == 0 ? TRUE : FALSE) << c.what;
    EXPECT_EQ(o.error, c.code) << c.what;
  }
}

}  // namespace
