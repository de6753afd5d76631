// The confirmation dialogs for real against a simulated token whose button
// is held: the operation dialog of CheckPIN, the transaction dialog signing
// with an SM2 key, and a refresh of the device list from a timer of the
// dialog's modal loop while the worker's command waits for the token.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "device/ui/confirm_dialogs.h"
#include "device/ui/gdiplus_session.h"
#include "foundation/trace/trace.h"
#include "foundation/win/image_load.h"
#include "foundation/win/this_module.h"
#include "tests/device/support/device_bench.h"
#include "tests/support/ui/robot_thread.h"
#include "tests/support/ui/tries_texts.h"
#include "tests/support/ui/ui_test.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

using merro::test::RobotThread;
using merro::test::Utf8;
using merro::test::WindowRobot;

constexpr char kPin[] = "47193628";
constexpr char kWrongPin[] = "12345678";

std::wstring ModuleString(UINT id) {
  wchar_t text[256] = {};
  ::LoadStringW(merro::win::ThisModule(), id, text, 256);
  return text;
}

// The text CheckPIN gives the operation dialog with three tries left.
std::wstring ThreeTriesTips() {
  return merro::test::OperationTriesLine(3) + L"\n" + ModuleString(IDS_OPERATION_CONFIRM);
}

// Counts the token closes, from any thread.
class CloseCounter {
 public:
  CloseCounter() {
    merro::trace::SetSink([this](const merro::trace::Record& r) {
      static const std::string kClose = std::string("mr_CloseDevice") + '\0';
      if (r.number == merro::trace::kMsgFunctionEntry && r.args.size() == 1 &&
          std::string(r.args[0].begin(), r.args[0].end()) == kClose) {
        ++m_closes;
      }
    });
    merro::trace::SetEnableFlags(0xFFFFFFFF);
  }
  ~CloseCounter() {
    merro::trace::SetSink({});
    merro::trace::SetEnableFlags(0);
  }
  int Closes() const { return m_closes; }

 private:
  std::atomic<int> m_closes{0};
};

class HeldButton : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    DeviceBench::Insert(0);
    DeviceBench::Control("button 0 clear");
    ASSERT_TRUE(DeviceBench::Prepare(0));
    m_dev = DeviceBench::DeviceName(0);
    m_providerName = L"Merro confirm test " + std::to_wstring(::GetCurrentProcessId());
    m_settings = DefaultProviderSettings(FALSE);
    m_settings.pwszProviderName = m_providerName.c_str();
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
  }
  void TearDown() override { DeviceBench::Control("button 0 clear"); }

  HRESULT Check(const char* pin, int tries, DWORD confirm) {
    return m_handle.CheckPIN(m_dev.c_str(), 1, pin, static_cast<DWORD>(std::strlen(pin)), tries, confirm);
  }
  DWORD Status(DWORD* tries = nullptr) {
    DWORD left = 0, status = 0xDEAD, modified = 0;
    EXPECT_EQ(m_handle.GetPINInfo(m_dev.c_str(), 1, &left, &status, &modified), S_OK);
    if (tries != nullptr) {
      *tries = left;
    }
    return status;
  }
  // Three wrong PINs: three tries left, none of them needing the button.
  void LeaveThreeTries() {
    for (int i = 0; i < 3; ++i) {
      ASSERT_LT(Check(kWrongPin, 6, 0), 0);
    }
    DWORD tries = 0;
    Status(&tries);
    ASSERT_EQ(tries, 3u);
  }

  device::DeviceHandle m_handle;
  std::string m_dev;
  std::wstring m_providerName;
  ProviderSettings m_settings{};
};

TEST_F(HeldButton, TheOperationDialogStandsUntilTheTokenAnswers) {
  LeaveThreeTries();
  const std::wstring tips = ThreeTriesTips();
  if (merro::test::CurrentUiLanguage() == merro::test::UiLanguage::English) {
    ASSERT_EQ(tips.rfind(L"Remaining times 3, please take caution.\n", 0), 0u);
  }
  DeviceBench::Control("button 0 hold");
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_CONFIRM_TEXT);
    r.Require(dlg != nullptr, "the operation dialog");
    r.Check(r.Text(dlg, IDC_CONFIRM_TEXT) == tips, "tips: " + Utf8(r.Text(dlg, IDC_CONFIRM_TEXT)));
    r.Screenshot(dlg, L"operation_confirm");
    // Nothing on the screen answers it while the token waits.
    r.SystemClose(dlg);
    r.PostClose(dlg);
    r.Keys(dlg, {VK_ESCAPE});
    ::Sleep(500);
    r.Check(::IsWindow(dlg) && ::IsWindowVisible(dlg), "still up while the token waits");
    DeviceBench::Control("button 0 release cancel");
    r.Check(r.WaitGone(dlg), "gone once the token answered");
  });
  EXPECT_EQ(Check(kPin, 3, 1), SCARD_W_CANCELLED_BY_USER);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  DWORD tries = 0;
  Status(&tries);
  EXPECT_EQ(tries, 3u);
}

