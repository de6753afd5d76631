// The PIN dialog for real, through Win32UserInterface::AskPin, typed into by
// the robot in the run's language: what each keystroke gives, the texts of
// the modes, how the dialog ends, what other programs can read, and a field
// whose hook cannot be installed.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "device/ui/pin_dialog.h"
#include "device/ui/win32_user_interface.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/ui/hook_counter.h"
#include "tests/support/ui/robot_program.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/tries_texts.h"

namespace {

using merro::SecretBytes;
using merro::test::HookCounter;
using merro::test::RobotProgram;
using merro::test::RobotThread;
using merro::test::Utf8;
using merro::test::WindowRobot;

constexpr HRESULT kCancelled = SCARD_W_CANCELLED_BY_USER;

// One keystroke: `key` alone, or held inside `modifier`.
struct Stroke {
  WORD modifier;
  WORD key;
};

struct Strokes {
  std::vector<Stroke> list;
  Strokes& Key(WORD vk) {
    list.push_back({0, vk});
    return *this;
  }
  Strokes& Chord(WORD modifier, WORD vk) {
    list.push_back({modifier, vk});
    return *this;
  }
  // Digits and letters by their keys (a letter's key is its capital).
  Strokes& Text(const char* text) {
    for (; *text != '\0'; ++text) {
      Key(static_cast<WORD>(std::toupper(static_cast<unsigned char>(*text))));
    }
    return *this;
  }
};

bool OnlyAsterisks(const std::wstring& text) {
  return text.find_first_not_of(L'*') == std::wstring::npos;
}

std::wstring LoadText(UINT id) {
  wchar_t text[260] = {};
  ::LoadStringW(merro::win::ThisModule(), id, text, 260);
  return text;
}

struct PinOutcome {
  HRESULT hr;
  std::string pin;
  std::vector<std::string> failures;
};

// Shows the dialog through the UI seam while `script` works it.
PinOutcome AskPin(int mode, int tries, const std::function<void(WindowRobot&, HWND)>& script) {
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_PIN_EDIT);
    r.Require(dlg != nullptr, "the PIN dialog");
    r.Settle(dlg);
    script(r, dlg);
  });
  merro::ui::Win32UserInterface ui;
  SecretBytes pin;
  const HRESULT hr = ui.AskPin({nullptr, mode, tries, nullptr}, &pin);
  robot.Join();
  return {hr, std::string(pin.data(), pin.data() + pin.size()), robot.Failures()};
}

// Sends the strokes one by one; after each the field must show asterisks only.
void Type(WindowRobot& r, HWND dlg, const std::vector<Stroke>& strokes) {
  for (const Stroke& s : strokes) {
    if (s.modifier != 0) {
      r.Chord(dlg, s.modifier, s.key);
    } else {
      r.Keys(dlg, {s.key});
    }
    const std::wstring text = r.Text(dlg, IDC_PIN_EDIT);
    r.Check(OnlyAsterisks(text),
            "after key " + std::to_string(s.key) + " the field shows " + Utf8(text));
  }
}

enum class Finish { Enter, OkButton, Space, Cancel, SystemClose };

void End(WindowRobot& r, HWND dlg, Finish finish) {
  switch (finish) {
    case Finish::Enter:
      r.Keys(dlg, {VK_RETURN});
      break;
    case Finish::OkButton:
      r.PressButton(dlg, IDC_PIN_OK);
      break;
    case Finish::Space:
      r.Keys(dlg, {VK_SPACE});
      break;
    case Finish::Cancel:
      r.PressButton(dlg, IDC_PIN_CANCEL);
      break;
    case Finish::SystemClose:
      r.SystemClose(dlg);
      break;
  }
  r.Check(r.WaitGone(dlg), "the dialog ends");
}

class PinDialog : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(HookCounter::Live(), 0) << "a hook outlived its field"; }
  HookCounter m_hooks;
};

struct KeyCase {
  const char* name;
  Strokes strokes;
  size_t asterisks;  // shown once the strokes are in
  bool okEnabled;
  Finish finish;
  const char* pin;  // nullptr: cancelled
};

