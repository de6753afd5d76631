// The confirmation dialogs' own failures, without a token: a context whose
// form names no operation, a template that is missing, a worker that cannot
// start, a picture control without an image. None of them may leave a
// dialog standing or report success.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "device/ui/confirm_dialogs.h"
#include "device/ui/gdiplus_session.h"
#include "device/ui/image_static.h"
#include "device/ui/win32_user_interface.h"
#include "foundation/win/image_load.h"
#include "foundation/win/this_module.h"
#include "tests/support/ui/robot_thread.h"

namespace {

using merro::test::RobotThread;
using merro::test::WindowRobot;
using merro::ui::ConfirmKind;
using merro::ui::COperationConfirmDlg;
using merro::ui::OperationConfirmContext;

constexpr HRESULT H(std::uint32_t v) { return static_cast<HRESULT>(v); }

std::atomic<int> g_calls{0};
HRESULT CountedVerify(DEV_CTX*, BYTE, const BYTE*, BYTE) {
  ++g_calls;
  return S_OK;
}

// Visible dialogs of this process.
int DialogsShown() {
  int count = 0;
  ::EnumWindows(
      [](HWND hWnd, LPARAM lParam) -> BOOL {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        wchar_t cls[16] = {};
        ::GetClassNameW(hWnd, cls, 16);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) && std::wstring(cls) == L"#32770") {
          ++*reinterpret_cast<int*>(lParam);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// A watchdog for calls that must end by themselves: when `done` is not set
// within the robot's time-out it fails, and the failing robot closes what
// stands.
RobotThread Watchdog(const std::atomic<bool>& done) {
  return RobotThread([&done](WindowRobot& r) {
    r.WaitFor([&] { return done.load(); }, "the call ending by itself");
  });
}

TEST(OperationConfirmDlg, AFormWithoutAnOperationEndsAtOnceAsAFailure) {
  const struct {
    int form;
    bool withOperation;
  } cases[] = {{2, true}, {-1, true}, {1, true} /* form 1 with only the four-argument pointer */,
               {0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    g_calls = 0;
    OperationConfirmContext context;
    context.nArgForm = c.form;
    context.pfnOperation4 = c.withOperation ? &CountedVerify : nullptr;
    context.pwszTips = L"";
    std::atomic<bool> done{false};
    RobotThread watchdog = Watchdog(done);
    COperationConfirmDlg dialog;
    EXPECT_EQ(dialog.DoModal(nullptr, &context), E_FAIL);
    done = true;
    watchdog.Join();
    EXPECT_EQ(watchdog.Failures(), std::vector<std::string>());
    EXPECT_EQ(context.hResult, E_FAIL);
    EXPECT_EQ(g_calls, 0);
  }
  COperationConfirmDlg dialog;
  EXPECT_EQ(dialog.DoModal(nullptr, nullptr), E_INVALIDARG);
}

HANDLE FailingStart(LPTHREAD_START_ROUTINE, void*) {
  ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST(ConfirmDialogs, AWorkerThatCannotStartEndsTheDialogWithTheFailure) {
  merro::ui::Win32UserInterface ui;
  ui.SetThreadStart(&FailingStart);
  for (const ConfirmKind kind : {ConfirmKind::Operation, ConfirmKind::Transaction}) {
    g_calls = 0;
    std::atomic<bool> done{false};
    RobotThread watchdog = Watchdog(done);
    EXPECT_EQ(ui.RunConfirmed({kind, nullptr, L"tips"}, [] { return CountedVerify(nullptr, 0, nullptr, 0); }),
              H(0x80070008));
    done = true;
    watchdog.Join();
    EXPECT_EQ(watchdog.Failures(), std::vector<std::string>());
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(DialogsShown(), 0);
  }
  // The transaction dialog refuses to stand without its text.
  merro::ui::Win32UserInterface real;
  EXPECT_EQ(real.RunConfirmed({ConfirmKind::Transaction, nullptr, L""}, [] { return S_OK; }), E_INVALIDARG);
}

// A confirmation on a template the module does not hold.
class MissingTemplateDlg : public merro::ui::ConfirmDialog {
 public:
  HRESULT Show() { return RunConfirmation(999, nullptr, 0); }

 protected:
  BOOL OnInitDialog() override {
    StartWorker();
    return FALSE;
  }
  merro::ui::TokenCall OwnCall() override { return [] { return CountedVerify(nullptr, 0, nullptr, 0); }; }
};

TEST(ConfirmDialogs, AMissingTemplateIsAFailureAndRunsNothing) {
  g_calls = 0;
  MissingTemplateDlg dialog;
  EXPECT_EQ(dialog.Show(), H(0x80070716));
  EXPECT_EQ(g_calls, 0);
  // The transaction dialog's result stays a failure when nothing ran.
  merro::ui::CTransactionConfirmDlg transaction;
  EXPECT_EQ(transaction.m_hSignResult, E_FAIL);
}

TEST(TransactionConfirmDlg, TipsAndContextAreChecked) {
  merro::ui::CTransactionConfirmDlg dialog;
  EXPECT_EQ(dialog.SetOperationTips(nullptr), E_INVALIDARG);
  EXPECT_EQ(dialog.SetOperationTips(L""), E_INVALIDARG);
  // A text longer than the buffer is cut to 511 characters.
  const std::wstring longText(700, L'x');
  ASSERT_EQ(dialog.SetOperationTips(longText.c_str()), S_OK);
  EXPECT_EQ(std::wstring(dialog.m_wszOperationTips), longText.substr(0, 511));
  ASSERT_EQ(dialog.SetOperationTips(L"short"), S_OK);
  EXPECT_EQ(std::wstring(dialog.m_wszOperationTips), L"short");

  int key = 0;
  BYTE data[4] = {}, out[64] = {};
  DWORD outLen = sizeof out;
  void* k = &key;
  const struct {
    void* key;
    BYTE hash;
    const BYTE* data;
    DWORD size;
    BYTE* out;
    DWORD* outLen;
  } refused[] = {
      {nullptr, 1, data, 4, out, &outLen}, {k, 0, data, 4, out, &outLen},
      {k, 1, nullptr, 4, out, &outLen},    {k, 1, data, 0, out, &outLen},
      {k, 1, data, 4, nullptr, &outLen},   {k, 1, data, 4, out, nullptr},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(dialog.SetTransactionContext(c.key, c.hash, c.data, c.size, c.out, c.outLen), E_INVALIDARG);
  }
  EXPECT_EQ(dialog.m_stTransactionContext.pKeyCtx, nullptr) << "nothing kept from a refused call";
  ASSERT_EQ(dialog.SetTransactionContext(k, 0x20, data, 4, out, &outLen), S_OK);
  EXPECT_EQ(dialog.m_stTransactionContext.pKeyCtx, k);
  EXPECT_EQ(dialog.m_stTransactionContext.pSignedDataSize, &outLen);
}

// The picture control over a plain static window: with the token picture
// it paints the PNG's pixels unscaled at its corner; without an image it
// paints nothing and still validates its window.
TEST(ImageStatic, PaintsItsImageOrNothing) {
  const merro::ui::GdiplusSession gdiplus;
  ASSERT_TRUE(gdiplus.Started());
  HWND hWnd = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 50, 50, 200,
                                300, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hWnd, nullptr);
  {
    merro::ui::CImageStatic picture;
    ASSERT_TRUE(picture.SubclassWindow(hWnd));
    EXPECT_FALSE(picture.HasImage());
    ::InvalidateRect(hWnd, nullptr, TRUE);
    ::UpdateWindow(hWnd);
    EXPECT_FALSE(::GetUpdateRect(hWnd, nullptr, FALSE)) << "painted without an image";

    ASSERT_EQ(picture.LoadImageFromResource(IDR_TOKEN_PNG), S_OK);
    ::InvalidateRect(hWnd, nullptr, TRUE);
    ::UpdateWindow(hWnd);
    Gdiplus::Image* png = nullptr;
    ASSERT_EQ(LoadImageFromResource(merro::win::ThisModule(), IDR_TOKEN_PNG, L"PNG", &png), S_OK);
    auto* bitmap = static_cast<Gdiplus::Bitmap*>(png);
    // The painting reaches the screen once the display has mapped the new
    // window and Wine has flushed it: the pixels are read until they match,
    // with this thread's messages handled meanwhile.
    std::string mismatches;
    const bool shown = merro::test::WaitUntil([&] {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&msg);
      }
      mismatches.clear();
      HDC screen = ::GetDC(nullptr);
      for (const POINT p : {POINT{5, 5}, POINT{90, 140}, POINT{170, 270}}) {
        Gdiplus::Color expected;
        bitmap->GetPixel(p.x, p.y, &expected);
        POINT at = p;
        ::ClientToScreen(hWnd, &at);
        const COLORREF seen = ::GetPixel(screen, at.x, at.y);
        if (seen != expected.ToCOLORREF()) {
          mismatches += " " + std::to_string(p.x) + "," + std::to_string(p.y) + ": " +
                        std::to_string(seen) + " not " + std::to_string(expected.ToCOLORREF());
        }
      }
      ::ReleaseDC(nullptr, screen);
      return mismatches.empty();
    });
    EXPECT_TRUE(shown) << "pixels on the screen:" << mismatches;
    delete png;
    EXPECT_EQ(picture.LoadImageFromResource(4242), static_cast<HRESULT>(0x80070716));
    EXPECT_FALSE(picture.HasImage()) << "a failed load leaves no image";
  }
  ::DestroyWindow(hWnd);
}

}  // namespace
