// The UI seam: the scripted interface of the tests, the worker of the
// confirmations, the real message box (under xvfb-run) and the device
// layer's string table in its three languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device/ui/confirm_runner.h"
#include "device/ui/win32_user_interface.h"
#include "foundation/win/this_module.h"
#include "tests/device/support/scripted_user_interface.h"

namespace merro::testing {
namespace {

device::DeviceItem Item(const char* name, const char* label) {
  device::DeviceItem item;
  std::snprintf(item.szDeviceName, sizeof item.szDeviceName, "%s", name);
  std::snprintf(item.szDeviceLabel, sizeof item.szDeviceLabel, "%s", label);
  return item;
}

TEST(ScriptedUi, AnswersInOrderAndCancelsWhatItDidNotExpect) {
  ScriptedUserInterface ui({"pin 123456", "select 1"});
  SecretBytes pin;
  ASSERT_EQ(ui.AskPin({nullptr, 2, 5, L"again"}, &pin), S_OK);
  EXPECT_EQ(std::string(pin.data(), pin.data() + pin.size()), "123456");

  // A PIN prompt where a selection was scripted: cancel, the answer stays.
  EXPECT_EQ(ui.AskPin({nullptr, 0, 6, nullptr}, &pin), SCARD_W_CANCELLED_BY_USER);
  int row = 9;
  const std::vector<device::DeviceItem> devices{Item("dev0", "MT01"), Item("dev1", "MT02")};
  ASSERT_EQ(ui.SelectToken(nullptr, devices, &row), S_OK);
  EXPECT_EQ(row, 1);
  // Nothing left: cancel.
  ASSERT_EQ(ui.SelectToken(nullptr, devices, &row), S_OK);
  EXPECT_EQ(row, -1);
  EXPECT_EQ(ui.ShowMessage(nullptr, 210, 209, MB_ICONERROR), IDOK);

  EXPECT_EQ(ui.TranscriptLines(),
            (std::vector<std::string>{
                "pin mode=2 tries=5 prompt=\"again\" -> pin",
                "pin mode=0 tries=6 prompt=\"\" -> cancel (unexpected)",
                "select labels=MT01|MT02 names=dev0|dev1 -> select 1",
                "select labels=MT01|MT02 names=dev0|dev1 -> cancel (unexpected)",
                "message text=210 caption=209 type=0x10 -> ok",
            }));
  EXPECT_EQ(ui.AnswersLeft(), 0u);
}

TEST(ScriptedUi, ScriptFileAndTheInstalledInterface) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("merro-ui-script-" + std::to_string(::GetCurrentProcessId()));
  std::ofstream(path) << "# a comment\r\n\r\ncancel\r\nselect 0\r\n";
  {
    ScopedScriptedUi scoped;
    ASSERT_TRUE(scoped->LoadScript(path.string()));
    EXPECT_EQ(&ui::UserInterface::Current(), &*scoped);
    SecretBytes pin;
    EXPECT_EQ(ui::UserInterface::Current().AskPin({}, &pin), SCARD_W_CANCELLED_BY_USER);  // "cancel" fits any prompt
    int row = -1;
    ASSERT_EQ(ui::UserInterface::Current().SelectToken(nullptr, {Item("d", "l")}, &row), S_OK);
    EXPECT_EQ(row, 0);
  }
  EXPECT_EQ(dynamic_cast<ScriptedUserInterface*>(&ui::UserInterface::Current()), nullptr);
  std::filesystem::remove(path);
  ScriptedUserInterface ui;
  EXPECT_FALSE(ui.LoadScript(path.string()));
}

TEST(ConfirmRunner, TheTokensAnswersAreMappedOnce) {
  const struct {
    HRESULT call;
    HRESULT result;
  } cases[] = {
      {S_OK, S_OK},
      {static_cast<HRESULT>(0x8000FF06), SCARD_W_CANCELLED_BY_USER},
      {static_cast<HRESULT>(0x8000FF07), SCARD_E_TIMEOUT},
      {static_cast<HRESULT>(0x800063C2), static_cast<HRESULT>(0x800063C2)},
      {SCARD_W_CANCELLED_BY_USER, SCARD_W_CANCELLED_BY_USER},
  };
  for (const auto& c : cases) {
    ui::ConfirmRunner runner([&] { return c.call; });
    EXPECT_EQ(runner.Run(), c.result) << std::hex << c.call;
    EXPECT_EQ(runner.Join(), c.result) << "a second join maps nothing more";
  }
}

TEST(ConfirmRunner, TheCallRunsOnAWorkerThatIsAlwaysJoined) {
  const DWORD caller = ::GetCurrentThreadId();
  DWORD worker = caller;
  std::atomic<bool> finished{false};
  DWORD doneOn = caller;
  {
    ui::ConfirmRunner runner([&] {
      worker = ::GetCurrentThreadId();
      ::Sleep(200);
      finished = true;
      return S_OK;
    });
    ASSERT_EQ(runner.Start([&] { doneOn = ::GetCurrentThreadId(); }), S_OK);
    // Leaving the scope without Join still waits for the worker.
  }
  EXPECT_TRUE(finished);
  EXPECT_NE(worker, caller);
  EXPECT_EQ(doneOn, worker);

  // An exception thrown by the call does not leave the worker.
  ui::ConfirmRunner throwing([]() -> HRESULT { throw std::runtime_error("x"); });
  EXPECT_EQ(throwing.Run(), E_FAIL);
}

HANDLE FailingStart(LPTHREAD_START_ROUTINE, void*) {
  ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST(ConfirmRunner, AWorkerThatCannotStartIsAFailureNotASuccess) {
  bool ran = false;
  ui::ConfirmRunner runner([&] {
    ran = true;
    return S_OK;
  }, &FailingStart);
  EXPECT_EQ(runner.Start(), static_cast<HRESULT>(0x80070008));
  EXPECT_EQ(runner.Join(), static_cast<HRESULT>(0x80070008));
  EXPECT_FALSE(ran);
  // Never started at all.
  ui::ConfirmRunner idle([] { return S_OK; });
  EXPECT_EQ(idle.Join(), E_FAIL);
}

TEST(ScriptedUi, ConfirmationsRunTheirCall) {
  ScriptedUserInterface ui;
  const HRESULT hr = ui.RunConfirmed({ui::ConfirmKind::Operation, nullptr, L"Remaining times 3"},
                                    [] { return static_cast<HRESULT>(0x8000FF06); });
  EXPECT_EQ(hr, SCARD_W_CANCELLED_BY_USER);
  EXPECT_EQ(ui.TranscriptLines(),
            (std::vector<std::string>{"confirm kind=operation tips=\"Remaining times 3\" -> run"}));
}

// ---- the device layer's strings ----

std::wstring StringOf(WORD language, UINT id) {
  const HMODULE module = merro::win::ThisModule();
  HRSRC block = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (block == nullptr) {
    return std::wstring();
  }
  const auto* p = static_cast<const WCHAR*>(::LockResource(::LoadResource(module, block)));
  for (UINT i = 0; p != nullptr && i < id % 16; ++i) {
    p += 1 + *p;  // each entry: its length, then its characters
  }
  return p != nullptr ? std::wstring(p + 1, p + 1 + *p) : std::wstring();
}

TEST(DeviceStrings, EveryIdInThreeLanguages) {
  const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  const WORD simplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
  const WORD traditional = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
  EXPECT_EQ(StringOf(english, 209), L"Error");
  EXPECT_EQ(StringOf(english, 210), L"UKey is locked,please contact bank assistant for help!");
  EXPECT_EQ(StringOf(english, 219), L"Default PIN detected");
  EXPECT_EQ(StringOf(english, 220),
            L"Your Key is using default user PIN, For your safety, please modify your User PIN "
            L"with MerroManager.");
  EXPECT_EQ(StringOf(simplified, 209), L"\u9519\u8bef");
  EXPECT_EQ(StringOf(traditional, 209), L"\u932f\u8aa4");
  for (UINT id : {209u, 210u, 219u, 220u}) {
    const std::wstring cn = StringOf(simplified, id);
    const std::wstring tw = StringOf(traditional, id);
    EXPECT_FALSE(cn.empty()) << id;
    EXPECT_FALSE(tw.empty()) << id;
    EXPECT_NE(cn, StringOf(english, id)) << id;
    EXPECT_NE(tw, cn) << id;
  }
}

// ---- the real message box ----

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return text;
}

// Finds this process's message box with the caption, reads its static
// texts and presses OK; a box still standing at the deadline is closed.
class MessageBoxRobot {
 public:
  explicit MessageBoxRobot(std::wstring caption) : m_caption(std::move(caption)) {
    m_thread = std::thread([this] { Run(); });
  }
  ~MessageBoxRobot() { Join(); }
  void Join() {
    if (m_thread.joinable()) {
      m_thread.join();
    }
  }
  bool Found() const { return m_found; }
  const std::vector<std::wstring>& Texts() const { return m_texts; }

