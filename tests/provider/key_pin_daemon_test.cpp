// The key object's PIN checks against the simulator: the kept PIN, the
// dialog (scripted: it records mode and tries), the token's retry counter,
// its confirmation at three tries or fewer, and the manager's check and
// change of a PIN.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "device/ui/owner_window.h"
#include "resources/device/device_resource_ids.h"
#include "tests/provider/key_handle_bench.h"

namespace merro::testing {
namespace {

using provider::KeyHandle;

// One scenario of CheckUserPIN: the token and the keep as the case sets
// them up, what the holder types and presses, and what must follow.
struct CheckUserPinCase {
  const char* name;
  DWORD keepTimeout;                 // the settings' dwKeepPINTimeout
  DWORD triesBefore;                 // wrong PINs spent down to this
  bool verifiedBefore;               // the token reports the user PIN verified
  const char* kept;                  // the PIN in the keep, or none
  std::vector<std::string> answers;  // the scripted dialog's answers
  std::vector<std::string> buttons;  // the token's buttons, in order
  BOOL force;
  BOOL retry;
  HRESULT expected;
  std::vector<int> dialogTries;  // the tries each PIN dialog showed (all in mode 0)
  bool lockedBox;                // the "locked" message box came up
  bool verifySent;               // a VERIFY PIN reached the token
  DWORD triesAfter;
  bool keptAfter;
};

void PrintTo(const CheckUserPinCase& c, std::ostream* out) { *out << c.name; }

const CheckUserPinCase kCheckUserPinCases[] = {
    {"VerifiedTokenAsksNothing", 600000, 6, true, nullptr, {}, {}, FALSE, FALSE, S_OK, {}, false,
     false, 6, false},
    {"ForcedCheckTriesTheKeptPinFirst", 600000, 6, true, ProviderBench::kUserPin, {}, {}, TRUE, FALSE, S_OK, {},
     false, true, 6, true},
    {"StaleKeptPinThenOneWrongTypedPin", 600000, 6, false, "12121212", {"pin 34343434"}, {},
     FALSE, FALSE, SCARD_E_INVALID_CHV, {5}, false, true, 4, false},
    {"RetryShowsTheDialogWithFallingTries", 600000, 6, false, nullptr,
     {"pin 11111111", "pin 22222222", std::string("pin ") + ProviderBench::kUserPin}, {}, FALSE, TRUE, S_OK,
     {6, 5, 4}, false, true, 6, true},
    {"CancelOnTheTokenEndsTheRetries", 600000, 3, false, nullptr,
     {std::string("pin ") + ProviderBench::kUserPin, std::string("pin ") + ProviderBench::kUserPin}, {"cancel"}, FALSE, TRUE,
     SCARD_W_CANCELLED_BY_USER, {3}, false, true, 3, false},
    {"TimeOutOnTheTokenEndsTheRetries", 600000, 3, false, nullptr,
     {std::string("pin ") + ProviderBench::kUserPin, std::string("pin ") + ProviderBench::kUserPin}, {"timeout"}, FALSE, TRUE,
     SCARD_E_TIMEOUT, {3}, false, true, 3, false},
    {"CancelOnTheTokenIsNoWrongPinWithoutRetry", 600000, 2, false, nullptr,
     {std::string("pin ") + ProviderBench::kUserPin}, {"cancel"}, FALSE, FALSE, SCARD_W_CANCELLED_BY_USER, {2},
     false, true, 2, false},
    {"LastTryWrongShowsTheLockedBox", 600000, 1, false, nullptr, {"pin 11111111"}, {"ok"}, FALSE,
     TRUE, SCARD_W_CHV_BLOCKED, {1}, true, true, 0, false},
    {"NoTriesLeftAsksNothing", 600000, 0, false, nullptr, {}, {}, TRUE, TRUE, SCARD_W_CHV_BLOCKED,
     {}, false, false, 0, false},
    {"RightPinIsNotKeptWhenTheSettingsKeepNone", 0, 6, false, nullptr,
     {std::string("pin ") + ProviderBench::kUserPin}, {}, FALSE, FALSE, S_OK, {6}, false, true, 6, false},
};

class CheckUserPin : public KeyHandleBench,
                     public ::testing::WithParamInterface<CheckUserPinCase> {};

TEST_P(CheckUserPin, Scenario) {
  const CheckUserPinCase& c = GetParam();
  if (c.keepTimeout != m_settings.dwKeepPINTimeout) {
    StartWithContainer(c.keepTimeout);
  }
  SpendTriesUntil(c.triesBefore);
  if (c.verifiedBefore) {
    ASSERT_EQ(Verify(ProviderBench::kUserPin), S_OK);
  } else {
    ASSERT_EQ(g_pDeviceHandle->ResetKey(m_dev.c_str()), S_OK);
  }
  if (c.kept != nullptr) {
    ASSERT_EQ(g_pDeviceHandle->KeepUserPIN(m_dev.c_str(), reinterpret_cast<const BYTE*>(c.kept),
                                           static_cast<DWORD>(std::strlen(c.kept))),
              S_OK);
  }
  for (const std::string& answer : c.answers) {
    m_ui->Push(answer);
  }
  for (const std::string& button : c.buttons) {
    DeviceBench::Control("button 0 " + button);
  }
  DeviceBench::CommandLog(0, true);
  m_trace.Clear();

  const auto key = Key(AT_SIGNATURE, 1024);
  EXPECT_EQ(key->CheckUserPIN(c.force, c.retry), c.expected);

  std::vector<int> tries;
  for (const auto& p : Prompts("pin")) {
    EXPECT_EQ(p.mode, 0);
    tries.push_back(p.tries);
  }
  EXPECT_EQ(tries, c.dialogTries);
  const auto boxes = Prompts("message");
  ASSERT_EQ(boxes.size(), c.lockedBox ? 1u : 0u);
  if (c.lockedBox) {
    EXPECT_EQ(boxes[0].ids, (std::vector<UINT>{IDS_PIN_LOCKED, IDS_ERROR_CAPTION, MB_ICONERROR}));
  }
  EXPECT_EQ(Sent(kInsVerifyPin) > 0, c.verifySent);
  EXPECT_EQ(Info().tries, c.triesAfter);
  EXPECT_EQ(g_pDeviceHandle->HaveKeptPIN(m_dev.c_str()) != FALSE, c.keptAfter);
  if (c.expected == S_OK) {
    EXPECT_EQ(Info().status, 0x11u);
  }
  // No PIN of the case reaches a trace record, narrow or wide.
  for (const auto& record : m_trace.Records()) {
    for (const auto& arg : record.args) {
      const std::string text = apitest::TraceLines::Text(arg);
      const std::string narrow(arg.begin(), arg.end());
      for (const char* pin : {ProviderBench::kUserPin, "11111111", "34343434"}) {
        EXPECT_EQ(text.find(pin), std::string::npos) << text;
        EXPECT_EQ(narrow.find(pin), std::string::npos);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(KeyHandle, CheckUserPin, ::testing::ValuesIn(kCheckUserPinCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The PIN dialog of a key's check is owned by the window the caller handed
// to its container; without one (or after that window is gone) by the
// window found in this process.
TEST_F(KeyHandleBench, ThePinDialogBelongsToTheContainersClientWindow) {
  struct Window {
    Window() {
      h = ::CreateWindowExW(0, L"STATIC", L"client", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                            nullptr, nullptr, nullptr);
    }
    ~Window() {
      if (h != nullptr) {
        ::DestroyWindow(h);
      }
    }
    HWND h = nullptr;
  };
  auto client = std::make_unique<Window>();
  ASSERT_NE(client->h, nullptr);
  const HWND handedOver = client->h;
  ASSERT_EQ(m_container->SetClientWindow(handedOver), S_OK);
  const auto key = Key(AT_SIGNATURE, 1024);

  const HWND found = ui::FindOwnerWindow(::GetCurrentProcessId());
  ASSERT_NE(found, handedOver) << "the client window must not be the one found anyway";
  for (const bool gone : {false, true}) {
    SCOPED_TRACE(gone ? "client window destroyed" : "client window set");
    if (gone) {
      client.reset();
    }
    ASSERT_EQ(g_pDeviceHandle->ResetKey(m_dev.c_str()), S_OK);
    g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
    m_ui->Push(std::string("pin ") + ProviderBench::kUserPin);
    const size_t before = Prompts("pin").size();
    EXPECT_EQ(key->CheckUserPIN(FALSE, FALSE), S_OK);
    const auto prompts = Prompts("pin");
    ASSERT_EQ(prompts.size(), before + 1);
    EXPECT_EQ(prompts.back().owner,
              gone ? ui::FindOwnerWindow(::GetCurrentProcessId()) : handedOver);
  }
}

class ManagerPin : public KeyHandleBench {};

TEST_F(ManagerPin, CheckPinCodeAsksTheAdministratorPinInItsMode) {
  m_ui->Push("pin 11111111");
  m_ui->Push(std::string("pin ") + ProviderBench::kUserPin);
  char* pszPIN = nullptr;
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 2, TRUE, TRUE, &pszPIN), S_OK);
  ASSERT_NE(pszPIN, nullptr);
  EXPECT_STREQ(pszPIN, ProviderBench::kUserPin);
  SecureWipe(pszPIN, std::strlen(pszPIN));
  delete[] pszPIN;
  const auto prompts = Prompts("pin");
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].mode, 1);
  EXPECT_EQ(prompts[0].tries, 6);
  EXPECT_EQ(prompts[1].mode, 2) << "again after a wrong PIN";
  EXPECT_EQ(prompts[1].tries, 5);
  EXPECT_EQ(Info(2).status, 0x10u);

  // Verified now: without force nothing is asked and no PIN handed out.
  pszPIN = reinterpret_cast<char*>(1);
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 2, FALSE, FALSE, &pszPIN), S_OK);
  EXPECT_EQ(pszPIN, nullptr);
  EXPECT_EQ(Prompts("pin").size(), 2u);
}

TEST_F(ManagerPin, CheckPinCodeStopsAtTheTokensCancelAndTimeOut) {
  SpendTriesUntil(3);
  const struct {
    const char* button;
    HRESULT expected;
  } cases[] = {{"cancel", SCARD_W_CANCELLED_BY_USER}, {"timeout", SCARD_E_TIMEOUT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    const size_t before = Prompts("pin").size();
    m_ui->Push(std::string("pin ") + ProviderBench::kUserPin);
    DeviceBench::Control(std::string("button 0 ") + c.button);
    EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 1, TRUE, TRUE, nullptr), c.expected);
    EXPECT_EQ(Prompts("pin").size(), before + 1) << "no dialog after the holder's answer";
    EXPECT_EQ(Info().tries, 3u);
  }
}

TEST_F(ManagerPin, CheckPinCodeWithThePinInHand) {
  DeviceBench::CommandLog(0, true);
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(Sent(kInsVerifyPin), 0u);
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 1, "11111111"), H(0x800063C5));
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 1, ProviderBench::kUserPin), S_OK);
  EXPECT_EQ(Info().status, 0x11u);
  EXPECT_TRUE(m_ui->Transcript().empty());
}

