// The UI seam: the scripted interface of the tests, the worker of the
// confirmations, the real message box (under xvfb-run) and the device
// layer's string table in its three languages.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device/ui/confirm_runner.h"
#include "device/ui/win32_user_interface.h"
#include "device/user_pin_prompt.h"
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

// Only the user's Cancel (or a dialog closed with nothing typed) is a
// cancel: a dialog that could not be shown, or may not show on this thread,
// gives its own failure, and no PIN buffer.
TEST(PinPrompt, OnlyTheUsersCancelIsReportedAsCancelled) {
  struct Case {
    const char* answer;
    HRESULT expected;
  } const cases[] = {
      {"pin 123456", S_OK},
      {"cancel", SCARD_W_CANCELLED_BY_USER},
      {"pin ", SCARD_W_CANCELLED_BY_USER},
      {"fail 0x8007000E", E_OUTOFMEMORY},
      {"fail 0x80070716", HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)},
      {"fail 0x80090022", NTE_SILENT_CONTEXT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ScopedScriptedUi scoped({c.answer});
    char* pszPIN = nullptr;
    EXPECT_EQ(device::PromptForPIN(nullptr, 0, 3, &pszPIN), c.expected);
    if (c.expected == S_OK) {
      ASSERT_NE(pszPIN, nullptr);
      EXPECT_STREQ(pszPIN, "123456");
    } else {
      EXPECT_EQ(pszPIN, nullptr);
    }
    delete[] pszPIN;
    EXPECT_EQ(scoped->AnswersLeft(), 0u);
  }
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

// Inside a silent scope the seam asks nobody: PIN entry and token selection
// fail with NTE_SILENT_CONTEXT and message boxes are skipped, none of them
// reaching the interface in use, while a confirmation, which the token's
// own button ends, still runs through it. Scopes nest, one that allows UI
// changes nothing, and another thread is not silenced.
TEST(SilentScope, NothingIsAskedWhileOneLives) {
  ScopedScriptedUi scoped({"pin 123456", "select 0"});
  const std::vector<device::DeviceItem> devices{Item("dev0", "MT01"), Item("dev1", "MT02")};
  {
    const ui::SilentScope silent(FALSE);
    {
      const ui::SilentScope allowing(TRUE);
      const ui::SilentScope nested(FALSE);
    }
    ASSERT_TRUE(ui::SilentScope::Active());
    ui::UserInterface& current = ui::UserInterface::Current();
    SecretBytes pin;
    EXPECT_EQ(current.AskPin({nullptr, 0, 6, nullptr}, &pin), NTE_SILENT_CONTEXT);
    EXPECT_TRUE(pin.empty());
    int row = 7;
    EXPECT_EQ(current.SelectToken(nullptr, devices, &row), NTE_SILENT_CONTEXT);
    EXPECT_EQ(row, -1);
    EXPECT_EQ(current.ShowMessage(nullptr, 210, 209, MB_ICONERROR), 0);
    EXPECT_EQ(current.RunConfirmed({ui::ConfirmKind::Operation, nullptr, L"tips"},
                                   [] { return static_cast<HRESULT>(0x8000FF07); }),
              SCARD_E_TIMEOUT);
    bool otherThreadSilent = true;
    std::thread([&] { otherThreadSilent = ui::SilentScope::Active(); }).join();
    EXPECT_FALSE(otherThreadSilent);
  }
  EXPECT_FALSE(ui::SilentScope::Active());
  EXPECT_EQ(&ui::UserInterface::Current(), &*scoped);
  EXPECT_EQ(scoped->TranscriptLines(),
            (std::vector<std::string>{"confirm kind=operation tips=\"tips\" -> run"}));
  EXPECT_EQ(scoped->AnswersLeft(), 2u);
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

// ---- the real message box (shown and answered: ui/real_message_box_test) ----

TEST(RealMessageBox, AMissingStringShowsNothing) {
  ui::Win32UserInterface real;
  EXPECT_EQ(real.ShowMessage(nullptr, 9999, 209, MB_OK), 0);
}

}  // namespace
}  // namespace merro::testing
