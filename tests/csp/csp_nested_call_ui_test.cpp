// A host program whose window procedure runs inside the provider's dialogs:
// a timer of the thread that signs fires in the dialog's modal loop and
// destroys the hash being signed and releases the provider handle, through
// advapi32 with the real dialogs (the PIN prompt, which the robot answers,
// and the transaction confirmation while the token waits for its button).
// Both nested calls succeed, the process goes on, and the signature is the
// outer call's own, judged by OpenSSL.
#include <openssl/evp.h>

#include "tests/csp/cryptoapi_fixture.h"
#include "tests/csp/real_dialog_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/key_containers.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;
using merro::testing::Bytes;
using merro::testing::CallWithin;
using merro::testing::DeviceBench;
using merro::testing::Outcome;
using namespace merro::testing::csp;

constexpr DWORD kDialogWaitMs = 60000;  // the library's first load under a cold Wine
constexpr DWORD kNestedWaitMs = 30000;
constexpr wchar_t kPin[] = L"47193628";

// What the host's timer does once the dialog it waits for stands: the
// handles it destroys and what each call answered.
struct HostCleanUp {
  HCRYPTHASH hash = 0;
  HCRYPTPROV prov = 0;
  std::atomic<bool> dialogUp{false};  // set by the robot
  std::atomic<bool> done{false};
  Outcome destroyed{};
  Outcome released{};
};
HostCleanUp* g_cleanUp = nullptr;

void CALLBACK HostTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HostCleanUp& c = *g_cleanUp;
  if (!c.dialogUp || c.done) {
    return;
  }
  ::KillTimer(nullptr, id);
  ::SetLastError(0xdeadbeef);
  c.destroyed.result = ::CryptDestroyHash(c.hash);
  c.destroyed.error = ::GetLastError();
  ::SetLastError(0xdeadbeef);
  c.released.result = ::CryptReleaseContext(c.prov, 0);
  c.released.error = ::GetLastError();
  c.done = true;
}

// Waits, bounded, until the timer has done its work.
bool WaitDone(const HostCleanUp& c) {
  const ULONGLONG until = ::GetTickCount64() + kNestedWaitMs;
  while (!c.done && ::GetTickCount64() < until) {
    ::Sleep(WindowRobot::kPollMs);
  }
  return c.done;
}

// A visible dialog of this process with the control, else null; records
// nothing (the robot's waits record a failure when they time out).
HWND VisibleDialogWith(int controlId) {
  struct Search {
    int id;
    HWND found;
  } search{controlId, nullptr};
  ::EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(w) &&
            ::GetDlgItem(w, s->id) != nullptr) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void TypePin(WindowRobot& r, HWND dlg) {
  r.Settle(dlg);
  r.Type(dlg, kPin);
  r.Keys(dlg, {VK_RETURN});
  r.Check(r.WaitGone(dlg), "the PIN dialog ends");
}

// A factory-fresh token with an RSA-1024 signature key in a container, no
// marker file and no scripted UI: the library shows its own dialogs.
class CspNestedCall : public CspRealDialogs {
 protected:
  void SetUp() override {
    CspRealDialogs::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    merro::testing::KeyContainerSpec spec;
    spec.name = "nested";
    spec.signType = MR_ALG_RSA1024;
    ASSERT_TRUE(merro::testing::MakeKeyContainer(0, spec, &m_container));
  }
  void TearDown() override {
    DeviceBench::Control("button 0 clear");
    CspRealDialogs::TearDown();
  }

  merro::testing::KeyContainer m_container;
  TavrFlag m_flag{false};
};

