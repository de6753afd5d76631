// The token pulled out and put back while the manager runs: the tree, the
// store, the balloons, the buttons, the window, commands that must find
// their token by name, other USB devices, and the bank's page in the
// browser.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>

#include <fstream>
#include <sstream>
#include <string>

#include "certmanager/device_change.h"
#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "tests/certmanager/ui/manager_commands_fixture.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/store_snapshot.h"
#include "tests/support/token_fixture.h"
#include "tools/simplug/device_broadcast.h"

namespace {

using merro::test::ManagerRun;
using merro::test::ManagerString;
using merro::test::NotifyCall;
using merro::test::WindowRobot;
using merro::testing::DeviceBench;

std::wstring TokenInterface(int i) {
  return merro::simplug::UsbInterfaceName(
      merro::simplug::ChipSerialOfDevicePath(DeviceBench::DeviceName(i)));
}

// What the system would do: the simulator's "pull"/"insert", then the
// broadcast to the main dialog.
void PullToken(HWND main) {
  DeviceBench::Pull(0);
  EXPECT_TRUE(merro::simplug::SendDeviceChange(main, DBT_DEVICEREMOVECOMPLETE, TokenInterface(0), 30000));
}
void InsertToken(HWND main) {
  DeviceBench::Insert(0);
  EXPECT_TRUE(merro::simplug::SendDeviceChange(main, DBT_DEVICEARRIVAL, TokenInterface(0), 30000));
}

std::vector<std::wstring> Balloons(const merro::test::NotifyRecorder& recorder) {
  std::vector<std::wstring> out;
  for (const NotifyCall& call : recorder.Calls(NIM_MODIFY)) {
    if ((call.uFlags & NIF_INFO) != 0) {
      out.push_back(call.infoTitle + L": " + call.info);
    }
  }
  return out;
}

class ManagerDeviceChange : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(merro::test::StartFresh(1));
    ASSERT_TRUE(merro::testing::TokenFixture::Fill(0, merro::testing::TokenFixture::Standard()));
  }
  void TearDown() override { merro::test::StartFresh(1); }
};

TEST_F(ManagerDeviceChange, RemovalAndArrivalRebuildTreeStoreAndButtons) {
  merro::test::NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(merro::test::OurStoreEntries().size(), 2u);
  const std::vector<WindowRobot::TreeItem> items = robot.TreeItems(main, IDC_CERT_TREE);
  ASSERT_GE(items.size(), 3u);
  ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[2].handle));
  ASSERT_TRUE(merro::test::WaitForCommandButtons(main, "1111"));

  // Another USB device comes and goes: nothing changes.
  const std::wstring other = merro::simplug::UsbInterfaceName("0123", 0x1234, 0x0301);
  ASSERT_TRUE(merro::simplug::SendDeviceChange(main, DBT_DEVICEARRIVAL, other, 30000));
  EXPECT_EQ(robot.TreeItems(main, IDC_CERT_TREE).size(), items.size());
  EXPECT_TRUE(Balloons(recorder).empty());
  EXPECT_EQ(merro::test::CommandButtons(main), "1111");

  PullToken(main);
  EXPECT_EQ(merro::test::TreeTexts(robot, main), std::vector<std::wstring>{ManagerString(IDS_NO_DEVICE)});
  EXPECT_TRUE(merro::test::OurStoreEntries().empty());
  EXPECT_EQ(merro::test::CommandButtons(main), "0000");
  EXPECT_EQ(Balloons(recorder), std::vector<std::wstring>{ManagerString(IDS_BALLOON_TITLE) + L": " +
                                                         ManagerString(IDS_KEY_REMOVED)});
  const NotifyCall removed = recorder.Calls(NIM_MODIFY).back();
  EXPECT_EQ(removed.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
  EXPECT_EQ(removed.infoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(removed.timeout, 3000u);

  // Hidden meanwhile, the window comes back with the token.
  ::ShowWindow(main, SW_HIDE);
  recorder.Clear();
  InsertToken(main);
  EXPECT_TRUE(::IsWindowVisible(main));
  EXPECT_EQ(robot.TreeItems(main, IDC_CERT_TREE).size(), items.size());
  EXPECT_EQ(merro::test::OurStoreEntries().size(), 2u);
  EXPECT_EQ(Balloons(recorder), std::vector<std::wstring>{ManagerString(IDS_BALLOON_TITLE) + L": " +
                                                         ManagerString(IDS_KEY_INSERTED)});
  EXPECT_TRUE(recorder.IconCallsConsistent(true)) << "the icon was never flagged removed";
  EXPECT_TRUE(robot.Failures().empty()) << robot.Failures().front();
}

TEST_F(ManagerDeviceChange, ACommandAfterARebuildFindsNoRememberedToken) {
  // A certificate of the token is selected; the token goes and comes back.
  // The hidden Initialize command must not act on whatever token now has
  // the remembered index: the selection went with the old tree.
  merro::test::NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  const std::vector<WindowRobot::TreeItem> items = robot.TreeItems(main, IDC_CERT_TREE);
  ASSERT_GE(items.size(), 3u);
  ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[1].handle));
  ASSERT_TRUE(merro::test::WaitUntil([&] { return merro::test::ButtonEnabled(main, IDC_MODIFY_PIN); }));
  PullToken(main);
  InsertToken(main);

  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_INITIALIZE, BN_CLICKED), 0);
  HWND box = merro::test::WaitForMessageBox(robot, ManagerString(IDS_INITIALIZE_KEY));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(robot.Text(box, WindowRobot::kMessageBoxText), ManagerString(IDS_SELECT_KEY));
  robot.PressButton(box, IDOK);
  EXPECT_TRUE(robot.WaitGone(box));
  EXPECT_EQ(robot.TreeItems(main, IDC_CERT_TREE).size(), items.size()) << "the token is untouched";
  EXPECT_TRUE(robot.Failures().empty()) << robot.Failures().front();
}

