// A provider handle acquired with CRYPT_SILENT (the container's allow-UI
// flag FALSE) against two daemon tokens: every road that would ask the user
// something fails with NTE_SILENT_CONTEXT before the dialog and before the
// PIN reaches any token, while the same road with user interface allowed
// does ask; the roads that need no answer (the kept PIN, the factory PIN
// under the bank's rules with the flag file) keep working silently.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"
#include "tests/provider/support/provider_bench.h"

namespace merro::testing {
namespace {

using provider::Container;
using provider::HashHandle;
using provider::KeyHandle;
using ByteVector = std::vector<BYTE>;

constexpr char kSm2Name[] = "silent-sm2";
// INS of VERIFY PIN in the simulator's command log.
constexpr BYTE kInsVerifyPin = 0x20;

class SilentHandle : public ProviderBench {
 protected:
  void SetUp() override {
    ProviderBench::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    m_dev = DeviceBench::DeviceName(0);
    std::vector<ContainerKey> keys{Key(AT_SIGNATURE, MR_ALG_SM2),
                                   Key(AT_KEYEXCHANGE, MR_ALG_SM2)};
    ASSERT_TRUE(MakeContainer(0, kSm2Name, &keys));
    ASSERT_TRUE(StartTokenLayer());
  }
  void TearDown() override {
    DeviceBench::Insert(1);
    ProviderBench::TearDown();
  }

  // The SM2 container as a handle with or without CRYPT_SILENT opens it.
  static std::unique_ptr<Container> Open(BOOL bAllowUI) {
    return Container::CreateRegisteredContainer(kSm2Name, bAllowUI, FALSE);
  }
  static std::unique_ptr<KeyHandle> KeyOf(Container& container, ALG_ID uAlgID) {
    auto key = std::make_unique<KeyHandle>();
    key->m_pContainer = &container;
    EXPECT_EQ(key->InitKeyHandle(uAlgID, 0), S_OK);
    key->m_dwModulusBits = 256;
    return key;
  }

  // SM3 on the token over data that is no transaction message, signed with
  // the container's signature key; *pSignature gets it on success.
  static HRESULT Sign(Container& container, ByteVector* pSignature = nullptr) {
    HashHandle hash;
    hash.m_pContainer = &container;
    EXPECT_EQ(hash.Init(CALG_SM3), S_OK);
    const std::string data = "a payment order, not a transaction message";
    EXPECT_EQ(hash.Update(reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())),
              S_OK);
    ByteVector signature(64, 0xAB);
    DWORD length = 64;
    const HRESULT hr = KeyOf(container, CALG_SM2_SIGN)->SignHashData(&hash, signature.data(),
                                                                     &length);
    if (hr != S_OK) {
      EXPECT_EQ(signature, ByteVector(64, 0xAB)) << "a refused signature wrote the buffer";
    } else if (pSignature != nullptr) {
      signature.resize(length);
      *pSignature = signature;
    }
    return hr;
  }

  // The exchange key's own ciphertext of `plain` (public key only: no PIN),
  // without the point tag, opened again by the container's exchange key.
  static HRESULT Decrypt(Container& container, const ByteVector& plain, ByteVector* pOpened) {
    std::unique_ptr<KeyHandle> key = KeyOf(container, CALG_SM2_KEYX);
    BYTE* p = nullptr;
    DWORD n = 0;
    const HRESULT hSealed = key->AsymEncrypt(plain.data(), static_cast<DWORD>(plain.size()), &p, &n);
    std::unique_ptr<BYTE[]> sealed(p);
    EXPECT_EQ(hSealed, S_OK);
    if (hSealed != S_OK || n < 2) {
      return hSealed;
    }
    p = nullptr;
    DWORD opened = 0;
    const HRESULT hr = key->AsymDecrypt(sealed.get() + 1, n - 1, &p, &opened);
    std::unique_ptr<BYTE[]> owned(p);
    EXPECT_EQ(p != nullptr, hr == S_OK);
    if (hr == S_OK) {
      pOpened->assign(p, p + opened);
    }
    return hr;
  }

  // How many VERIFY PIN commands the tokens received since the logs were
  // last cleared.
  static size_t PinsSent() {
    size_t count = 0;
    for (int i = 0; i < TokenCount(); ++i) {
      const std::vector<BYTE> log = CommandLog(i);
      count += static_cast<size_t>(std::count(log.begin(), log.end(), kInsVerifyPin));
    }
    return count;
  }

  static std::vector<std::string> Kinds(ScriptedUserInterface& ui) {
    std::vector<std::string> kinds;
    for (const auto& prompt : ui.Transcript()) {
      kinds.push_back(prompt.kind);
    }
    return kinds;
  }

