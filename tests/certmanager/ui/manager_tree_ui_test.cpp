// The manager with a fixture token: the tree's texts, images and item data,
// the buttons a click enables, the certificate view, the store entries (SM2
// ones only with the marker file) and their removal at a real exit.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include "certmanager/cert_tree.h"
#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/store_snapshot.h"
#include "tests/support/token_fixture.h"
#include "tests/support/ui/ui_test.h"

namespace {

using merro::certmanager::MakeTreeItemData;
using merro::test::ManagerRun;
using merro::test::ManagerString;
using merro::test::WindowRobot;

const std::wstring kNamePart = L"(CN=Zhang San 01, Probe Bank)";

std::vector<std::string> Entries(std::initializer_list<const char*> entries) {
  return std::vector<std::string>(entries.begin(), entries.end());
}

class ManagerTree : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(merro::test::StartFresh(1)); }
  void TearDown() override { merro::test::StartFresh(1); }
};

TEST_F(ManagerTree, ShowsTheTokenSelectsItemsAndKeepsTheStoreInStep) {
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, merro::testing::TokenFixture::Standard()));
  merro::test::NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(merro::test::WaitUntil([&] { return ::IsWindowVisible(main) != FALSE; }))
      << "a token is inserted: the main dialog shows";
  EXPECT_EQ(robot.Text(main), ManagerString(IDS_MAIN_TITLE));
  EXPECT_EQ(robot.Text(main, IDC_MODIFY_PIN), ManagerString(IDS_MODIFY_USER_PIN));

  struct Row {
    int depth;
    std::wstring text;
    int image;
    DWORD data;
  };
  const Row expected[] = {
      {0, L"1 " + ManagerString(IDS_DEVICES), merro::certmanager::kImageRoot, 0},
      {1, L"Probe Key", merro::certmanager::kImageToken, MakeTreeItemData(1, 0, 0)},
      {2, ManagerString(IDS_RSA2048_SIGN_CERT) + kNamePart, merro::certmanager::kImageRsaCert,
       MakeTreeItemData(2, 0, 0)},
      {2, ManagerString(IDS_RSA2048_ENCRYPT_CERT) + kNamePart, merro::certmanager::kImageRsaCert,
       MakeTreeItemData(3, 0, 0)},
      {2, ManagerString(IDS_SM2_SIGN_CERT) + kNamePart, merro::certmanager::kImageSm2Cert,
       MakeTreeItemData(2, 1, 0)},
      {2, ManagerString(IDS_SM2_ENCRYPT_CERT) + kNamePart, merro::certmanager::kImageSm2Cert,
       MakeTreeItemData(3, 1, 0)},
  };
  const std::vector<WindowRobot::TreeItem> items = robot.TreeItems(main, IDC_CERT_TREE);
  ASSERT_EQ(items.size(), std::size(expected)) << "the keys-only container shows no item";
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(merro::test::Utf8(expected[i].text));
    EXPECT_EQ(items[i].depth, expected[i].depth);
    EXPECT_EQ(items[i].text, expected[i].text);
    EXPECT_EQ(items[i].image, expected[i].image);
    EXPECT_EQ(static_cast<DWORD>(items[i].data), expected[i].data);
  }
  // Without the marker only the RSA certificates are entries.
  EXPECT_EQ(merro::test::OurStoreEntries(), Entries({"rsa-both 1", "rsa-both 2"}));

  // The token enables three commands, a certificate all four.
  ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[1].handle));
  ASSERT_TRUE(merro::test::WaitForCommandButtons(main, "1011"));
  ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[4].handle));
  ASSERT_TRUE(merro::test::WaitForCommandButtons(main, "1111"));
  robot.Screenshot(main, L"certmanager_main");
  // The root disables them again.
  ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[0].handle));
  ASSERT_TRUE(merro::test::WaitForCommandButtons(main, "0000"));

  // A double click on a certificate opens the system's certificate view.
  ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[2].handle, true));
  HWND view = merro::test::WaitForOtherDialog(main);
  ASSERT_NE(view, nullptr) << "no certificate view";
  if (merro::test::CurrentUiLanguage() == merro::test::UiLanguage::English) {
    EXPECT_EQ(robot.Text(view), L"Certificate");
  }
  robot.Screenshot(view, L"certmanager_certificate_view");
  robot.PostClose(view);
  EXPECT_TRUE(robot.WaitGone(view));

  // With the marker, the next refresh adds the SM2 certificates too.
  merro::test::SetSm2Marker(true);
  robot.PressButton(main, IDC_REFRESH);
  EXPECT_TRUE(merro::test::WaitUntil([] { return merro::test::OurStoreEntries().size() == 4; }));
  EXPECT_EQ(merro::test::OurStoreEntries(),
            Entries({"rsa-both 1", "rsa-both 2", "sm2-both 1", "sm2-both 2"}));

  // The close box only hides the window: the entries stay.
  robot.SystemClose(main);
  ASSERT_TRUE(robot.WaitGone(main));
  EXPECT_FALSE(run.WaitEnded(1000));
  EXPECT_EQ(merro::test::OurStoreEntries().size(), 4u);

  // Exit from the tray menu, confirmed: a real exit, which removes every
  // entry of this provider.
  HWND tray = recorder.TrayWindow();
  ASSERT_NE(tray, nullptr);
  robot.PostCommand(tray, ID_TRAY_EXIT);
  HWND box = merro::test::WaitForMessageBox(robot, ManagerString(IDS_TRAY_TIP));
  ASSERT_NE(box, nullptr);
  robot.PressButton(box, IDOK);
  ASSERT_TRUE(run.WaitEnded());
  EXPECT_EQ(run.ExitCode(), 1);
  EXPECT_FALSE(recorder.IconShown());
  EXPECT_TRUE(recorder.IconCallsConsistent());
  EXPECT_TRUE(merro::test::OurStoreEntries().empty());
  EXPECT_TRUE(robot.Failures().empty()) << robot.Failures().front();
}

