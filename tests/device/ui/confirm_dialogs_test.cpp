// The confirmation dialogs' own failures, without a token: a context whose
// form names no operation, a template that is missing, a worker that cannot
// start, a picture control without an image. None of them may leave a
// dialog standing or report success.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/ui/confirm_dialogs.h"
#include "device/ui/confirm_text.h"
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

// Handles this thread's messages until `done` holds, for at most 15
// seconds. Wine copies what a window painted to the display while its
// thread waits for messages: the screen shows a paint only after that.
bool PumpUntil(const std::function<bool()>& done) {
  // Bounded for a loaded two-core machine; a paint that shows at all shows
  // long before.
  const ULONGLONG deadline = ::GetTickCount64() + 15000;
  while (!done() && ::GetTickCount64() < deadline) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::DispatchMessageW(&msg);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return done();
}

// The picture control over a plain static window: with the token picture
// it paints the PNG unscaled at its corner over the button face (the colour
// without a parent dialog), its transparent parts showing the face; without
// an image it paints the face alone and still validates its window.
TEST(ImageStatic, PaintsItsImageOverTheBackgroundOrTheBackgroundAlone) {
  const merro::ui::GdiplusSession gdiplus;
  ASSERT_TRUE(gdiplus.Started());
  HWND hWnd = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 50, 50, 200,
                                300, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hWnd, nullptr);
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  HDC screen = ::GetDC(nullptr);
  auto shown = [&](POINT p) {
    ::ClientToScreen(hWnd, &p);
    return ::GetPixel(screen, p.x, p.y);
  };
  {
    merro::ui::CImageStatic picture;
    ASSERT_TRUE(picture.SubclassWindow(hWnd));
    EXPECT_FALSE(picture.HasImage());
    ::InvalidateRect(hWnd, nullptr, TRUE);
    ::UpdateWindow(hWnd);
    EXPECT_FALSE(::GetUpdateRect(hWnd, nullptr, FALSE)) << "painted without an image";
    EXPECT_TRUE(PumpUntil([&] { return shown({100, 150}) == face; }));

    ASSERT_EQ(picture.LoadImageFromResource(IDR_TOKEN_PNG), S_OK);
    ::InvalidateRect(hWnd, nullptr, TRUE);
    ::UpdateWindow(hWnd);
    PumpUntil([&] { return shown({90, 140}) != face; });
    Gdiplus::Image* png = nullptr;
    ASSERT_EQ(LoadImageFromResource(merro::win::ThisModule(), IDR_TOKEN_PNG, L"PNG", &png), S_OK);
    auto* bitmap = static_cast<Gdiplus::Bitmap*>(png);
    // A corner, the body, the display, beside the body, and right of the
    // picture (180 px wide) inside the control.
    std::vector<std::pair<POINT, COLORREF>> expected;
    for (const POINT p : {POINT{0, 0}, POINT{90, 140}, POINT{90, 100}, POINT{170, 270},
                          POINT{190, 150}}) {
      Gdiplus::Color pixel(0, 0, 0, 0);  // right of the picture: nothing drawn
      if (p.x < static_cast<LONG>(png->GetWidth())) {
        ASSERT_EQ(bitmap->GetPixel(p.x, p.y, &pixel), Gdiplus::Ok);
      }
      ASSERT_TRUE(pixel.GetAlpha() == 0 || pixel.GetAlpha() == 255) << p.x << "," << p.y;
      expected.emplace_back(p, pixel.GetAlpha() == 0 ? face : pixel.ToCOLORREF());
    }
    // The painting reaches the screen once the display has shown it.
    PumpUntil([&] {
      return std::all_of(expected.begin(), expected.end(),
                         [&](const auto& e) { return shown(e.first) == e.second; });
    });
    for (const auto& [p, colour] : expected) {
      EXPECT_EQ(shown(p), colour) << p.x << "," << p.y;
    }
    delete png;
    EXPECT_EQ(picture.LoadImageFromResource(4242), static_cast<HRESULT>(0x80070716));
    EXPECT_FALSE(picture.HasImage()) << "a failed load leaves no image";
  }
  ::ReleaseDC(nullptr, screen);
  ::DestroyWindow(hWnd);
}

// The confirmation text over a plain static window: the line that is the
// heading stands centred whatever blanks lead it, the other lines start at
// the left edge.
TEST(ConfirmText, CentresTheHeadingLineAndLeavesTheRestLeft) {
  HWND hWnd = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE | SS_LEFT, 50,
                                50, 400, 80, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hWnd, nullptr);
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  HDC screen = ::GetDC(nullptr);
  TEXTMETRICW metrics = {};
  {
    HDC hdc = ::GetDC(hWnd);
    ::GetTextMetricsW(hdc, &metrics);  // the system font: the control has no other
    ::ReleaseDC(hWnd, hdc);
  }
  // The first and last columns with ink in a band of rows; -1 for none.
  auto inkColumns = [&](int top, int bottom) {
    int first = -1, last = -1;
    for (int x = 0; x < 400; ++x) {
      for (int y = top; y < bottom; ++y) {
        POINT p = {x, y};
        ::ClientToScreen(hWnd, &p);
        if (::GetPixel(screen, p.x, p.y) != face) {
          first = first < 0 ? x : first;
          last = x;
          break;
        }
      }
    }
    return std::pair<int, int>(first, last);
  };
  const struct {
    const wchar_t* text;
    bool centred;
  } cases[] = {
      {L"Heading\nThe request, on its own line.", true},
      {L"          Heading\nThe request, on its own line.", true},
      {L"Headings\nThe request, on its own line.", false},  // not the heading
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.centred << " " << c.text);
    merro::ui::CConfirmText text;
    text.SetHeading(L"Heading");
    ASSERT_TRUE(text.SubclassWindow(hWnd));
    ::SetWindowTextW(hWnd, c.text);
    ::UpdateWindow(hWnd);
    PumpUntil([&] { return inkColumns(metrics.tmHeight, 2 * metrics.tmHeight).first >= 0; });
    const auto heading = inkColumns(0, metrics.tmHeight);
    const auto request = inkColumns(metrics.tmHeight, 2 * metrics.tmHeight);
    ASSERT_GE(heading.first, 0);
    ASSERT_GE(request.first, 0);
    EXPECT_LE(request.first, 2) << "the request starts at the left";
    const int leftMargin = heading.first;
    const int rightMargin = 399 - heading.second;
    if (c.centred) {
      EXPECT_LE(std::abs(leftMargin - rightMargin), 3) << leftMargin << " / " << rightMargin;
    } else {
      EXPECT_LE(leftMargin, 2);
    }
    // Blank again before the next case, so that it reads its own paint.
    ::SetWindowTextW(hWnd, L"");
    ::UpdateWindow(hWnd);
    EXPECT_TRUE(PumpUntil([&] { return inkColumns(0, 2 * metrics.tmHeight).first < 0; }));
    text.UnsubclassWindow();
  }
  ::ReleaseDC(nullptr, screen);
  ::DestroyWindow(hWnd);
}

}  // namespace