// The device list refreshed from a timer of the dialog's modal loop, as the
// manager's one-second timer and WM_DEVICECHANGE do, while the worker's
// VERIFY PIN waits for the held button. The timer ticks until the dialog is
// shown: a refresh before that (a slow machine reaches the modal loop late)
// would block the thread that is still to show the dialog.
struct TimerRefresh {
  device::DeviceHandle* handle = nullptr;
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  std::atomic<ULONGLONG> endTick{0};
  HRESULT result = E_FAIL;
  int closesAfterRefresh = -1;
  const CloseCounter* closes = nullptr;
};
TimerRefresh g_refresh;

bool ConfirmationShown() {
  bool shown = false;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND hWnd, LPARAM lParam) -> BOOL {
        if (::IsWindowVisible(hWnd) && ::GetDlgItem(hWnd, IDC_CONFIRM_TEXT) != nullptr) {
          *reinterpret_cast<bool*>(lParam) = true;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&shown));
  return shown;
}

void CALLBACK RefreshOnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (!ConfirmationShown()) {
    return;
  }
  ::KillTimer(nullptr, id);
  if (g_refresh.started.exchange(true)) {
    return;
  }
  g_refresh.result = g_refresh.handle->UpdateContainer();
  g_refresh.endTick = ::GetTickCount64();
  g_refresh.closesAfterRefresh = g_refresh.closes->Closes();
  g_refresh.finished = true;
}

TEST_F(HeldButton, ARefreshDuringTheConfirmationLeavesTheWorkersContextOpen) {
  LeaveThreeTries();
  CloseCounter closes;
  g_refresh.handle = &m_handle;
  g_refresh.closes = &closes;
  g_refresh.started = false;
  g_refresh.finished = false;
  std::atomic<ULONGLONG> releaseTick{0};
  DeviceBench::Control("button 0 hold");
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_CONFIRM_TEXT);
    r.Require(dlg != nullptr, "the operation dialog");
    r.WaitFor([] { return g_refresh.started.load(); }, "the timer's refresh began");
    // What must not happen: the refresh ending while the worker waits.
    ::Sleep(500);
    r.Check(!g_refresh.finished, "the refresh waits for the device mutex the worker holds");
    releaseTick = ::GetTickCount64();
    DeviceBench::Control("button 0 release ok");
    r.Check(r.WaitGone(dlg), "gone once the token answered");
  });
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &RefreshOnTimer);
  ASSERT_NE(timer, 0u);
  EXPECT_EQ(Check(kPin, 3, 1), S_OK);
  ::KillTimer(nullptr, timer);  // when the dialog never came up, it still ticks
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  ASSERT_TRUE(g_refresh.finished);
  EXPECT_EQ(g_refresh.result, S_OK);
  EXPECT_GE(g_refresh.endTick.load(), releaseTick.load());
  // The refresh dropped the list's reference, but the worker's lease kept
  // the context open until the worker had been joined.
  EXPECT_EQ(g_refresh.closesAfterRefresh, 0);
  EXPECT_EQ(closes.Closes(), 1);
  // The reopen reset the token: the PIN just verified is no longer.
  DWORD tries = 0;
  EXPECT_EQ(Status(&tries), 0u);
  EXPECT_EQ(tries, 6u);
}

