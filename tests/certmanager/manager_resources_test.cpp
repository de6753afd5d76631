// The texts and pictures of the manager as a customer reads them, with the
// device layer's resources it carries: in each Chinese language every string,
// dialog and menu text uses the language's punctuation and one term per
// thing, the same thing is worded the same in both deliverables' tables, and
// the pictures stand on their background without a frame of their own.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/win/image_load.h"
#include "foundation/win/this_module.h"
#include "resources/certmanager/certmanager_resource_ids.h"
#include "resources/certmanager/certmanager_string_ids.h"
#include "resources/device/device_resource_ids.h"
#include "tests/support/picture_edges.h"
#include "tests/support/resource_reader.h"

namespace {

using namespace merro::test;  // the resource reader and its languages

std::string Utf8(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::vector<UINT> ResourceIds(LPCWSTR type) {
  std::vector<UINT> ids;
  ::EnumResourceNamesW(
      merro::win::ThisModule(), type,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
        if (IS_INTRESOURCE(name)) {
          reinterpret_cast<std::vector<UINT>*>(param)->push_back(
              static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
        }
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&ids));
  return ids;
}

Template DialogIn(UINT id, LANGID lang) {
  Template t;
  TemplateReader(ResourceBytes(RT_DIALOG, id, lang)).Read(&t);
  return t;
}

std::wstring ControlText(const Template& t, DWORD id) {
  for (const auto& c : t.controls) {
    if (c.id == id) {
      return c.text;
    }
  }
  return {};
}

// Every text of the module in `lang`: strings, dialog captions and control
// texts, menu items; each with where it comes from.
struct Text {
  std::string where;
  std::wstring text;
};

std::vector<Text> AllTexts(LANGID lang) {
  std::vector<Text> texts;
  for (UINT block : ResourceIds(RT_STRING)) {
    if (ResourceBytes(RT_STRING, block, lang).empty()) {
      continue;
    }
    for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
      const std::wstring s = StringIn(id, lang);
      if (!s.empty()) {
        texts.push_back({"string " + std::to_string(id), s});
      }
    }
  }
  for (UINT id : ResourceIds(RT_DIALOG)) {
    const Template t = DialogIn(id, lang);
    texts.push_back({"dialog " + std::to_string(id) + " caption", t.caption});
    for (const auto& c : t.controls) {
      texts.push_back({"dialog " + std::to_string(id) + " control " + std::to_string(c.id), c.text});
    }
  }
  for (UINT id : ResourceIds(RT_MENU)) {
    for (const std::wstring& item : MenuTexts(ResourceBytes(RT_MENU, id, lang))) {
      texts.push_back({"menu " + std::to_string(id), item});
    }
  }
  return texts;
}

bool HasChinese(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c >= 0x4E00 && c <= 0x9FFF) {
      return true;
    }
  }
  return false;
}

TEST(ManagerTexts, ChineseTextsUseTheLanguagesPunctuationAndTerms) {
  const struct {
    LANGID lang;
    std::vector<std::wstring> foreignTerms;  // another term for a thing, or mainland usage
  } kLanguages[] = {
      {kSimplifiedChinese, {L"UKey", L"USBKEY", L"MerroManager"}},
      {kTraditionalChinese,
       {L"UKey", L"USBKEY", L"MerroManager", L"設備", L"用戶", L"幫助", L"信息", L"熱線", L"默認",
        L"檢測", L"軟件", L"網絡", L"登錄"}},
  };
  for (const auto& l : kLanguages) {
    SCOPED_TRACE(l.lang);
    const std::vector<Text> texts = AllTexts(l.lang);
    size_t chinese = 0;
    for (const Text& t : texts) {
      if (!HasChinese(t.text)) {
        continue;  // a number, a product name, an empty label
      }
      ++chinese;
      EXPECT_EQ(t.text.find_first_of(L",.:;!?\""), std::wstring::npos)
          << t.where << ": " << Utf8(t.text);
      for (const std::wstring& term : l.foreignTerms) {
        EXPECT_EQ(t.text.find(term), std::wstring::npos)
            << t.where << " says " << Utf8(term) << ": " << Utf8(t.text);
      }
    }
    EXPECT_GT(chinese, 80u) << "the texts were found";
  }
}

