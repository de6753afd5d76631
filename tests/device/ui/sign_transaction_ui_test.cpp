// SignXMLMsg with the real transaction dialog, against a simulated token
// whose button is held: the dialog stands, owned by the caller's active
// window and showing the transaction text in the run's language, until the
// token answers; a close request in between does not end the signature.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/key_containers.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/ui_test.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::testing {
namespace {

using merro::test::RobotThread;
using merro::test::Utf8;
using merro::test::WindowRobot;

constexpr char kContainer[] = "ui-sm2";

std::wstring TransactionTips() {
  wchar_t text[260] = {};
  ::LoadStringW(merro::win::ThisModule(), IDS_TRANSACTION_TIPS, text, 260);
  return text;
}

// A plain top-level window of the test's thread, made its active window.
class ActiveWindow {
 public:
  ActiveWindow() {
    m_hwnd = ::CreateWindowExW(0, L"STATIC", L"Merro signing test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               40, 40, 320, 200, nullptr, nullptr, nullptr, nullptr);
    if (m_hwnd != nullptr) {
      ::SetForegroundWindow(m_hwnd);
      ::SetActiveWindow(m_hwnd);
    }
  }
  ~ActiveWindow() {
    if (m_hwnd != nullptr) {
      ::DestroyWindow(m_hwnd);
    }
  }
  ActiveWindow(const ActiveWindow&) = delete;
  ActiveWindow& operator=(const ActiveWindow&) = delete;
  HWND get() const { return m_hwnd; }

 private:
  HWND m_hwnd = nullptr;
};

class RealTransactionDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    DeviceBench::Insert(0);
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_TRUE(MakeKeyContainer(0, {kContainer, MR_ALG_SM2, MR_ALG_SM2}, &s_keys));
  }
  void SetUp() override {
    DeviceBench::Control("button 0 clear");
    m_dev = DeviceBench::DeviceName(0);
    m_providerName = L"Merro signing UI test " + std::to_wstring(::GetCurrentProcessId());
    m_settings = DefaultProviderSettings(FALSE);
    m_settings.pwszProviderName = m_providerName.c_str();
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
    ASSERT_EQ(m_handle.CheckPIN(m_dev.c_str(), 1, DeviceBench::kFactoryPin, 8, 6, 0), S_OK);
  }
  void TearDown() override {
    DeviceBench::Control("button 0 clear");
    m_handle.UnInitialize();
  }

  HRESULT Sign(const Bytes& message, Bytes* pSignature) {
    BYTE* p = nullptr;
    DWORD n = 0;
    const HRESULT hr = m_handle.SignXMLMsg(m_dev.c_str(), kContainer, AT_SIGNATURE, CALG_SM3,
                                           message.data(), static_cast<DWORD>(message.size()), &p, &n);
    if (p != nullptr) {
      pSignature->assign(p, p + n);
      delete[] p;
    }
    return hr;
  }
  bool Verifies(const Bytes& message, const Bytes& signature) {
    return Sm2VerifyMessage(Sm2PublicKey(s_keys.sign.xy).get(), message, signature);
  }

  static KeyContainer s_keys;
  device::DeviceHandle m_handle;
  std::string m_dev;
  std::wstring m_providerName;
  ProviderSettings m_settings{};
};
KeyContainer RealTransactionDialog::s_keys;

TEST_F(RealTransactionDialog, StandsOwnedByTheActiveWindowUntilTheTokenAnswers) {
  const ActiveWindow owner;
  ASSERT_NE(owner.get(), nullptr);
  ASSERT_EQ(::GetActiveWindow(), owner.get());
  const std::wstring tips = TransactionTips();
  ASSERT_FALSE(tips.empty());
  if (merro::test::CurrentUiLanguage() == merro::test::UiLanguage::English) {
    EXPECT_EQ(tips.rfind(L"          Information Confirmation\n", 0), 0u);
  }
  const Bytes message = {'<', 'S', 'i', 'g', 'n', 'D', 'a', 't', 'a', '/', '>'};
  DeviceBench::Control("button 0 hold");
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_TOKEN_PICTURE);
    r.Require(dlg != nullptr, "the transaction dialog");
    r.Check(r.Text(dlg, IDC_CONFIRM_TEXT) == tips, "text: " + Utf8(r.Text(dlg, IDC_CONFIRM_TEXT)));
    r.Check(::GetWindow(dlg, GW_OWNER) == owner.get(), "owned by the caller's active window");
    ::Sleep(300);
    r.Check(::IsWindowVisible(dlg) != FALSE, "still up while the token waits");
    DeviceBench::Control("button 0 release ok");
    r.Check(r.WaitGone(dlg), "gone once the token answered");
  });
  Bytes signature;
  EXPECT_EQ(Sign(message, &signature), S_OK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  ASSERT_EQ(signature.size(), 64u);
  EXPECT_TRUE(Verifies(message, signature));
}

TEST_F(RealTransactionDialog, ACloseRequestWaitsForTheTokensAnswer) {
  const Bytes message = {'<', 'S', 'i', 'g', 'n', 'D', 'a', 't', 'a', '>', '9', '<', '/', 'S',
                         'i', 'g', 'n', 'D', 'a', 't', 'a', '>'};
  std::atomic<ULONGLONG> releaseTick{0};
  DeviceBench::Control("button 0 hold");
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_TOKEN_PICTURE);
    r.Require(dlg != nullptr, "the transaction dialog");
    ::Sleep(200);
    r.SystemClose(dlg);  // Alt+F4
    ::Sleep(1000);
    r.Check(::IsWindow(dlg) && ::IsWindowVisible(dlg), "still up while the token waits");
    releaseTick = ::GetTickCount64();
    DeviceBench::Control("button 0 release ok");
    r.Check(r.WaitGone(dlg), "gone once the token answered");
  });
  Bytes signature;
  EXPECT_EQ(Sign(message, &signature), S_OK);
  const ULONGLONG returnTick = ::GetTickCount64();
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  ASSERT_NE(releaseTick.load(), 0u);
  EXPECT_GE(returnTick, releaseTick.load()) << "returned before the token answered";
  ASSERT_EQ(signature.size(), 64u);
  EXPECT_TRUE(Verifies(message, signature));
}

}  // namespace
}  // namespace merro::testing
