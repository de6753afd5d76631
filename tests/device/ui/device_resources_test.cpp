// The device layer's resources as a program carries them: every string in
// the three languages, the four dialog templates control by control in
// English and simplified Chinese, and the token picture.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/win/image_load.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/picture_edges.h"
#include "tests/support/resource_reader.h"

namespace {

using merro::test::Control;
using merro::test::ResourceBytes;
using merro::test::StringIn;
using merro::test::Template;
using merro::test::TemplateReader;

constexpr LANGID kEnglish = merro::test::kEnglish;
constexpr LANGID kSimplified = merro::test::kSimplifiedChinese;
constexpr LANGID kTraditional = merro::test::kTraditionalChinese;

struct StringCase {
  UINT id;
  const wchar_t* english;
};

const std::wstring kConfirmText =
    L"Information Confirmation\nPress \"OK\" to confirm the current transaction, or press "
    L"\"C\" to cancel.";

const StringCase kStrings[] = {
    {IDS_INPUT_PIN, L"Please input PIN"},
    {IDS_PIN_RETRY, L"PIN error, please retry:"},
    {IDS_REMAINING_TIMES, L"Remaining times for PIN input:"},
    {IDS_INPUT_ADMIN_PIN, L"Please input administrator PIN"},
    {IDS_CHECK_ADMIN_PIN, L"Check administrator PIN"},
    {IDS_TRANSACTION_TIPS, nullptr},  // ten spaces and kConfirmText
    {IDS_OPERATION_CONFIRM, nullptr},
    {IDS_TAKE_CAUTION, L"please take caution"},
    {IDS_TRIES_FORMAT, L"%ls %d"},
    {IDS_OPERATION_TIPS_FORMAT, L"%ls %d, %ls.\n%ls"},
    {IDS_CONFIRM_HEADING, L"Information Confirmation"},
};

TEST(DeviceStrings, EveryStringInEveryLanguage) {
  for (const StringCase& s : kStrings) {
    SCOPED_TRACE(s.id);
    const std::wstring english = StringIn(s.id, kEnglish);
    EXPECT_EQ(english, s.english != nullptr ? std::wstring(s.english)
                                            : std::wstring(10, L' ') + kConfirmText);
    for (LANGID lang : {kSimplified, kTraditional}) {
      const std::wstring text = StringIn(s.id, lang);
      EXPECT_FALSE(text.empty()) << "language " << lang;
      EXPECT_NE(text, english) << "language " << lang;
    }
  }
  // The confirmation texts: the heading, a line break, the request. The
  // dialog centres the line that is the heading string; the English text
  // keeps its leading spaces, the Chinese ones have none.
  const struct {
    LANGID lang;
    const wchar_t* heading;
    size_t spaces;
  } kHeadings[] = {{kEnglish, L"Information Confirmation", 10},
                   {kSimplified, L"信息确认", 0},
                   {kTraditional, L"資訊確認", 0}};
  for (const auto& h : kHeadings) {
    SCOPED_TRACE(h.lang);
    EXPECT_EQ(StringIn(IDS_CONFIRM_HEADING, h.lang), h.heading);
    const std::wstring text = StringIn(IDS_TRANSACTION_TIPS, h.lang);
    EXPECT_EQ(text.rfind(std::wstring(h.spaces, L' ') + h.heading + L"\n", 0), 0u);
    EXPECT_EQ(text, StringIn(IDS_OPERATION_CONFIRM, h.lang));
  }
}

constexpr WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kCombo = 0x85;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kCaptioned = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kCaptionless = DS_SETFONT | DS_CENTER | WS_POPUP | WS_BORDER | WS_SYSMENU;
const std::wstring kFourteen(14, L' ');

struct Texts {
  const wchar_t* english;
  const wchar_t* simplified;
};

struct ExpectedControl {
  WORD kind;
  DWORD id;
  short x, y, cx, cy;
  DWORD style;
  Texts text;
};

struct ExpectedDialog {
  UINT id;
  short cx, cy;
  DWORD style;
  Texts caption;
  Texts font;
  WORD englishPoints, simplifiedPoints;
  std::vector<ExpectedControl> controls;
};

const Texts kNoText = {L"", L""};
// Marks the confirmation text: the language's default text (ConfirmText).
const Texts kConfirm = {nullptr, nullptr};

const std::vector<ExpectedDialog>& ExpectedDialogs() {
  static const std::vector<ExpectedDialog> dialogs = {
      {IDD_SELECT_KEY, 183, 63, kCaptioned, {L"Select Key", L"选择Key"}, {L"MS Shell Dlg", L"宋体"}, 8, 9,
       {{kStatic, 0xFFFFFFFF, 7, 8, 95, 8, kLabel, {L"Please select one key:", L"请选择一个Key："}},
        {kCombo, IDC_KEY_LIST, 7, 20, 167, 30, kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kNoText},
        {kButton, IDC_SELECT_OK, 66, 43, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, {L"OK", L"确定"}},
        {kButton, IDC_SELECT_CANCEL, 124, 43, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, {L"Cancel", L"取消"}}}},
      {IDD_INPUT_PIN, 161, 75, kCaptioned, {L"Check PIN", L"验证PIN码"}, {L"MS Shell Dlg", L"宋体"}, 8, 9,
       {{kStatic, IDC_PIN_PROMPT, 7, 9, 147, 8, kLabel, kNoText},
        {kEdit, IDC_PIN_EDIT, 7, 21, 147, 16,
         kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_PASSWORD | ES_AUTOHSCROLL, kNoText},
        {kStatic, IDC_PIN_TRIES, 7, 42, 147, 8, kLabel, kNoText},
        {kButton, IDC_PIN_OK, 47, 54, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, {L"OK", L"确定"}},
        {kButton, IDC_PIN_CANCEL, 104, 54, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, {L"Cancel", L"取消"}}}},
      // The confirmations have one font in both languages: one size on the screen.
      {IDD_OPERATION_CONFIRM, 170, 44, kCaptionless, kNoText,
       {L"Microsoft Sans Serif", L"Microsoft Sans Serif"}, 12, 12,
       {{kStatic, IDC_CONFIRM_TEXT, 7, 6, 157, 33, kLabel, kConfirm}}},
      {IDD_TRANSACTION_CONFIRM, 144, 187, kCaptionless, kNoText,
       {L"Microsoft Sans Serif", L"Microsoft Sans Serif"}, 12, 12,
       {{kStatic, IDC_CONFIRM_TEXT, 7, 8, 125, 29, kLabel, kConfirm},
        {kStatic, IDC_TOKEN_PICTURE, 32, 43, 108, 143, kLabel, kNoText}}},
  };
  return dialogs;
}

std::wstring ConfirmText(bool english) {
  return english ? kFourteen + kConfirmText
                 : std::wstring(L"信息确认\n请核对Key屏幕显示的信息，确认请按Key上的“OK”键，"
                                L"取消请按“C”键。");
}

TEST(DeviceDialogs, TemplatesHoldExactlyTheirControls) {
  for (const ExpectedDialog& d : ExpectedDialogs()) {
    for (bool english : {true, false}) {
      SCOPED_TRACE(testing::Message() << "dialog " << d.id << (english ? " en" : " zh-CN"));
      Template t;
      ASSERT_TRUE(TemplateReader(ResourceBytes(RT_DIALOG, d.id, english ? kEnglish : kSimplified)).Read(&t));
      EXPECT_EQ(t.style, d.style);
      EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_TOPMOST));
      EXPECT_EQ(t.cx, d.cx);
      EXPECT_EQ(t.cy, d.cy);
      EXPECT_EQ(t.caption, english ? d.caption.english : d.caption.simplified);
      EXPECT_EQ(t.font, english ? d.font.english : d.font.simplified);
      EXPECT_EQ(t.pointSize, english ? d.englishPoints : d.simplifiedPoints);
      ASSERT_EQ(t.controls.size(), d.controls.size());
      for (size_t i = 0; i < d.controls.size(); ++i) {
        const ExpectedControl& e = d.controls[i];
        const Control& c = t.controls[i];
        SCOPED_TRACE(testing::Message() << "control " << e.id);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
        EXPECT_EQ(c.style, e.style) << std::hex << c.style << " vs " << e.style;
        EXPECT_EQ(c.exStyle, 0u);
        const std::wstring text = e.text.english == nullptr
                                      ? ConfirmText(english)
                                      : (english ? e.text.english : e.text.simplified);
        EXPECT_EQ(c.text, text);
      }
    }
    // No traditional Chinese templates: that run gets the platform's choice.
    EXPECT_TRUE(ResourceBytes(RT_DIALOG, d.id, kTraditional).empty()) << d.id;
  }
}