TEST(ManagerTexts, OneThingIsWordedTheSameEverywhere) {
  for (LANGID lang : {kSimplifiedChinese, kTraditionalChinese}) {
    SCOPED_TRACE(lang);
    // The provider's texts and the manager's for the same warning and tries.
    EXPECT_EQ(StringIn(IDS_DEFAULT_PIN_CAPTION, lang), StringIn(IDS_DEFAULT_PIN_DETECTED, lang));
    EXPECT_EQ(StringIn(IDS_DEFAULT_PIN_WARNING, lang), StringIn(IDS_DEFAULT_USER_PIN, lang));
    EXPECT_EQ(StringIn(IDS_REMAINING_TIMES, lang), StringIn(IDS_LEFT_TIMES, lang));
    // A button and the dialog it opens.
    const Template main = DialogIn(IDD_MAIN, lang);
    EXPECT_EQ(DialogIn(IDD_MODIFY_DEV_NAME, lang).caption, ControlText(main, IDC_MOD_DEV_NAME));
    EXPECT_EQ(DialogIn(IDD_HELP, lang).caption.rfind(ControlText(main, IDC_HELP_BUTTON), 0), 0u)
        << Utf8(DialogIn(IDD_HELP, lang).caption);
  }
  for (LANGID lang : {kEnglish, kSimplifiedChinese, kTraditionalChinese}) {
    EXPECT_EQ(DialogIn(IDD_MODIFY_PIN, lang).caption, StringIn(IDS_MODIFY_USER_PIN, lang)) << lang;
  }
}

// ---- pictures ---------------------------------------------------------------

class GdiplusRun : public testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override {
    if (m_token != 0) {
      Gdiplus::GdiplusShutdown(m_token);
    }
  }
  ULONG_PTR m_token = 0;
};

TEST_F(GdiplusRun, TreeImagesStandOnTheirMaskColourAndTheLogoOnNothing) {
  // The tree's image list masks #FF00FF: each picture stands on it, corners
  // included, and no pixel is black (a frame over the tree's lines).
  for (UINT id : {IDB_TREE_TOKEN, IDB_TREE_RSA_CERT, IDB_TREE_SM2_CERT, IDB_TREE_ROOT}) {
    SCOPED_TRACE(id);
    HBITMAP hBitmap = static_cast<HBITMAP>(::LoadImageW(
        merro::win::ThisModule(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(hBitmap, nullptr);
    {
      Gdiplus::Bitmap bitmap(hBitmap, nullptr);
      EXPECT_EQ(bitmap.GetWidth(), 24u);
      EXPECT_EQ(bitmap.GetHeight(), 24u);
      for (const POINT p : {POINT{0, 0}, POINT{23, 0}, POINT{0, 23}, POINT{23, 23}}) {
        Gdiplus::Color c;
        ASSERT_EQ(bitmap.GetPixel(p.x, p.y, &c), Gdiplus::Ok);
        EXPECT_EQ(c.GetValue(), 0xFFFF00FFu) << std::hex << p.x << "," << p.y;
      }
      // The pictures use no pure black: black pixels are outlines the
      // renderer drew around a shape that names no stroke.
      EXPECT_EQ(CountPixels(bitmap, 0xFF000000u), 0u);
    }
    ::DeleteObject(hBitmap);
  }
  // The logo is drawn with its alpha over the dialog: transparent edges.
  Gdiplus::Image* image = nullptr;
  ASSERT_EQ(LoadImageFromResource(merro::win::ThisModule(), IDR_LOGO_PNG, L"PNG", &image), S_OK);
  std::unique_ptr<Gdiplus::Image> owned(image);
  ASSERT_EQ(image->GetType(), Gdiplus::ImageTypeBitmap);
  auto* logo = static_cast<Gdiplus::Bitmap*>(image);
  for (const Gdiplus::ARGB pixel : EdgePixels(*logo)) {
    ASSERT_EQ(pixel >> 24, 0u) << std::hex << "edge pixel " << pixel;
  }
  EXPECT_EQ(CountPixels(*logo, 0xFF000000u), 0u);
}

}  // namespace
