#include "foundation/misc/text_convert.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

namespace {

constexpr HRESULT kNoPointer = static_cast<HRESULT>(0x80004003);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kTooLong = static_cast<HRESULT>(0x80070057);
constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one character at s (which is not the terminator) and returns the
// number of octets it takes. An ill-formed sequence yields U+FFFD for the
// octets read before the fault was seen: a lead octet that can never start a
// sequence, or one whose next octet is no continuation, is replaced alone;
// a lead octet and a continuation outside the lead's range (overlong forms,
// surrogates, values above U+10FFFF) are replaced together; a sequence cut
// short by a non-continuation is replaced as far as it went. The terminator
// is never a continuation, so no sequence reaches past it.
size_t DecodeUtf8(const unsigned char* s, char32_t* cp) {
  const unsigned char b = s[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  size_t need;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    lo = b == 0xE0 ? 0xA0 : 0x80;
    hi = b == 0xED ? 0x9F : 0xBF;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    lo = b == 0xF0 ? 0x90 : 0x80;
    hi = b == 0xF4 ? 0x8F : 0xBF;
  } else {
    *cp = kReplacement;
    return 1;
  }
  if (!IsContinuation(s[1])) {
    *cp = kReplacement;
    return 1;
  }
  if (s[1] < lo || s[1] > hi) {
    *cp = kReplacement;
    return 2;
  }
  char32_t value = (b & (0x3F >> need)) << 6 | (s[1] & 0x3F);
  for (size_t i = 2; i <= need; ++i) {
    if (!IsContinuation(s[i])) {
      *cp = kReplacement;
      return i;
    }
    value = value << 6 | (s[i] & 0x3F);
  }
  *cp = value;
  return need + 1;
}

// Decodes one character at s (not the terminator); returns the units taken.
size_t DecodeUtf16(const UTF16CHAR* s, char32_t* cp) {
  const char32_t u = static_cast<std::uint16_t>(s[0]);
  if (u >= 0xD800 && u <= 0xDBFF) {
    const char32_t v = static_cast<std::uint16_t>(s[1]);
    if (v >= 0xDC00 && v <= 0xDFFF) {
      *cp = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
      return 2;
    }
  }
  *cp = (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u;
  return 1;
}

size_t Utf16Units(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

size_t Utf8Octets(char32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

UTF16CHAR* PutUtf16(UTF16CHAR* out, char32_t cp) {
  if (cp >= 0x10000) {
    *out++ = static_cast<UTF16CHAR>(0xD800 + ((cp - 0x10000) >> 10));
    *out++ = static_cast<UTF16CHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  } else {
    *out++ = static_cast<UTF16CHAR>(cp);
  }
  return out;
}

char* PutUtf8(char* out, char32_t cp) {
  const size_t n = Utf8Octets(cp);
  static const unsigned char kLead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
  for (size_t i = n; i-- > 1;) {
    out[i] = static_cast<char>(0x80 | (cp & 0x3F));
    cp >>= 6;
  }
  out[0] = static_cast<char>(kLead[n] | cp);
  return out + n;
}

}  // namespace

HRESULT UTF8ToUTF16(const char* lpszUTF8, UTF16CHAR** ppwszUTF16, DWORD* pdwLength) {
  MR_TRACE("UTF8ToUTF16");
  if (lpszUTF8 == nullptr || ppwszUTF16 == nullptr) {
    return kNoPointer;
  }
  *ppwszUTF16 = nullptr;
  const auto* in = reinterpret_cast<const unsigned char*>(lpszUTF8);

  // Measure: octets with the terminator, then units with the terminator.
  size_t octets = 0;
  size_t units = 1;
  for (const unsigned char* p = in; *p != 0;) {
    char32_t cp;
    const size_t n = DecodeUtf8(p, &cp);
    p += n;
    octets += n;
    units += Utf16Units(cp);
  }
  ++octets;
  if (units > std::numeric_limits<DWORD>::max() || octets > std::numeric_limits<DWORD>::max()) {
    MR_LOG_FAIL(L"Check text length", L"nTextLength > MAXDWORD", kTooLong);
    return kTooLong;
  }
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 16, {static_cast<DWORD>(octets)});
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 17, {static_cast<DWORD>(units)});

  UTF16CHAR* out = new (std::nothrow) UTF16CHAR[units]();
  if (out == nullptr) {
    MR_LOG_FAIL(L"New Memory", L"!lpwszBuffer", kNoMemory);
    return kNoMemory;
  }
  UTF16CHAR* w = out;
  for (const unsigned char* p = in; *p != 0;) {
    char32_t cp;
    p += DecodeUtf8(p, &cp);
    w = PutUtf16(w, cp);
  }
  *w = 0;
  *ppwszUTF16 = out;
  if (pdwLength != nullptr) {
    *pdwLength = static_cast<DWORD>(units - 1);
  }
  return S_OK;
}

HRESULT UTF16ToUTF8(const UTF16CHAR* lpwszUTF16, char** ppszUTF8, DWORD* pdwLength) {
  MR_TRACE("UTF16ToUTF8");
  if (lpwszUTF16 == nullptr || ppszUTF8 == nullptr) {
    return kNoPointer;
  }
  *ppszUTF8 = nullptr;

  size_t octets = 1;
  for (const UTF16CHAR* p = lpwszUTF16; *p != 0;) {
    char32_t cp;
    p += DecodeUtf16(p, &cp);
    octets += Utf8Octets(cp);
  }
  if (octets > std::numeric_limits<DWORD>::max()) {
    MR_LOG_FAIL(L"Check text length", L"nTextLength > MAXDWORD", kTooLong);
    return kTooLong;
  }

  char* out = new (std::nothrow) char[octets]();
  if (out == nullptr) {
    MR_LOG_FAIL(L"New Memory", L"!lpszBuffer", kNoMemory);
    return kNoMemory;
  }
  char* w = out;
  for (const UTF16CHAR* p = lpwszUTF16; *p != 0;) {
    char32_t cp;
    p += DecodeUtf16(p, &cp);
    w = PutUtf8(w, cp);
  }
  *w = 0;
  *ppszUTF8 = out;
  if (pdwLength != nullptr) {
    *pdwLength = static_cast<DWORD>(octets - 1);
  }
  return S_OK;
}

HRESULT UTF8ToUTF16Text(const char* lpszUTF8, std::basic_string<UTF16CHAR>* pText) {
  if (pText == nullptr) {
    return static_cast<HRESULT>(0x80004003);
  }
  UTF16CHAR* converted = nullptr;
  DWORD length = 0;
  const HRESULT hr = UTF8ToUTF16(lpszUTF8, &converted, &length);
  std::unique_ptr<UTF16CHAR[]> owned(converted);
  if (SUCCEEDED(hr)) {
    pText->assign(owned.get(), length);
  }
  return hr;
}

HRESULT UTF16ToUTF8Text(const UTF16CHAR* lpwszUTF16, std::string* pText) {
  if (pText == nullptr) {
    return static_cast<HRESULT>(0x80004003);
  }
  char* converted = nullptr;
  DWORD length = 0;
  const HRESULT hr = UTF16ToUTF8(lpwszUTF16, &converted, &length);
  std::unique_ptr<char[]> owned(converted);
  if (SUCCEEDED(hr)) {
    pText->assign(owned.get(), length);
  }
  return hr;
}