TEST_F(CspNestedCall, HandlesReleasedInsideTheSigningDialogsLeaveTheSignatureWhole) {
  enum class Target { kPin, kConfirm };
  const std::string kTavrMessage = "<SignData><KeyType>1</KeyType><Fields>x</Fields></SignData>";
  struct Case {
    const char* what;
    Target target;
    ALG_ID alg;
    std::string data;
  } const cases[] = {
      // The first: the PIN is asked (it may be kept for the second).
      {"PIN dialog", Target::kPin, CALG_SHA1, "signed while the host cleans up"},
      {"transaction confirmation", Target::kConfirm, CALG_SHA_256, kTavrMessage},
  };
  // Keeps the library loaded when the signing handle goes.
  Provider keeper;
  ASSERT_TRUE(AcquireInto(&keeper, "nested", 0).result);
  const merro::testing::PkeyPtr publicKey =
      merro::testing::RsaPublicKey(m_container.sign.n, m_container.sign.e);
  ASSERT_TRUE(publicKey);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Provider p;
    ASSERT_TRUE(AcquireInto(&p, "nested", 0).result);
    ScopedHash hash;
    ASSERT_TRUE(::CryptCreateHash(p.h, c.alg, 0, 0, &hash.h)) << std::hex << ::GetLastError();
    const Bytes data(c.data.begin(), c.data.end());
    ASSERT_TRUE(::CryptHashData(hash.h, data.data(), static_cast<DWORD>(data.size()), 0));

    HostCleanUp cleanUp;
    cleanUp.hash = hash.h;
    cleanUp.prov = p.h;
    g_cleanUp = &cleanUp;
    DeviceBench::Control("button 0 hold");
    RobotThread robot([&](WindowRobot& r) {
      const ULONGLONG until = ::GetTickCount64() + kDialogWaitMs;
      HWND target = nullptr;
      while (target == nullptr && ::GetTickCount64() < until) {
        if (HWND pin = VisibleDialogWith(IDC_PIN_EDIT)) {
          if (c.target == Target::kPin) {
            target = pin;
            break;
          }
          TypePin(r, pin);  // the PIN before the confirmation
        } else if (HWND confirm = VisibleDialogWith(IDC_TOKEN_PICTURE)) {
          if (c.target == Target::kConfirm) {
            target = confirm;
          }
        }
        ::Sleep(WindowRobot::kPollMs);
      }
      r.Require(target != nullptr, "the dialog the host's timer waits for");
      cleanUp.dialogUp = true;
      r.Require(WaitDone(cleanUp), "the host's timer ran inside the dialog");
      r.Check(::IsWindow(target) != FALSE, "the dialog stands through the nested calls");
      if (c.target == Target::kPin) {
        TypePin(r, target);
      } else {
        DeviceBench::Control("button 0 release ok");
        r.Check(r.WaitGone(target), "the confirmation ends");
      }
    });
    Bytes signature(128, 0xAB);
    DWORD length = static_cast<DWORD>(signature.size());
    const HCRYPTHASH h = hash.h;
    const Outcome outer = CallWithin(std::chrono::seconds(120), [&] {
      const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, HostTimer);
      ::SetLastError(0xdeadbeef);
      const BOOL ok = ::CryptSignHashW(h, AT_SIGNATURE, nullptr, 0, signature.data(), &length);
      const DWORD error = ::GetLastError();
      ::KillTimer(nullptr, timer);
      ::SetLastError(error);
      return ok;
    });
    robot.Join();
    g_cleanUp = nullptr;
    DeviceBench::Control("button 0 clear");
    EXPECT_EQ(robot.Failures(), std::vector<std::string>());
    ASSERT_TRUE(cleanUp.done);
    // The handles are gone: nothing is left for the scope guards.
    hash.h = 0;
    p.h = 0;
    EXPECT_TRUE(cleanUp.destroyed.result) << std::hex << cleanUp.destroyed.error;
    EXPECT_TRUE(cleanUp.released.result) << std::hex << cleanUp.released.error;
    ASSERT_TRUE(outer.result) << std::hex << outer.error;
    EXPECT_EQ(outer.error, 0u);
    ASSERT_EQ(length, 128u);
    const EVP_MD* md = c.alg == CALG_SHA1 ? EVP_sha1() : EVP_sha256();
    EXPECT_TRUE(merro::testing::RsaVerifyDigest(publicKey.get(), md,
                                                merro::testing::Digest(md, data),
                                                merro::testing::Reversed(signature)));
  }

  // The library still serves the handle that stayed.
  ScopedHash after;
  EXPECT_TRUE(::CryptCreateHash(keeper.h, CALG_SHA1, 0, 0, &after.h)) << std::hex
                                                                     << ::GetLastError();
}

}  // namespace
