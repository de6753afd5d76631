// merro-uirobot.exe: the UI robot's verbs against the dialog of another
// process, for tests and for a person poking at a running program.
//
//   merro-uirobot [--timeout MS] [--pid PID] (--control ID | --caption TEXT) VERB...
//
// The dialog is the first visible "#32770" window (of process PID, when
// given) that holds control ID, or has caption TEXT. Verbs run in order and
// print one line each on standard output (UTF-8):
//   text ID              "text ID: <text>" (ID 0: the caption)
//   enabled ID           "enabled ID: 1" or 0
//   items ID             "items ID: <row>|<row>|..." (combo box rows)
//   selection ID         "selection ID: <n>"
//   type TEXT            types TEXT (US layout, Shift where needed)
//   keys KEY[,KEY...]    virtual keys: a number, or down, up, enter, escape,
//                        tab, space, back
//   chord MOD KEY        MOD (lshift, lcontrol) held around KEY
//   click ID | press ID  mouse click at the control / its click notification
//   sysclose | close     WM_SYSCOMMAND SC_CLOSE / WM_CLOSE
//   drag X Y DX DY       left-button drag from client point (X, Y)
//   screenshot NAME      into $MERRO_UI_SHOTS/<lang>/NAME.png
//   gone                 waits until the dialog is gone
// Exit status 0 when every verb worked; otherwise the failures go to
// standard error, the dialog is sent WM_CLOSE, and the status is 1 (2 for a
// usage error).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ui/window_robot.h"