TEST(DeviceDialogs, TokenPictureDecodes) {
  ASSERT_FALSE(ResourceBytes(L"PNG", IDR_TOKEN_PNG, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)).empty());
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  {
    Gdiplus::Image* image = nullptr;
    ASSERT_EQ(LoadImageFromResource(merro::win::ThisModule(), IDR_TOKEN_PNG, L"PNG", &image), S_OK);
    std::unique_ptr<Gdiplus::Image> owned(image);
    // About 180 x 280 pixels: drawn unscaled, it fills the 108 x 143 unit
    // picture control at a 12-point font.
    EXPECT_GE(image->GetWidth(), 160u);
    EXPECT_LE(image->GetWidth(), 200u);
    EXPECT_GE(image->GetHeight(), 260u);
    EXPECT_LE(image->GetHeight(), 300u);
    // It stands on the dialog's grey: transparent all round its edges (no
    // frame, no white square of its own).
    ASSERT_EQ(image->GetType(), Gdiplus::ImageTypeBitmap);
    auto* bitmap = static_cast<Gdiplus::Bitmap*>(image);
    for (const Gdiplus::ARGB pixel : merro::test::EdgePixels(*bitmap)) {
      ASSERT_EQ(pixel >> 24, 0u) << std::hex << "edge pixel " << pixel;
    }
    // No black outlines (the renderer's, around shapes that name no stroke).
    EXPECT_EQ(merro::test::CountPixels(*bitmap, 0xFF000000u), 0u);
  }
  Gdiplus::GdiplusShutdown(token);
}

}  // namespace
