// Provider handles acquired with CRYPT_SILENT, as CryptoAPI programs see
// them: merrocsp.dll loaded by advapi32, one token in the simulator whose
// user PIN was never changed. Where the provider would have to ask the
// user, the call returns on its own with NTE_SILENT_CONTEXT; every call is
// bounded, so a dialog that nobody answers fails the test instead of
// hanging it.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/csp/cryptoapi_fixture.h"

namespace {

using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::Outcome;
using namespace merro::testing::csp;

constexpr auto kCallLimit = std::chrono::seconds(60);
constexpr DWORD kSilentContext = static_cast<DWORD>(NTE_SILENT_CONTEXT);
// INS of VERIFY PIN in the simulator's command log.
constexpr BYTE kInsVerifyPin = 0x20;

// The acquire, bounded in time.
Outcome Acquire(Provider* p, const char* name, DWORD flags) {
  return CallWithin(kCallLimit, [&] {
    const Outcome o = AcquireInto(p, name, flags);
    ::SetLastError(o.error);
    return o.result;
  });
}

// A key pair generated in the handle's container, bounded in time; the key
// handle is not kept.
Outcome GenKey(HCRYPTPROV h, ALG_ID algId) {
  return CallWithin(kCallLimit, [&] {
    HCRYPTKEY key = 0;
    ::SetLastError(0xdeadbeef);
    const BOOL ok = ::CryptGenKey(h, algId, 0, &key);
    const DWORD error = ::GetLastError();
    if (ok) {
      ::CryptDestroyKey(key);
    }
    ::SetLastError(error);
    return ok;
  });
}

bool Listed(const char* name) {
  Provider verify;
  if (!Acquire(&verify, nullptr, CRYPT_VERIFYCONTEXT).result) {
    ADD_FAILURE() << "no verification context";
    return false;
  }
  const std::vector<std::string> names = EnumContainers(verify.h);
  return std::find(names.begin(), names.end(), name) != names.end();
}

size_t PinsSent() {
  const std::vector<BYTE> log = DeviceBench::CommandLog(0);
  return static_cast<size_t>(std::count(log.begin(), log.end(), kInsVerifyPin));
}

// Without the flag file a new container needs the PIN typed: a silent
// request is refused before the dialog and before any PIN is sent, and no
// container is made.
TEST_F(CspCryptoApi, SilentNewKeySetWithoutTheFlagFileIsRefusedUnprompted) {
  TavrFlag flag(false);
  DeviceBench::CommandLog(0, /*clear=*/true);
  Provider p;
  const Outcome o = Acquire(&p, "silent", CRYPT_NEWKEYSET | CRYPT_SILENT);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, kSilentContext);
  EXPECT_EQ(PinsSent(), 0u);
  EXPECT_FALSE(Listed("silent"));
}

// With the flag file the factory PIN opens the token unprompted, and the PIN
// kept from it serves a key generation on the same silent handle.
TEST_F(CspCryptoApi, SilentHandlesWorkWhereNoPromptIsNeeded) {
  TavrFlag flag(true);
  Provider made;
  const Outcome created = Acquire(&made, "silent-made", CRYPT_NEWKEYSET | CRYPT_SILENT);
  ASSERT_TRUE(created.result) << std::hex << created.error;
  EXPECT_EQ(created.error, 0u);
  const Outcome generated = GenKey(made.h, CALG_SM2_SIGN);
  EXPECT_TRUE(generated.result) << std::hex << generated.error;
  EXPECT_EQ(generated.error, 0u);
  EXPECT_TRUE(Listed("silent-made"));
}

}  // namespace