namespace {

using merro::test::Utf8;
using merro::test::WindowRobot;

void Print(HANDLE out, const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ParseNumber(const std::wstring& text, long* value) {
  if (text.empty()) {
    return false;
  }
  wchar_t* end = nullptr;
  *value = std::wcstol(text.c_str(), &end, 0);
  return end != nullptr && *end == L'\0';
}

WORD KeyByName(const std::wstring& name) {
  static const struct {
    const wchar_t* name;
    WORD vk;
  } kNames[] = {{L"down", VK_DOWN},     {L"up", VK_UP},     {L"enter", VK_RETURN},
                {L"escape", VK_ESCAPE}, {L"tab", VK_TAB},   {L"space", VK_SPACE},
                {L"back", VK_BACK},     {L"lshift", VK_LSHIFT}, {L"lcontrol", VK_LCONTROL}};
  for (const auto& k : kNames) {
    if (name == k.name) {
      return k.vk;
    }
  }
  if (name.size() == 1 && ((name[0] >= L'0' && name[0] <= L'9') || (name[0] >= L'A' && name[0] <= L'Z'))) {
    return name[0];
  }
  long n = 0;
  return ParseNumber(name, &n) && n > 0 && n < 256 ? static_cast<WORD>(n) : 0;
}

int Usage() {
  Print(::GetStdHandle(STD_ERROR_HANDLE),
        "usage: merro-uirobot [--timeout MS] [--pid PID] (--control ID | --caption TEXT) VERB...");
  return 2;
}

}  // namespace

int main() {
  int argc = 0;
  std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argvHolder(
      ::CommandLineToArgvW(::GetCommandLineW(), &argc), &::LocalFree);
  LPWSTR* argv = argvHolder.get();
  if (argv == nullptr) {
    return Usage();
  }
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  long timeout = WindowRobot::kDefaultTimeoutMs;
  long pid = 0;
  long control = 0;
  std::wstring caption;
  int i = 1;
  for (; i < argc && argv[i][0] == L'-'; ++i) {
    const std::wstring option = argv[i];
    if (i + 1 >= argc) {
      return Usage();
    }
    const std::wstring value = argv[++i];
    if (option == L"--timeout" && ParseNumber(value, &timeout)) {
    } else if (option == L"--pid" && ParseNumber(value, &pid)) {
    } else if (option == L"--control" && ParseNumber(value, &control)) {
    } else if (option == L"--caption") {
      caption = value;
    } else {
      return Usage();
    }
  }
  if (control == 0 && caption.empty()) {
    return Usage();
  }

  WindowRobot robot;
  HWND dialog = caption.empty()
                    ? robot.WaitForDialog(static_cast<DWORD>(pid), static_cast<int>(control),
                                          static_cast<DWORD>(timeout))
                    : robot.FindDialog(caption.c_str(), static_cast<DWORD>(pid),
                                       static_cast<DWORD>(timeout));
  bool usage = false;
  while (dialog != nullptr && !robot.Failed() && i < argc) {
    const std::wstring verb = argv[i++];
    auto arg = [&](std::wstring* value) {
      if (i >= argc) {
        usage = true;
        return false;
      }
      *value = argv[i++];
      return true;
    };
    auto numberArg = [&](long* value) {
      std::wstring text;
      if (!arg(&text) || !ParseNumber(text, value)) {
        usage = true;
        return false;
      }
      return true;
    };
    long id = 0;
    std::wstring text;
    if (verb == L"text" && numberArg(&id)) {
      Print(out, "text " + std::to_string(id) + ": " + Utf8(robot.Text(dialog, id)));
    } else if (verb == L"enabled" && numberArg(&id)) {
      Print(out, "enabled " + std::to_string(id) + ": " + (robot.IsEnabled(dialog, id) ? "1" : "0"));
    } else if (verb == L"items" && numberArg(&id)) {
      std::string line;
      for (const std::wstring& item : robot.ComboItems(dialog, id)) {
        line += (line.empty() ? "" : "|") + Utf8(item);
      }
      Print(out, "items " + std::to_string(id) + ": " + line);
    } else if (verb == L"selection" && numberArg(&id)) {
      Print(out, "selection " + std::to_string(id) + ": " +
                     std::to_string(robot.ComboSelection(dialog, id)));
    } else if (verb == L"type" && arg(&text)) {
      robot.Type(dialog, text);
    } else if (verb == L"keys" && arg(&text)) {
      size_t start = 0;
      while (start <= text.size() && !robot.Failed()) {
        const size_t comma = text.find(L',', start);
        const std::wstring name = text.substr(start, comma == std::wstring::npos ? comma : comma - start);
        const WORD vk = KeyByName(name);
        if (vk == 0) {
          robot.Fail("unknown key " + Utf8(name));
        } else {
          robot.Keys(dialog, {vk});
        }
        if (comma == std::wstring::npos) {
          break;
        }
        start = comma + 1;
      }
    } else if (verb == L"chord") {
      std::wstring modifier;
      if (arg(&modifier) && arg(&text)) {
        const WORD mod = KeyByName(modifier);
        const WORD key = KeyByName(text);
        if (mod == 0 || key == 0) {
          robot.Fail("unknown key in chord");
        } else {
          robot.Chord(dialog, mod, key);
        }
      }
    } else if (verb == L"click" && numberArg(&id)) {
      robot.Click(dialog, id);
    } else if (verb == L"press" && numberArg(&id)) {
      robot.PressButton(dialog, id);
    } else if (verb == L"sysclose") {
      robot.SystemClose(dialog);
    } else if (verb == L"close") {
      robot.PostClose(dialog);
    } else if (verb == L"drag") {
      long x = 0, y = 0, dx = 0, dy = 0;
      if (numberArg(&x) && numberArg(&y) && numberArg(&dx) && numberArg(&dy)) {
        robot.Drag(dialog, POINT{x, y}, dx, dy);
      }
    } else if (verb == L"screenshot" && arg(&text)) {
      robot.Screenshot(dialog, text);
    } else if (verb == L"gone") {
      robot.WaitGone(dialog, static_cast<DWORD>(timeout));
    } else {
      usage = true;
    }
    if (usage) {
      robot.Fail("bad verb or argument: " + Utf8(verb));
    }
    // The next verb may read what this one's input changed.
    if (!robot.Failed() && (verb == L"type" || verb == L"keys" || verb == L"chord" || verb == L"click" ||
                              verb == L"drag")) {
      robot.WaitInputHandled(dialog);
    }
  }
  if (!robot.Failed()) {
    return 0;
  }
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  for (const std::string& failure : robot.Failures()) {
    Print(err, "merro-uirobot: " + failure);
  }
  if (dialog != nullptr) {
    robot.PostClose(dialog);
  }
  return usage ? 2 : 1;
}
