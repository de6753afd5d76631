// The dialog and subclassing bases with a real small dialog, worked by the
// robot: states, results, the catch-all guard, WM_CLOSE, a subclassed edit
// and a drag of a caption-less style window, plus the robot's screenshot.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/ui/dialog_base.h"
#include "foundation/win/image_load.h"
#include "tests/device/ui/base_test_ids.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;
using merro::ui::DialogImpl;
using merro::ui::DialogState;
using merro::ui::SubclassedWindow;

// Swallows the character 'x' and throws on 'z' (the guard then hands the
// message on); everything else reaches the edit control.
class NoXEdit : public SubclassedWindow {
 public:
  int finalMessages = 0;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CHAR && (wParam == L'x' || wParam == L'X')) {
      return 0;
    }
    if (message == WM_CHAR && wParam == L'z') {
      throw std::runtime_error("a subclass handler failed");
    }
    return CallOriginal(message, wParam, lParam);
  }
  void OnFinalMessage() override { ++finalMessages; }
};

class BaseTestDlg : public DialogImpl<BaseTestDlg> {
 public:
  enum { IDD = IDD_BASE_TEST };
  LPARAM seenInitParam = 0;
  DialogState stateInInit = DialogState::NeverInitialised;
  bool endAtOnce = false;
  bool subclassEdit = false;
  bool unsubclassAgain = false;
  bool dragAnywhere = false;
  std::vector<WORD> commands;
  NoXEdit edit;

 protected:
  BOOL OnInitDialog() override {
    seenInitParam = InitParam();
    stateInInit = State();
    if (subclassEdit) {
      edit.SubclassWindow(::GetDlgItem(Window(), IDC_BASE_EDIT));
      if (unsubclassAgain) {
        edit.UnsubclassWindow();
      }
    }
    if (endAtOnce) {
      ::PostMessageW(Window(), WM_COMMAND, IDC_BASE_END, 0);
    }
    return TRUE;
  }
  bool OnCommand(WORD id, WORD, HWND) override {
    if (id == IDC_BASE_EDIT) {
      return false;  // the edit's own notifications
    }
    commands.push_back(id);
    if (id == IDC_BASE_THROW) {
      throw std::runtime_error("a handler failed");
    }
    if (id == IDC_BASE_END || id == IDCANCEL) {
      EndDialog(id == IDCANCEL ? IDCANCEL : 42);
      return true;
    }
    return false;
  }
  bool OnMessage(UINT message, WPARAM, LPARAM, INT_PTR*) override {
    if (dragAnywhere && message == WM_LBUTTONDOWN) {
      // A press anywhere drags the window, as on a caption.
      ::SendMessageW(Window(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return true;
    }
    return false;
  }
};

class MissingDlg : public DialogImpl<MissingDlg> {
 public:
  enum { IDD = 999 };
};

TEST(DialogBase, StatesAndResult) {
  BaseTestDlg dialog;
  EXPECT_EQ(dialog.State(), DialogState::NeverInitialised);
  EXPECT_FALSE(dialog.EndDialog(1)) << "not up yet";
  dialog.endAtOnce = true;
  EXPECT_EQ(dialog.DoModal(nullptr, 0x1234), 42);
  EXPECT_EQ(dialog.seenInitParam, 0x1234);
  EXPECT_EQ(dialog.stateInInit, DialogState::Running);
  EXPECT_EQ(dialog.State(), DialogState::Ended);
  EXPECT_EQ(dialog.Window(), nullptr) << "the window is gone after the modal call";
  EXPECT_FALSE(dialog.EndDialog(1)) << "already ended";
}

TEST(DialogBase, MissingTemplateIsNeverInitialised) {
  MissingDlg dialog;
  EXPECT_EQ(dialog.DoModal(nullptr), -1);
  EXPECT_EQ(dialog.State(), DialogState::NeverInitialised);
}

TEST(DialogBase, ExceptionInAHandlerLeavesTheDialogWorking) {
  BaseTestDlg dialog;
  RobotThread robot([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_BASE_THROW);
    r.Require(dlg != nullptr, "the test dialog");
    r.PressButton(dlg, IDC_BASE_THROW);
    ::Sleep(100);
    r.Check(::IsWindowVisible(dlg) != FALSE, "the dialog is still up after the exception");
    r.PressButton(dlg, IDC_BASE_END);
  });
  EXPECT_EQ(dialog.DoModal(nullptr), 42);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(dialog.commands, (std::vector<WORD>{IDC_BASE_THROW, IDC_BASE_END}));
}

TEST(DialogBase, UnhandledCloseArrivesAsCancel) {
  BaseTestDlg dialog;
  RobotThread robot([](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_BASE_END);
    r.Require(dlg != nullptr, "the test dialog");
    r.SystemClose(dlg);
  });
  EXPECT_EQ(dialog.DoModal(nullptr), IDCANCEL);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
}

