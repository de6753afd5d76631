// UTF-8 <-> UTF-16 conversion: valid text, ill-formed input, trace records.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/misc/text_convert.h"
#include "foundation/trace/trace.h"

namespace {

using Text16 = std::basic_string<UTF16CHAR>;

Text16 T16(const std::u16string& s) { return Text16(s.begin(), s.end()); }

Text16 ToUtf16(const std::string& in, DWORD* length, HRESULT* hr) {
  UTF16CHAR* out = nullptr;
  *hr = UTF8ToUTF16(in.c_str(), &out, length);
  const std::unique_ptr<UTF16CHAR[]> owner(out);
  return out != nullptr ? Text16(out) : Text16();
}

std::string ToUtf8(const Text16& in, DWORD* length, HRESULT* hr) {
  char* out = nullptr;
  *hr = UTF16ToUTF8(in.c_str(), &out, length);
  const std::unique_ptr<char[]> owner(out);
  return out != nullptr ? std::string(out) : std::string();
}

struct Case {
  const char* name;
  std::string utf8;
  std::u16string utf16;
  bool roundTrip;  // the UTF-16 form converts back to the same octets
};

TEST(TextConvert, Utf8ToUtf16Table) {
  const Case cases[] = {
      {"empty", "", u"", true},
      {"ascii", "abc", u"abc", true},
      {"CJK", "\xE4\xB8\xAD\xE6\x96\x87\xE7\xAD\xBE\xE5\x90\x8D", u"\u4E2D\u6587\u7B7E\u540D", true},
      {"outside the BMP", "a\xF0\x9F\x98\x80z", u"a\U0001F600z", true},
      {"largest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
      {"two-octet form", "\xC3\xA9", u"\u00E9", true},
      {"lone continuation", "a\x80z", u"a\uFFFDz", false},
      {"lone lead", "a\xC3z", u"a\uFFFDz", false},
      {"lead at the end", "\xC3", u"\uFFFD", false},
      {"cut three-octet form", "a\xE2\x82z", u"a\uFFFDz", false},
      {"cut four-octet form", "a\xF0\x9F\x98z", u"a\uFFFDz", false},
      {"overlong two-octet", "\xC0\x80", u"\uFFFD\uFFFD", false},
      {"overlong three-octet", "\xE0\x80\x80", u"\uFFFD\uFFFD", false},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"never a lead", "\xF5\x80\xFF\xFE", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"five-octet form", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", false},
      // Windows 10's results for these, as recorded by others' conformance tests.
      {"C0 C0 80", "\xC0\xC0\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"E0 C0", "\xE0\xC0", u"\uFFFD\uFFFD", false},
      {"E0 20 C0", "\xE0\x20\xC0", u"\uFFFD \uFFFD", false},
      {"continuations only", "\x82\xA0\x82\xA2\x82", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"cut four-octet form before the end", "\xF0" "A", u"\uFFFDA", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD length = 0xDEAD;
    HRESULT hr = -1;
    EXPECT_EQ(ToUtf16(c.utf8, &length, &hr), T16(c.utf16));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(length, c.utf16.size());
    if (c.roundTrip) {
      EXPECT_EQ(ToUtf8(T16(c.utf16), &length, &hr), c.utf8);
      EXPECT_EQ(length, c.utf8.size());
    }
  }
}

TEST(TextConvert, Utf16ToUtf8ReplacesUnpairedSurrogates) {
  const struct {
    const char* name;
    std::vector<std::uint16_t> units;
    std::string utf8;
  } cases[] = {
      {"lone high", {'a', 0xD800, 'z'}, "a\xEF\xBF\xBDz"},
      {"lone low", {'a', 0xDC00, 'z'}, "a\xEF\xBF\xBDz"},
      {"high at the end", {0xD83D}, "\xEF\xBF\xBD"},
      {"high high low", {0xD800, 0xD800, 0xDC00}, "\xEF\xBF\xBD\xF0\x90\x80\x80"},
      {"reversed pair", {0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    Text16 in(c.units.begin(), c.units.end());
    DWORD length = 0;
    HRESULT hr = -1;
    EXPECT_EQ(ToUtf8(in, &length, &hr), c.utf8) << c.name;
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(length, c.utf8.size());
  }
}

TEST(TextConvert, MissingPointersGiveNoBuffer) {
  const HRESULT pointer = static_cast<HRESULT>(0x80004003);
  UTF16CHAR* wide = reinterpret_cast<UTF16CHAR*>(&wide);
  EXPECT_EQ(UTF8ToUTF16(nullptr, &wide, nullptr), pointer);
  EXPECT_EQ(UTF8ToUTF16("a", nullptr, nullptr), pointer);
  char* narrow = reinterpret_cast<char*>(&narrow);
  EXPECT_EQ(UTF16ToUTF8(nullptr, &narrow, nullptr), pointer);
  EXPECT_EQ(UTF16ToUTF8(T16(u"a").c_str(), nullptr, nullptr), pointer);
  // The length output is optional.
  ASSERT_EQ(UTF8ToUTF16("ab", &wide, nullptr), S_OK);
  delete[] wide;
}

// The string forms: the whole text, and the output untouched on failure.
TEST(TextConvert, StringForms) {
  std::basic_string<UTF16CHAR> wide = T16(u"old");
  ASSERT_EQ(UTF8ToUTF16Text("\xE5\xAE\xB9-1", &wide), S_OK);
  EXPECT_EQ(wide, T16(u"\u5BB9-1"));
  std::string narrow = "old";
  ASSERT_EQ(UTF16ToUTF8Text(wide.c_str(), &narrow), S_OK);
  EXPECT_EQ(narrow, "\xE5\xAE\xB9-1");
  const HRESULT pointer = static_cast<HRESULT>(0x80004003);
  EXPECT_EQ(UTF8ToUTF16Text(nullptr, &wide), pointer);
  EXPECT_EQ(wide, T16(u"\u5BB9-1"));
  EXPECT_EQ(UTF16ToUTF8Text(nullptr, &narrow), pointer);
  EXPECT_EQ(narrow, "\xE5\xAE\xB9-1");
  EXPECT_EQ(UTF8ToUTF16Text("a", nullptr), pointer);
  EXPECT_EQ(UTF16ToUTF8Text(wide.c_str(), nullptr), pointer);
}

// A PIN converted for the token must not reach any trace record.
TEST(TextConvert, TraceRecordsCarryLengthsNotText) {
  std::vector<merro::trace::Record> records;
  merro::trace::SetSink([&records](const merro::trace::Record& r) { records.push_back(r); });
  merro::trace::SetEnableFlags(0xFFFFFFFF);
  DWORD length = 0;
  HRESULT hr = -1;
  ToUtf16("Pin#2468", &length, &hr);
  ToUtf8(T16(u"Pin#2468"), &length, &hr);
  merro::trace::SetSink({});
  merro::trace::SetEnableFlags(0);

  const auto contains = [](const std::vector<std::uint8_t>& arg, const std::vector<std::uint8_t>& what) {
    return std::search(arg.begin(), arg.end(), what.begin(), what.end()) != arg.end();
  };
  const std::vector<std::uint8_t> narrow{'2', '4', '6', '8'};
  const std::vector<std::uint8_t> wide{'2', 0, '4', 0, '6', 0, '8', 0};
  std::vector<std::uint16_t> valueNumbers;
  for (const auto& r : records) {
    for (const auto& arg : r.args) {
      EXPECT_FALSE(contains(arg, narrow) || contains(arg, wide)) << "record " << r.number;
    }
    if (r.messageGuid == merro::trace::kMiscMessageGuid) {
      valueNumbers.push_back(r.number);
    }
  }
  // Lengths with terminator: 9 octets in, 9 units out.
  EXPECT_EQ(valueNumbers, (std::vector<std::uint16_t>{16, 17}));
}

#ifdef _WIN32
// Wine's converter, when a lead octet announces more octets than are left
// before the end of the text, swallows the rest of the text with the
// terminator; Windows keeps them (as the converter here does).
bool LeadRunsPastTheEnd(const std::string& in) {
  for (size_t i = 0; i < in.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    const size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
    if (i + n > in.size() + 1) {
      return true;
    }
  }
  return false;
}

// The platform's own converters, called without flags, are the reference for
// ill-formed input: every sequence of up to four octets drawn from a set that
// covers each class of lead and continuation octet.
TEST(TextConvert, AgreesWithThePlatformConverters) {
  const unsigned char kOctets[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                                   0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1,
                                   0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFC, 0xFE, 0xFF};
  const size_t n = sizeof kOctets;
  size_t compared = 0;
  for (size_t len = 1; len <= 4; ++len) {
    size_t total = 1;
    for (size_t i = 0; i < len; ++i) {
      total *= n;
    }
    for (size_t k = 0; k < total; ++k) {
      std::string in;
      for (size_t i = 0, v = k; i < len; ++i, v /= n) {
        in.push_back(static_cast<char>(kOctets[v % n]));
      }
      if (LeadRunsPastTheEnd(in)) {
        continue;
      }
      wchar_t expected[16] = {};
      const int units = ::MultiByteToWideChar(CP_UTF8, 0, in.c_str(), -1, expected, 16);
      ASSERT_GT(units, 0);
      DWORD length = 0;
      HRESULT hr = -1;
      const Text16 ours = ToUtf16(in, &length, &hr);
      ASSERT_EQ(ours, Text16(expected)) << "octets " << std::hex << k << " length " << len;
      ++compared;
    }
  }
  EXPECT_GT(compared, 300000u);

  const std::uint16_t kUnits[] = {0x41, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  for (std::uint16_t a : kUnits) {
    for (std::uint16_t b : kUnits) {
      for (std::uint16_t c : kUnits) {
        const wchar_t in[4] = {static_cast<wchar_t>(a), static_cast<wchar_t>(b), static_cast<wchar_t>(c), 0};
        char expected[32] = {};
        ASSERT_GT(::WideCharToMultiByte(CP_UTF8, 0, in, -1, expected, 32, nullptr, nullptr), 0);
        DWORD length = 0;
        HRESULT hr = -1;
        ASSERT_EQ(ToUtf8(Text16(in), &length, &hr), std::string(expected)) << a << " " << b << " " << c;
      }
    }
  }
}
#endif

}  // namespace