TEST_F(PinDialog, Keystrokes) {
  const KeyCase cases[] = {
      {"five digits leave OK disabled", Strokes().Text("12345"), 5, false, Finish::Cancel,
       nullptr},
      {"six digits and Enter", Strokes().Text("123456"), 6, true, Finish::Enter, "123456"},
      {"a seventeenth digit is dropped", Strokes().Text("12345678901234567"), 16, true,
       Finish::Enter, "1234567890123456"},
      {"Ctrl combinations type nothing",
       Strokes()
           .Chord(VK_LCONTROL, 'V')
           .Chord(VK_LCONTROL, '1')
           .Chord(VK_CONTROL, 'V')
           .Chord(VK_CONTROL, '1')
           .Chord(VK_RCONTROL, 'A')
           .Text("123456"),
       6, true, Finish::Enter, "123456"},
      {"Shift+2", Strokes().Chord(VK_LSHIFT, '2').Text("12345"), 6, true, Finish::Enter,
       "@12345"},
      {"Shift and keypad 1", Strokes().Chord(VK_LSHIFT, VK_NUMPAD1).Text("12345"), 6, true,
       Finish::Enter, "!12345"},
      {"keypad digits",
       Strokes()
           .Key(VK_NUMPAD0).Key(VK_NUMPAD1).Key(VK_NUMPAD2).Key(VK_NUMPAD3).Key(VK_NUMPAD4)
           .Key(VK_NUMPAD5).Key(VK_NUMPAD6).Key(VK_NUMPAD7).Key(VK_NUMPAD8).Key(VK_NUMPAD9),
       10, true, Finish::OkButton, "0123456789"},
      {"Caps Lock on: A and Shift+A",
       Strokes().Key(VK_CAPITAL).Key('A').Chord(VK_LSHIFT, 'A').Key(VK_CAPITAL).Text("1234a"), 7,
       true, Finish::Enter, "Aa1234a"},
      {"Shift+; and punctuation",
       Strokes().Chord(VK_LSHIFT, VK_OEM_1).Key(VK_OEM_2).Key(VK_OEM_7).Chord(VK_RSHIFT, VK_OEM_4)
           .Text("12"),
       6, true, Finish::Enter, ":/'{12"},
      {"Backspace on an empty field, then after a seventh digit",
       Strokes().Key(VK_BACK).Text("1234567").Key(VK_BACK), 6, true, Finish::Enter, "123456"},
      {"Escape, Space, arrows and Delete do nothing",
       Strokes()
           .Text("123456")
           .Key(VK_ESCAPE).Key(VK_SPACE).Key(VK_LEFT).Key(VK_RIGHT).Key(VK_UP).Key(VK_DOWN)
           .Key(VK_DELETE).Key(VK_HOME).Key(VK_F1),
       6, true, Finish::Enter, "123456"},
      {"Tab moves to OK, a digit and Escape there do nothing, Space presses OK",
       Strokes().Text("123456").Key(VK_TAB).Key('7').Key(VK_ESCAPE), 6, true, Finish::Space,
       "123456"},
      {"Cancel after six digits", Strokes().Text("123456"), 6, true, Finish::Cancel, nullptr},
      {"the system menu's Close", Strokes().Text("123456"), 6, true, Finish::SystemClose,
       nullptr},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const PinOutcome outcome = AskPin(0, 5, [&](WindowRobot& r, HWND dlg) {
      Type(r, dlg, c.strokes.list);
      r.Check(r.Text(dlg, IDC_PIN_EDIT).size() == c.asterisks,
              "asterisks: " + Utf8(r.Text(dlg, IDC_PIN_EDIT)));
      r.Check(r.IsEnabled(dlg, IDC_PIN_OK) == c.okEnabled, "OK enabled state");
      r.Check(::IsWindowVisible(dlg) != FALSE, "the dialog is still up");
      End(r, dlg, c.finish);
    });
    EXPECT_EQ(outcome.failures, std::vector<std::string>());
    if (c.pin != nullptr) {
      EXPECT_EQ(outcome.hr, S_OK);
      EXPECT_EQ(outcome.pin, c.pin);
    } else {
      EXPECT_EQ(outcome.hr, kCancelled);
      EXPECT_EQ(outcome.pin, "");
    }
    EXPECT_EQ(::GetKeyState(VK_CAPITAL) & 1, 0) << "Caps Lock left on";
  }
}

