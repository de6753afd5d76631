// The manager without a token: it starts in the tray, its icon answers the
// mouse, its menu offers the main window and the exit, and the exit asks
// first.
#include <gtest/gtest.h>

#include "certmanager/manager_thread_param.h"
#include "certmanager/notify_icon.h"
#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "tests/certmanager/ui/manager_ui_support.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/ui/ui_test.h"

namespace {

using merro::test::ManagerRun;
using merro::test::ManagerString;
using merro::test::NotifyCall;
using merro::test::NotifyRecorder;
using merro::test::WindowRobot;

TEST(ManagerTray, WithoutTokenOnlyTheIconShowsAndExitAsksFirst) {
  ASSERT_TRUE(merro::test::StartFresh(0));
  NotifyRecorder recorder;
  WindowRobot robot;
  ManagerRun run;
  HWND main = run.MainDialog();
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(::IsWindowVisible(main)) << "no token: the manager starts in the tray";

  // The icon: added once, with the record's x64 size, the callback message
  // and an icon.
  ASSERT_TRUE(merro::test::WaitUntil([&] { return recorder.TrayWindow() != nullptr; }));
  const std::vector<NotifyCall> adds = recorder.Calls(NIM_ADD);
  ASSERT_GE(adds.size(), 1u);
  EXPECT_TRUE(recorder.IconCallsConsistent()) << "never added while it is there";
  EXPECT_EQ(adds[0].cbSize, merro::certmanager::kNotifyIconDataSize);
  EXPECT_EQ(adds[0].cbSize, 968u);
  EXPECT_EQ(adds[0].uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(adds[0].uCallbackMessage, WM_TRAYNOTIFY);
  HWND tray = recorder.TrayWindow();
  EXPECT_FALSE(::IsWindowVisible(tray));
  // The modal loop shows a hidden dialog at its first empty queue: had the
  // window come up, it would have been by now.
  ASSERT_TRUE(merro::test::WaitForMessageLoop(tray));
  EXPECT_FALSE(recorder.TrayWindowShown()) << "the tray window flickered up at start";

  // Hovering sets the tip.
  ::SendMessageW(tray, WM_TRAYNOTIFY, 0, WM_MOUSEMOVE);
  const std::vector<NotifyCall> modifies = recorder.Calls(NIM_MODIFY);
  ASSERT_EQ(modifies.size(), 1u);
  EXPECT_EQ(modifies[0].tip, ManagerString(IDS_TRAY_TIP));
  EXPECT_EQ(modifies[0].uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));

  // The tree and the buttons without a token.
  EXPECT_EQ(merro::test::TreeTexts(robot, main), std::vector<std::wstring>{ManagerString(IDS_NO_DEVICE)});
  if (merro::test::CurrentUiLanguage() == merro::test::UiLanguage::SimplifiedChinese) {
    EXPECT_EQ(ManagerString(IDS_NO_DEVICE), L"\u65e0\u8bbe\u5907");
  }
  EXPECT_EQ(merro::test::CommandButtons(main), "0000");
  for (const int id : {IDC_INITIALIZE, IDC_UNLOCK_PIN}) {
    EXPECT_FALSE(merro::test::ButtonVisible(main, id)) << id;
  }

  // The right button: the menu, its default item first, then a separator
  // and the exit.
  ::PostMessageW(tray, WM_TRAYNOTIFY, 0, WM_RBUTTONUP);
  HWND menu = robot.WaitForMenu();
  ASSERT_NE(menu, nullptr);
  const std::vector<WindowRobot::MenuItem> items = robot.MenuItems(menu);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].id, static_cast<UINT>(ID_TRAY_OPEN_MAIN));
  EXPECT_TRUE(items[0].isDefault);
  EXPECT_TRUE(items[1].separator);
  EXPECT_EQ(items[2].id, static_cast<UINT>(ID_TRAY_EXIT));
  robot.CloseMenu(menu);
  EXPECT_TRUE(robot.WaitGone(menu));

  // Exit, then Cancel: the manager goes on.
  robot.PostCommand(tray, ID_TRAY_EXIT);
  HWND box = merro::test::WaitForMessageBox(robot, ManagerString(IDS_TRAY_TIP));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(robot.Text(box, WindowRobot::kMessageBoxText), ManagerString(IDS_CONFIRM_EXIT));
  robot.Screenshot(box, L"certmanager_exit_confirm");
  robot.PressButton(box, IDCANCEL);
  EXPECT_TRUE(robot.WaitGone(box));
  EXPECT_FALSE(run.WaitEnded(1500));
  EXPECT_TRUE(recorder.IconShown());

  // Exit, then OK: a real exit with code 1 and the icon deleted.
  robot.PostCommand(tray, ID_TRAY_EXIT);
  box = merro::test::WaitForMessageBox(robot, ManagerString(IDS_TRAY_TIP));
  ASSERT_NE(box, nullptr);
  robot.PressButton(box, IDOK);
  ASSERT_TRUE(run.WaitEnded());
  EXPECT_EQ(run.ExitCode(), 1);
  EXPECT_FALSE(recorder.IconShown());
  EXPECT_TRUE(recorder.IconCallsConsistent());
  EXPECT_FALSE(::IsWindow(main));
  EXPECT_FALSE(recorder.TrayWindowShown()) << "menu and message boxes leave the tray window hidden";
  EXPECT_TRUE(robot.Failures().empty()) << robot.Failures().front();
  merro::test::InsertOnlyTokens(1);
}

}  // namespace