 private:
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      HWND box = ::FindWindowW(L"#32770", m_caption.c_str());
      if (box != nullptr && ::IsWindowVisible(box)) {
        ::EnumChildWindows(box, &MessageBoxRobot::Collect, reinterpret_cast<LPARAM>(this));
        m_found = true;
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
      }
      ::Sleep(20);
    }
    // The watchdog: nothing of ours may stay up.
    ::EnumWindows(&MessageBoxRobot::CloseOurs, 0);
  }
  static BOOL CALLBACK Collect(HWND child, LPARAM self) {
    wchar_t cls[32] = {};
    ::GetClassNameW(child, cls, 32);
    if (std::wstring(cls) == L"Static" && !WindowText(child).empty()) {
      reinterpret_cast<MessageBoxRobot*>(self)->m_texts.push_back(WindowText(child));
    }
    return TRUE;
  }
  static BOOL CALLBACK CloseOurs(HWND window, LPARAM) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    wchar_t cls[32] = {};
    ::GetClassNameW(window, cls, 32);
    if (pid == ::GetCurrentProcessId() && std::wstring(cls) == L"#32770") {
      ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
  }

  std::wstring m_caption;
  std::atomic<bool> m_found{false};
  std::vector<std::wstring> m_texts;
  std::thread m_thread;
};

std::wstring Loaded(UINT id) {
  wchar_t text[1024] = {};
  const int n = ::LoadStringW(merro::win::ThisModule(), id, text, static_cast<int>(std::size(text)));
  return std::wstring(text, n > 0 ? n : 0);
}

TEST(RealMessageBox, ShowsTheModulesStringsAndReturnsTheButton) {
  const std::wstring caption = Loaded(209);
  ASSERT_FALSE(caption.empty());
  ui::Win32UserInterface real;
  MessageBoxRobot robot(caption);
  const int pressed = real.ShowMessage(nullptr, 210, 209, MB_ICONERROR);
  robot.Join();
  EXPECT_EQ(pressed, IDOK);
  EXPECT_TRUE(robot.Found());
  const std::vector<std::wstring>& texts = robot.Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), Loaded(210)), texts.end());
}

TEST(RealMessageBox, AMissingStringShowsNothing) {
  ui::Win32UserInterface real;
  EXPECT_EQ(real.ShowMessage(nullptr, 9999, 209, MB_OK), 0);
}

}  // namespace
}  // namespace merro::testing