  std::string m_dev;
};

// Each road that asks: with user interface allowed it shows its dialog
// (answered "cancel" here); on a silent handle it fails with 0x80090022, no
// dialog shown, no PIN sent, nothing made.
TEST_F(SilentHandle, ARoadThatWouldAskFailsBeforeItsDialog) {
  const ByteVector plain(16, 0x5A);
  struct Road {
    const char* what;
    bool oneToken;       // the second token pulled first
    const char* prompt;  // the dialog the road shows when it may
    std::function<HRESULT(BOOL bAllowUI)> run;
  } const roads[] = {
      {"container creation with one token and no flag file", true, "pin",
       [](BOOL bAllowUI) {
         HRESULT hr = E_UNEXPECTED;
         std::unique_ptr<Container> made =
             Container::CreateNewContainer("silent-new", bAllowUI, FALSE, TRUE, &hr);
         EXPECT_FALSE(made);
         EXPECT_NE(g_pDeviceHandle->CheckContainerExist("silent-new"), S_OK);
         return hr;
       }},
      {"container creation with two tokens (token selection)", false, "select",
       [](BOOL bAllowUI) {
         HRESULT hr = E_UNEXPECTED;
         std::unique_ptr<Container> made =
             Container::CreateNewContainer(nullptr, bAllowUI, FALSE, TRUE, &hr);
         EXPECT_FALSE(made);
         return hr;
       }},
      {"signing with no kept PIN", false, "pin",
       [](BOOL bAllowUI) {
         std::unique_ptr<Container> container = Open(bAllowUI);
         return container ? Sign(*container) : E_UNEXPECTED;
       }},
      {"decryption with no kept PIN", false, "pin",
       [&plain](BOOL bAllowUI) {
         std::unique_ptr<Container> container = Open(bAllowUI);
         ByteVector opened;
         return container ? Decrypt(*container, plain, &opened) : E_UNEXPECTED;
       }},
  };
  for (const Road& road : roads) {
    for (const BOOL bAllowUI : {FALSE, TRUE}) {
      SCOPED_TRACE(std::string(road.what) + (bAllowUI ? ", UI allowed" : ", CRYPT_SILENT"));
      if (road.oneToken) {
        DeviceBench::Pull(1);
      }
      g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
      ScopedScriptedUi ui({"cancel"});
      ClearCommandLogs();
      const HRESULT hr = road.run(bAllowUI);
      if (bAllowUI) {
        EXPECT_EQ(hr, SCARD_W_CANCELLED_BY_USER);
        EXPECT_EQ(Kinds(*ui), std::vector<std::string>{road.prompt});
      } else {
        EXPECT_EQ(hr, NTE_SILENT_CONTEXT);
        EXPECT_TRUE(ui->Transcript().empty());
      }
      EXPECT_EQ(PinsSent(), 0u);
      DeviceBench::Insert(1);
    }
  }
}

// What needs no answer still works on a silent handle: a kept PIN signs and
// decrypts, and with the flag file the factory PIN of a never-changed token
// opens it for a new container.
TEST_F(SilentHandle, TheRoadsWithoutAPromptKeepWorking) {
  std::unique_ptr<Container> silent = Open(FALSE);
  ASSERT_TRUE(silent);
  ASSERT_EQ(g_pDeviceHandle->KeepUserPIN(m_dev.c_str(), reinterpret_cast<const BYTE*>(kUserPin),
                                         sizeof kUserPin - 1),
            S_OK);
  ByteVector signature;
  EXPECT_EQ(Sign(*silent, &signature), S_OK);
  EXPECT_EQ(signature.size(), 64u);
  const ByteVector plain(16, 0x5A);
  ByteVector opened;
  EXPECT_EQ(Decrypt(*silent, plain, &opened), S_OK);
  EXPECT_EQ(opened, plain);
  EXPECT_TRUE(m_ui->Transcript().empty());

  StopTokenLayer();
  m_settings.bFlagFileExist = TRUE;
  ASSERT_TRUE(StartTokenLayer());
  DeviceBench::Pull(1);
  HRESULT hr = E_UNEXPECTED;
  std::unique_ptr<Container> made =
      Container::CreateNewContainer("silent-made", FALSE, FALSE, TRUE, &hr);
  EXPECT_EQ(hr, S_OK);
  ASSERT_TRUE(made);
  EXPECT_EQ(std::string(made->m_szDeviceName), m_dev);
  EXPECT_FALSE(made->IsAllowUI());
  EXPECT_TRUE(m_ui->Transcript().empty());
}

}  // namespace
}  // namespace merro::testing