TEST(DialogBase, SubclassedEditSeesTypedKeysFirst) {
  const struct {
    bool unsubclass;
    const char* text;    // what the edit holds after "aXb1xz" was typed
    int finalMessages;   // OnFinalMessage calls at the window's end
  } cases[] = {
      {false, "ab1z", 1},   // x swallowed; z reached the edit through the guard
      {true, "aXb1xz", 0},  // removed again at once: the edit gets everything
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unsubclass ? "unsubclassed" : "subclassed");
    BaseTestDlg dialog;
    dialog.subclassEdit = true;
    dialog.unsubclassAgain = c.unsubclass;
    RobotThread robot([&c](WindowRobot& r) {
      HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_BASE_EDIT);
      r.Require(dlg != nullptr, "the test dialog");
      r.Require(r.Type(dlg, L"aXb1xz"), "typing");
      // The keys reach the edit after SendInput returned: wait for them.
      merro::test::WaitUntil(
          [&] { return merro::test::Utf8(r.Text(dlg, IDC_BASE_EDIT)) == c.text; });
      r.Note(merro::test::Utf8(r.Text(dlg, IDC_BASE_EDIT)));
      r.PressButton(dlg, IDC_BASE_END);
    });
    EXPECT_EQ(dialog.DoModal(nullptr), 42);
    robot.Join();
    EXPECT_EQ(robot.Failures(), std::vector<std::string>());
    EXPECT_EQ(robot.Notes(), std::vector<std::string>{c.text});
    EXPECT_EQ(dialog.edit.finalMessages, c.finalMessages);
    EXPECT_EQ(dialog.edit.Window(), nullptr);
  }
}

// Shapes other dialog tests rely on: a drag moves a window that drags from
// anywhere, and a screenshot is the picture on the screen, not a blank one.
TEST(DialogBase, RobotDragsAndTakesScreenshots) {
  BaseTestDlg dialog;
  dialog.dragAnywhere = true;
  RECT before = {}, after = {};
  std::wstring shot;
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_BASE_END);
    r.Require(dlg != nullptr, "the test dialog");
    shot = r.Screenshot(dlg, L"dialog_base");
    ::GetWindowRect(dlg, &before);
    r.Drag(dlg, POINT{200, 48}, 60, 40);  // between the edit and the buttons
    ::GetWindowRect(dlg, &after);
    r.PressButton(dlg, IDC_BASE_END);
  });
  EXPECT_EQ(dialog.DoModal(nullptr), 42);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(after.left - before.left, 60);
  EXPECT_EQ(after.top - before.top, 40);

  if (std::getenv("MERRO_UI_SHOTS") == nullptr) {
    GTEST_SKIP() << "MERRO_UI_SHOTS not set: no screenshot taken";
  }
  ASSERT_FALSE(shot.empty());
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  {
    Gdiplus::Bitmap image(shot.c_str());
    ASSERT_EQ(image.GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(static_cast<LONG>(image.GetWidth()), before.right - before.left);
    // A real picture of the dialog has more than one colour.
    Gdiplus::Color first, other;
    image.GetPixel(0, 0, &first);
    bool varied = false;
    for (UINT y = 0; y < image.GetHeight() && !varied; y += 3) {
      for (UINT x = 0; x < image.GetWidth() && !varied; x += 3) {
        image.GetPixel(x, y, &other);
        varied = other.GetValue() != first.GetValue();
      }
    }
    EXPECT_TRUE(varied) << "the screenshot is one colour";
  }
  Gdiplus::GdiplusShutdown(token);
}

}  // namespace
