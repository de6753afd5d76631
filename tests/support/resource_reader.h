// Reading a module's own resources in a given language, without the
// platform's language choice: raw bytes, strings of a string table, dialog
// templates (DLGTEMPLATEEX) and menu texts.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/win/this_module.h"

namespace merro::test {

// The languages of our resources.
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kSimplifiedChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
constexpr LANGID kTraditionalChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);

// The raw bytes of one resource of a module in one language; empty when it
// is missing.
inline std::vector<BYTE> ResourceBytes(HMODULE module, LPCWSTR type, UINT id, LANGID lang) {
  HRSRC info = ::FindResourceExW(module, type, MAKEINTRESOURCEW(id), lang);
  if (info == nullptr) {
    return {};
  }
  const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, info)));
  return data != nullptr ? std::vector<BYTE>(data, data + ::SizeofResource(module, info))
                         : std::vector<BYTE>();
}

// The same, from this module.
inline std::vector<BYTE> ResourceBytes(LPCWSTR type, UINT id, LANGID lang) {
  return ResourceBytes(merro::win::ThisModule(), type, id, lang);
}

// A string of a string table block (16 counted strings per block); empty
// when it is missing.
inline std::wstring StringIn(HMODULE module, UINT id, LANGID lang) {
  const std::vector<BYTE> block = ResourceBytes(module, RT_STRING, id / 16 + 1, lang);
  const auto* p = reinterpret_cast<const WCHAR*>(block.data());
  const WCHAR* end = p + block.size() / sizeof(WCHAR);
  for (UINT i = 0; p < end; ++i) {
    const WORD length = *p++;
    if (i == id % 16) {
      return p + length <= end ? std::wstring(p, length) : std::wstring();
    }
    p += length;
  }
  return {};
}

inline std::wstring StringIn(UINT id, LANGID lang) {
  return StringIn(merro::win::ThisModule(), id, lang);
}

struct Control {
  WORD kind;  // class ordinal: 0x80 button, 0x81 edit, 0x82 static, 0x85 combo box
  DWORD id;
  short x, y, cx, cy;
  DWORD style;
  DWORD exStyle;
  std::wstring text;
};

struct Template {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::wstring caption;
  WORD pointSize = 0;
  std::wstring font;
  std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX; false when the bytes do not hold one.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}

  bool Read(Template* t) {
    WORD version = 0, signature = 0, count = 0;
    DWORD helpId = 0;
    if (!Get(&version) || !Get(&signature) || version != 1 || signature != 0xFFFF ||
        !Get(&helpId) || !Get(&t->exStyle) || !Get(&t->style) || !Get(&count) || !Get(&t->x) ||
        !Get(&t->y) || !Get(&t->cx) || !Get(&t->cy)) {
      return false;
    }
    std::wstring menu, windowClass;
    WORD ordinal = 0;
    if (!SzOrOrd(&menu, &ordinal) || !SzOrOrd(&windowClass, &ordinal) || !Sz(&t->caption)) {
      return false;
    }
    if (t->style & (DS_SETFONT | DS_SHELLFONT)) {
      WORD weight = 0;
      BYTE italic = 0, charset = 0;
      if (!Get(&t->pointSize) || !Get(&weight) || !Get(&italic) || !Get(&charset) || !Sz(&t->font)) {
        return false;
      }
    }
    for (WORD i = 0; i < count; ++i) {
      Control c = {};
      WORD extra = 0;
      m_at = (m_at + 3) & ~size_t{3};
      std::wstring className;
      if (!Get(&helpId) || !Get(&c.exStyle) || !Get(&c.style) || !Get(&c.x) || !Get(&c.y) ||
          !Get(&c.cx) || !Get(&c.cy) || !Get(&c.id) || !SzOrOrd(&className, &c.kind) ||
          !SzOrOrd(&c.text, &ordinal) || !Get(&extra)) {
        return false;
      }
      m_at += extra;
      t->controls.push_back(c);
    }
    return m_at <= m_bytes.size();
  }

 private:
  template <class T>
  bool Get(T* value) {
    if (m_at + sizeof(T) > m_bytes.size()) {
      return false;
    }
    std::memcpy(value, m_bytes.data() + m_at, sizeof(T));
    m_at += sizeof(T);
    return true;
  }
  bool Sz(std::wstring* text) {
    for (WCHAR c = 0; Get(&c) && c != 0;) {
      text->push_back(c);
      if (m_at >= m_bytes.size()) {
        return false;
      }
    }
    return m_at <= m_bytes.size();
  }
  bool SzOrOrd(std::wstring* text, WORD* ordinal) {
    WORD first = 0;
    if (!Get(&first)) {
      return false;
    }
    if (first == 0xFFFF) {
      return Get(ordinal);
    }
    if (first == 0) {
      return true;
    }
    text->push_back(first);
    return Sz(text);
  }

  const std::vector<BYTE>& m_bytes;
  size_t m_at = 0;
};

// The texts of a menu template (MENU, not MENUEX), items of popups included.
inline std::vector<std::wstring> MenuTexts(const std::vector<BYTE>& bytes) {
  std::vector<std::wstring> texts;
  const auto* p = reinterpret_cast<const WCHAR*>(bytes.data());
  const WCHAR* end = p + bytes.size() / sizeof(WCHAR);
  p += 2;  // version and header size, both 0
  while (p < end) {
    const WORD flags = *p++;
    if (!(flags & MF_POPUP) && p < end) {
      ++p;  // the command id
    }
    std::wstring text;
    while (p < end && *p != 0) {
      text.push_back(*p++);
    }
    ++p;
    if (!text.empty()) {
      texts.push_back(text);
    }
  }
  return texts;
}

}  // namespace merro::test