// The mode chooses the prompt (and for the administrator PIN the title); the
// tries line is string 207, a blank and the number. Texts of the run's language.
TEST_F(PinDialog, ModesAndTriesLine) {
  const std::wstring adminTitle = LoadText(IDS_CHECK_ADMIN_PIN);
  const struct {
    int mode;
    UINT prompt;
    const wchar_t* shot;
  } cases[] = {
      {0, IDS_INPUT_PIN, L"pin_mode0_user"},
      {1, IDS_INPUT_ADMIN_PIN, L"pin_mode1_administrator"},
      {2, IDS_PIN_RETRY, L"pin_mode2_retry"},
      {7, IDS_PIN_RETRY, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const PinOutcome outcome = AskPin(c.mode, 3, [&](WindowRobot& r, HWND dlg) {
      const std::wstring prompt = LoadText(c.prompt);
      r.Check(!prompt.empty() && r.Text(dlg, IDC_PIN_PROMPT) == prompt,
              "prompt " + Utf8(r.Text(dlg, IDC_PIN_PROMPT)));
      r.Check(r.Text(dlg, IDC_PIN_TRIES) == merro::test::PinDialogTriesLine(3),
              "tries line " + Utf8(r.Text(dlg, IDC_PIN_TRIES)));
      r.Check((r.Text(dlg) == adminTitle) == (c.mode == 1), "title " + Utf8(r.Text(dlg)));
      r.Check(!r.IsEnabled(dlg, IDC_PIN_OK), "OK disabled at first");
      if (c.shot != nullptr) {
        r.Type(dlg, L"1234");
        r.Screenshot(dlg, c.shot);
      }
      End(r, dlg, Finish::Cancel);
    });
    EXPECT_EQ(outcome.failures, std::vector<std::string>());
    EXPECT_EQ(outcome.hr, kCancelled);
  }
}

TEST_F(PinDialog, GetPinBeforeAndWithoutTheDialog) {
  merro::ui::CInputPINDlg dialog;
  SecretBytes pin;
  EXPECT_EQ(dialog.GetPIN(&pin), E_FAIL);  // before Initialize
  EXPECT_EQ(dialog.Initialize(0, 3), S_OK);
  EXPECT_EQ(dialog.GetPIN(&pin), kCancelled);  // never shown, never confirmed
  EXPECT_TRUE(pin.empty());
  EXPECT_EQ(dialog.GetPIN(nullptr), E_INVALIDARG);
  merro::ui::Win32UserInterface ui;
  EXPECT_EQ(ui.AskPin({}, nullptr), E_INVALIDARG);
}

// merro-uirobot.exe types into the dialog from another process and reads
// the field: asterisks only.
TEST_F(PinDialog, AnotherProcessReadsOnlyAsterisks) {
  if (RobotProgram::Path().empty()) {
    GTEST_SKIP() << "MERRO_UIROBOT does not name merro-uirobot.exe";
  }
  RobotProgram program;
  const std::wstring edit = std::to_wstring(IDC_PIN_EDIT);
  const PinOutcome outcome = AskPin(0, 3, [&](WindowRobot& r, HWND) {
    r.Require(program.Start(L"--timeout " + std::to_wstring(WindowRobot::kDefaultTimeoutMs) +
                            L" --pid " + std::to_wstring(::GetCurrentProcessId()) + L" --control " +
                            edit + L" type Ab3456 text " + edit + L" enabled " +
                            std::to_wstring(IDC_PIN_OK) + L" keys enter gone"),
              "merro-uirobot.exe started: " + program.Error());
    DWORD exitCode = 0xFFFFFFFF;
    r.Require(program.Wait(RobotThread::kJoinTimeoutMs, &exitCode), "merro-uirobot.exe ended");
    r.Check(exitCode == 0, "merro-uirobot.exe exit status " + std::to_string(exitCode));
  });
  EXPECT_EQ(outcome.failures, std::vector<std::string>());
  EXPECT_EQ(program.Output(), "text 2002: ******\nenabled 2009: 1\n");
  EXPECT_EQ(outcome.hr, S_OK);
  EXPECT_EQ(outcome.pin, "Ab3456");
}

// A hook that cannot be installed disables the field: nothing can be typed,
// Enter does not end the dialog; Cancel and the system close do.
TEST_F(PinDialog, FieldWithoutHookIsDisabled) {
  HookCounter::FailInstalls();
  for (const Finish finish : {Finish::Cancel, Finish::SystemClose}) {
    const PinOutcome outcome = AskPin(0, 3, [&](WindowRobot& r, HWND dlg) {
      r.Check(!r.IsEnabled(dlg, IDC_PIN_EDIT), "the field is disabled");
      r.Type(dlg, L"123456");
      r.Keys(dlg, {VK_RETURN});
      ::Sleep(200);
      r.Check(::IsWindowVisible(dlg) != FALSE, "Enter leaves the dialog up");
      r.Check(r.Text(dlg, IDC_PIN_EDIT).empty(), "nothing typed: " + Utf8(r.Text(dlg, IDC_PIN_EDIT)));
      r.Check(!r.IsEnabled(dlg, IDC_PIN_OK), "OK disabled");
      End(r, dlg, finish);
    });
    EXPECT_EQ(outcome.failures, std::vector<std::string>());
    EXPECT_EQ(outcome.hr, kCancelled);
  }
}

}  // namespace