TEST_F(HeldButton, TheTransactionDialogShowsTheTokenAndSigns) {
  // An SM2 key on the token, through a context of the test's own.
  DEV_CTX* ctx = nullptr;
  ASSERT_EQ(OpenDevice(m_dev.c_str(), &ctx), S_OK);
  ASSERT_EQ(SetSessionKey(ctx), S_OK);
  ASSERT_EQ(VerifyPIN(ctx, 1, reinterpret_cast<const BYTE*>(kPin), 8), S_OK);
  CONTAINER_RECORD record{};
  std::strcpy(record.szContainerName, "confirm-sm2");
  ASSERT_EQ(CreateContainer(ctx, &record), S_OK);
  BYTE xy[64];
  ASSERT_EQ(GenerateKeyPair(ctx, MR_ALG_SM2, record.SignKeyFID, xy), S_OK);
  void* key = nullptr;
  ASSERT_EQ(AsymKeyInit(ctx, MR_ALG_SM2, record.SignKeyFID, &key), S_OK);

  const merro::ui::GdiplusSession gdiplus;  // the test's own, for the PNG
  Gdiplus::Image* png = nullptr;
  ASSERT_EQ(LoadImageFromResource(merro::win::ThisModule(), IDR_TOKEN_PNG, L"PNG", &png), S_OK);
  std::unique_ptr<Gdiplus::Image> pngOwner(png);

  const std::string message = "Pay 1234.56 to Merro Ltd";
  BYTE signature[64] = {};
  DWORD signatureLength = sizeof signature;
  merro::ui::CTransactionConfirmDlg dialog;
  const std::wstring tips = ModuleString(IDS_TRANSACTION_TIPS);
  ASSERT_EQ(dialog.SetOperationTips(tips.c_str()), S_OK);
  ASSERT_EQ(dialog.SetTransactionContext(key, MR_ALG_SM3, reinterpret_cast<const BYTE*>(message.data()),
                                         static_cast<DWORD>(message.size()), signature, &signatureLength),
            S_OK);

  RECT before = {}, after = {};
  DeviceBench::Control("button 0 hold");
  RobotThread robot([&](WindowRobot& r) {
    HWND dlg = r.WaitForDialog(::GetCurrentProcessId(), IDC_TOKEN_PICTURE);
    r.Require(dlg != nullptr, "the transaction dialog");
    r.Check(r.Text(dlg, IDC_CONFIRM_TEXT) == tips, "tips: " + Utf8(r.Text(dlg, IDC_CONFIRM_TEXT)));
    // The picture on the screen, pixel for pixel, once it has been painted.
    HWND picture = ::GetDlgItem(dlg, IDC_TOKEN_PICTURE);
    // The picture's transparent parts show the dialog's colour.
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    std::string mismatches;
    r.WaitFor(
        [&] {
          mismatches.clear();
          HDC screen = ::GetDC(nullptr);
          for (const POINT p : {POINT{10, 10}, POINT{90, 140}, POINT{150, 250}}) {
            Gdiplus::Color pixel;
            static_cast<Gdiplus::Bitmap*>(png)->GetPixel(p.x, p.y, &pixel);
            const COLORREF expected = pixel.GetAlpha() == 0 ? face : pixel.ToCOLORREF();
            POINT at = p;
            ::ClientToScreen(picture, &at);
            const COLORREF seen = ::GetPixel(screen, at.x, at.y);
            if (pixel.GetAlpha() != 0 && pixel.GetAlpha() != 255) {
              mismatches += " pixel " + std::to_string(p.x) + "," + std::to_string(p.y) +
                            " has half tones";
            } else if (seen != expected) {
              mismatches += " pixel " + std::to_string(p.x) + "," + std::to_string(p.y) + " is " +
                            std::to_string(seen) + " not " + std::to_string(expected);
            }
          }
          ::ReleaseDC(nullptr, screen);
          return mismatches.empty();
        },
        "the token's picture on the screen", [&] { return mismatches; });
    r.Screenshot(dlg, L"transaction_confirm");
    // The dialog ends under the picture, whatever the font made of the
    // template's units: the control is the picture's height, and a few
    // pixels of margin stay below it.
    RECT control = {}, client = {};
    ::GetWindowRect(picture, &control);
    ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&control), 2);
    ::GetClientRect(dlg, &client);
    r.Check(control.bottom - control.top == static_cast<LONG>(png->GetHeight()),
            "picture control " + std::to_string(control.bottom - control.top) + " px high");
    r.Check(client.bottom - control.bottom >= 0 && client.bottom - control.bottom <= 6,
            "margin under the picture " + std::to_string(client.bottom - control.bottom) + " px");
    ::GetWindowRect(dlg, &before);
    r.Drag(dlg, POINT{4, 120}, 60, 40);  // left of the picture
    ::GetWindowRect(dlg, &after);
    r.SystemClose(dlg);
    ::Sleep(300);
    r.Check(::IsWindowVisible(dlg) != FALSE, "still up while the token waits");
    DeviceBench::Control("button 0 release ok");
    r.Check(r.WaitGone(dlg), "gone once the token answered");
  });
  EXPECT_EQ(dialog.DoModal(nullptr), S_OK);
  robot.Join();
  EXPECT_EQ(robot.Failures(), std::vector<std::string>());
  EXPECT_EQ(dialog.m_hSignResult, S_OK);
  EXPECT_EQ(after.left - before.left, 60);
  EXPECT_EQ(after.top - before.top, 40);
  EXPECT_FALSE(dialog.m_picture.HasImage()) << "the picture goes before GDI+ does";

  ASSERT_EQ(signatureLength, 64u);
  const PkeyPtr publicKey = Sm2PublicKey(Bytes(xy, xy + 64));
  ASSERT_TRUE(publicKey);
  EXPECT_TRUE(Sm2VerifyMessage(publicKey.get(), Bytes(message.begin(), message.end()),
                               Bytes(signature, signature + 64)));

  // The token's C, through the same dialog.
  DeviceBench::Control("button 0 cancel");
  signatureLength = sizeof signature;
  EXPECT_EQ(dialog.DoModal(nullptr), SCARD_W_CANCELLED_BY_USER);
  EXPECT_EQ(AsymKeyFinal(key), S_OK);
  EXPECT_EQ(CloseDevice(ctx), S_OK);
}

}  // namespace
}  // namespace merro::testing