TEST_F(ManagerPin, ModifyPinWithTipRefusesBadArgumentsBeforeTheToken) {
  const BYTE* oldPin = reinterpret_cast<const BYTE*>(ProviderBench::kUserPin);
  const BYTE* newPin = reinterpret_cast<const BYTE*>("11223344");
  const struct {
    const char* name;
    const char* dev;
    const BYTE* oldPin;
    DWORD oldSize;
    const BYTE* newPin;
    DWORD newSize;
  } cases[] = {
      {"no device name", nullptr, oldPin, 8, newPin, 8},
      {"no old PIN", m_dev.c_str(), nullptr, 8, newPin, 8},
      {"old size 0", m_dev.c_str(), oldPin, 0, newPin, 8},
      {"no new PIN", m_dev.c_str(), oldPin, 8, nullptr, 8},
      {"new size 0", m_dev.c_str(), oldPin, 8, newPin, 0},
  };
  DeviceBench::CommandLog(0, true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(KeyHandle::ModifyPINWithTip(c.dev, 1, c.oldPin, c.oldSize, c.newPin, c.newSize),
              E_FAIL);
  }
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty()) << "no frame reached the token";
}

TEST_F(ManagerPin, ModifyPinWithTipChangesThePin) {
  const BYTE* oldPin = reinterpret_cast<const BYTE*>(ProviderBench::kUserPin);
  const BYTE* newPin = reinterpret_cast<const BYTE*>("11223344");
  EXPECT_EQ(KeyHandle::ModifyPINWithTip(m_dev.c_str(), 1, newPin, 8, oldPin, 8), H(0x800063C5));
  EXPECT_EQ(KeyHandle::ModifyPINWithTip(m_dev.c_str(), 1, oldPin, 8, newPin, 8), S_OK);
  EXPECT_EQ(Info().modified, 1u);
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 1, ProviderBench::kUserPin), H(0x800063C5));
  EXPECT_EQ(KeyHandle::CheckPINCode(m_dev.c_str(), 1, "11223344"), S_OK);

  // With three tries left the change waits for the token's button.
  SpendTriesUntil(3);
  DeviceBench::Control("button 0 cancel");
  EXPECT_EQ(KeyHandle::ModifyPINWithTip(m_dev.c_str(), 1, newPin, 8, oldPin, 8),
            SCARD_W_CANCELLED_BY_USER);
  ASSERT_EQ(Prompts("confirm").size(), 1u);
  EXPECT_NE(Prompts("confirm")[0].text.find(L" 3, "), std::wstring::npos);

  SpendTriesUntil(0);
  DeviceBench::CommandLog(0, true);
  EXPECT_EQ(KeyHandle::ModifyPINWithTip(m_dev.c_str(), 1, newPin, 8, oldPin, 8),
            SCARD_W_CHV_BLOCKED);
  EXPECT_EQ(Sent(kInsChangePin), 0u);
}

}  // namespace
}  // namespace merro::testing
