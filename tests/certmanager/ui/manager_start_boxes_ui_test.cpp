// The boxes at the start: the never-changed PIN (only without the bank's
// flag file) and the certificate that expires soon or has expired; none on
// a refresh.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "provider/cert_store.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/store_snapshot.h"
#include "tests/support/token_fixture.h"

namespace {

using merro::test::ManagerRun;
using merro::test::ManagerString;
using merro::test::WindowRobot;

// "<caption>|<text>" of a box.
std::wstring Box(UINT captionId, const std::wstring& text) {
  return ManagerString(captionId) + L"|" + text;
}

// The expiry text with the certificate's NotAfter date (no time-zone shift).
std::wstring DateText(UINT formatId, const merro::testing::CertBytes& der) {
  merro::provider::CertContext cert =
      merro::provider::CertContext::FromEncoded(der.data(), static_cast<DWORD>(der.size()));
  SYSTEMTIME date{};
  if (!cert || !::FileTimeToSystemTime(&cert->pCertInfo->NotAfter, &date)) {
    return L"(no date)";
  }
  wchar_t text[1024] = {};
  std::swprintf(text, 1024, ManagerString(formatId).c_str(), date.wYear, date.wMonth, date.wDay);
  return text;
}

struct Case {
  const char* name;
  bool flagFile;
  double notAfterDays;  // of the one certificate on the token
  bool defaultPinBox;
  UINT dateFormat;  // 0: no date box
};

class ManagerStartBoxes : public ::testing::TestWithParam<Case> {};

TEST_P(ManagerStartBoxes, AreShownAtTheStartOnly) {
  const Case& c = GetParam();
  ASSERT_TRUE(merro::test::StartFresh(1, c.flagFile));
  merro::testing::FixtureToken token;
  merro::testing::FixtureContainer container;
  container.name = "dated";
  container.algorithm = merro::testing::FixtureAlgorithm::Rsa1024;
  container.signatureKey = false;
  container.exchangeCert = merro::testing::EncryptionCertificate();
  container.exchangeCert->notAfterDays = c.notAfterDays;
  token.containers = {container};
  merro::testing::FilledToken filled;
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, token, &filled));

  std::vector<std::wstring> expected;
  if (c.defaultPinBox) {
    expected.push_back(Box(IDS_DEFAULT_PIN_DETECTED, ManagerString(IDS_DEFAULT_USER_PIN)));
  }
  if (c.dateFormat != 0) {
    expected.push_back(
        Box(IDS_CERT_VALIDITY_CHECK, DateText(c.dateFormat, filled.containers[0].exchangeCert)));
  }

  merro::test::NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  std::vector<std::wstring> shown;
  // The boxes come one after the other while the main dialog starts.
  for (size_t i = 0; i < expected.size(); ++i) {
    HWND box = robot.WaitForDialog(::GetCurrentProcessId(), WindowRobot::kMessageBoxText);
    if (box == nullptr) {
      break;
    }
    shown.push_back(robot.Text(box) + L"|" + robot.Text(box, WindowRobot::kMessageBoxText));
    robot.Screenshot(box, L"certmanager_start_box_" + std::to_wstring(i) + L"_" +
                              std::wstring(c.name, c.name + std::strlen(c.name)));
    robot.PressButton(box, IDOK);
    robot.WaitGone(box);
  }
  EXPECT_EQ(shown, expected);
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);

  // A refresh shows none of them again.
  robot.PressButton(main, IDC_REFRESH);
  HWND late = nullptr;
  merro::test::WaitUntil(
      [&] {
        late = merro::test::WaitForOtherDialog(main, 0);
        return late != nullptr;
      },
      2000);
  EXPECT_EQ(late, nullptr) << "a box on refresh: " << merro::test::Utf8(robot.Text(late, WindowRobot::kMessageBoxText));
  if (late != nullptr) {
    robot.PressButton(late, IDOK);
  }
  ASSERT_TRUE(run.Exit());
  merro::test::SetFlagFile(true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManagerStartBoxes,
    ::testing::Values(Case{"default_pin", false, 365, true, 0},
                      Case{"flag_file", true, 365, false, 0},
                      Case{"expiring", true, 10, false, IDS_CERT_EXPIRING},
                      Case{"expired", false, -1, true, IDS_CERT_EXPIRED}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
