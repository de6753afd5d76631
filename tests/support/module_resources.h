// The raw resources of a module as the resource compiler wrote them, read
// per language (FindResourceExW): a test sees exactly which languages hold a
// resource, with none of the platform's fallback to another language.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace merro::testing {

// The bytes of one resource in one language; empty when it is missing.
inline std::vector<BYTE> ResourceBytes(HMODULE module, LPCWSTR type, UINT id, LANGID lang) {
  HRSRC info = ::FindResourceExW(module, type, MAKEINTRESOURCEW(id), lang);
  if (info == nullptr) {
    return {};
  }
  const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, info)));
  return data != nullptr ? std::vector<BYTE>(data, data + ::SizeofResource(module, info))
                         : std::vector<BYTE>();
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

}  // namespace merro::testing