TEST_F(ManagerTree, ACertificateWithoutDescriptionIsLeftOutAndTheRestShows) {
  // The first container's signature certificate has no key usage: no
  // description can be made for it. Everything after it still shows.
  merro::testing::FixtureToken token = merro::testing::TokenFixture::Standard();
  token.containers[0].signatureCert->keyUsage.reset();
  merro::testing::FixtureToken second;
  second.containers = {token.containers[1]};
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, token));
  merro::test::InsertOnlyTokens(2);
  ASSERT_TRUE(merro::testing::TokenFixture::Fill(1, second));
  merro::test::SetSm2Marker(true);
  WindowRobot robot;
  merro::test::NotifyRecorder recorder;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  const std::vector<std::wstring> expected = {
      L"2 " + ManagerString(IDS_DEVICES),
      L"  Probe Key",
      L"    " + ManagerString(IDS_RSA2048_ENCRYPT_CERT) + kNamePart,
      L"    " + ManagerString(IDS_SM2_SIGN_CERT) + kNamePart,
      L"    " + ManagerString(IDS_SM2_ENCRYPT_CERT) + kNamePart,
      L"  Merro30 Key",  // a token that stores no name
      L"    " + ManagerString(IDS_SM2_SIGN_CERT) + kNamePart,
      L"    " + ManagerString(IDS_SM2_ENCRYPT_CERT) + kNamePart,
  };
  EXPECT_EQ(merro::test::TreeTexts(robot, main), expected);
  // The store holds the left-out certificate all the same.
  EXPECT_EQ(merro::test::OurStoreEntries(),
            Entries({"rsa-both 1", "rsa-both 2", "sm2-both 1", "sm2-both 1", "sm2-both 2",
                     "sm2-both 2"}));
  ASSERT_TRUE(run.Exit());
}

}  // namespace