// The rename dialog stands while a device change rebuilds the tree, which
// clears the selection: the typed name still reaches the token it was typed
// for, and when that token has gone by then, box 112 says so.
TEST_F(ManagerDeviceChange, ARenameOutlivesARebuildAndIsToldWhenItsTokenWent) {
  merro::test::NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  const std::string before = merro::test::TokenName();
  struct Case {
    const char* what;
    bool back;  // the token is put back before OK
    const wchar_t* typed;
  } const cases[] = {{"token back", true, L"renamed1"}, {"token gone", false, L"renamed2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<WindowRobot::TreeItem> items = robot.TreeItems(main, IDC_CERT_TREE);
    ASSERT_GE(items.size(), 2u);
    ASSERT_TRUE(robot.ClickTreeItem(main, IDC_CERT_TREE, items[1].handle));
    ASSERT_TRUE(merro::test::WaitUntil([&] { return merro::test::ButtonEnabled(main, IDC_MOD_DEV_NAME); }));
    robot.PostCommand(main, IDC_MOD_DEV_NAME);
    HWND dlg = robot.WaitForDialog(::GetCurrentProcessId(), IDC_NEW_DEV_NAME);
    ASSERT_NE(dlg, nullptr);
    robot.Settle(dlg);
    robot.Type(dlg, c.typed);
    PullToken(main);
    if (c.back) {
      InsertToken(main);
    }
    robot.PressButton(dlg, IDOK);
    ASSERT_TRUE(robot.WaitGone(dlg));
    if (c.back) {
      EXPECT_TRUE(merro::test::WaitUntil([&] {
        const std::vector<std::wstring> texts = merro::test::TreeTexts(robot, main);
        return texts.size() > 1 && texts[1].find(c.typed) != std::wstring::npos;
      })) << "the tree shows the new name";
      EXPECT_EQ(merro::test::TokenName(), "renamed1");
    } else {
      // The box's caption is the main window's title: found by its text.
      HWND box = robot.WaitForDialog(::GetCurrentProcessId(), WindowRobot::kMessageBoxText);
      ASSERT_NE(box, nullptr) << "the lost token is told";
      EXPECT_EQ(robot.Text(box), ManagerString(IDS_APP_TITLE));
      EXPECT_EQ(robot.Text(box, WindowRobot::kMessageBoxText), ManagerString(IDS_SELECT_KEY));
      robot.PressButton(box, IDOK);
      EXPECT_TRUE(robot.WaitGone(box));
      InsertToken(main);
      EXPECT_EQ(merro::test::TokenName(), "renamed1") << "nothing was written";
    }
  }
  EXPECT_NE(before, "renamed1");
  EXPECT_TRUE(robot.Failures().empty()) << robot.Failures().front();
}

// The prefix's browser replaced by a recorder that writes its command line
// into a file, and put back afterwards.
class BrowserRecorder {
 public:
  BrowserRecorder() {
    const std::wstring recorder = merro::test::PathFromEnvironment("MERRO_BROWSER_RECORDER");
    // One record per test process: the language runs share the recorder
    // program and run at the same time, each in its own Wine prefix, where
    // process ids repeat, so the language is part of the name.
    wchar_t language[32] = L"";
    ::GetEnvironmentVariableW(L"MERRO_UI_LANG", language, 32);
    m_record = recorder + L"." + language + L"." + std::to_wstring(::GetCurrentProcessId()) +
               L".record.txt";
    ::DeleteFileW(m_record.c_str());
    ::SetEnvironmentVariableW(L"MERRO_BROWSER_RECORD", m_record.c_str());
    m_swapped = !recorder.empty() &&
                ::MoveFileExW(merro::certmanager::kBrowserPath, Backup().c_str(),
                              MOVEFILE_REPLACE_EXISTING) &&
                ::CopyFileW(recorder.c_str(), merro::certmanager::kBrowserPath, FALSE);
  }
  ~BrowserRecorder() {
    ::MoveFileExW(Backup().c_str(), merro::certmanager::kBrowserPath, MOVEFILE_REPLACE_EXISTING);
    ::DeleteFileW(m_record.c_str());
  }
  bool Ready() const { return m_swapped; }
  bool Recorded() const { return ::GetFileAttributesW(m_record.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::wstring CommandLine() const {
    std::wifstream in(m_record.c_str());
    std::wstringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  static std::wstring Backup() { return std::wstring(merro::certmanager::kBrowserPath) + L".merro-backup"; }
  std::wstring m_record;
  bool m_swapped = false;
};

TEST_F(ManagerDeviceChange, ArrivalWithoutTheFlagFileOpensTheBankPage) {
  BrowserRecorder browser;
  ASSERT_TRUE(browser.Ready()) << "MERRO_BROWSER_RECORDER names the recorder program";
  merro::test::SetFlagFile(false);

  {
    merro::test::NotifyRecorder icons;
    WindowRobot robot;
    ManagerRun run;
    // The never-changed PIN is told at the start without the flag file.
    HWND box = merro::test::WaitForMessageBox(robot, ManagerString(IDS_DEFAULT_PIN_DETECTED));
    ASSERT_NE(box, nullptr);
    robot.PressButton(box, IDOK);
    HWND main = run.MainDialog();
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(merro::test::WaitUntil([&] { return browser.Recorded(); }, 1000))
        << "no page at the start";
    PullToken(main);
    DeviceBench::Insert(0);
    // The arrival shows the box again; the page opens after it.
    std::thread arrival([&] {
      merro::simplug::SendDeviceChange(main, DBT_DEVICEARRIVAL, TokenInterface(0), 60000);
    });
    box = merro::test::WaitForMessageBox(robot, ManagerString(IDS_DEFAULT_PIN_DETECTED));
    if (box != nullptr) {
      robot.PressButton(box, IDOK);
    }
    arrival.join();
    EXPECT_NE(box, nullptr);
    EXPECT_TRUE(merro::test::WaitUntil([&] { return browser.Recorded(); }));
  }
  const std::wstring commandLine = browser.CommandLine();
  EXPECT_NE(commandLine.find(merro::certmanager::kBankPage), std::wstring::npos)
      << merro::test::Utf8(commandLine);
}

}  // namespace
