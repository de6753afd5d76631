// The module that holds the calling code: the provider DLL inside the
// provider, the program inside the manager. Our strings, dialogs and pictures
// are loaded from it, never from GetModuleHandle(NULL), which inside the
// provider is the host program.
#pragma once

#include <windows.h>

#include <iterator>
#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace merro::win {

inline HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

// String `id` of this module's table in the thread's language (at most 1023
// characters); empty when the table has no such string.
inline std::wstring LoadThisModuleString(UINT id) {
  wchar_t buffer[1024];
  const int n = ::LoadStringW(ThisModule(), id, buffer, static_cast<int>(std::size(buffer)));
  return n > 0 ? std::wstring(buffer, static_cast<size_t>(n)) : std::wstring();
}

// String `id`, or `fallback` when the table has none: for format strings,
// so that a missing text still formats its arguments.
inline std::wstring LoadThisModuleString(UINT id, const wchar_t* fallback) {
  std::wstring text = LoadThisModuleString(id);
  return text.empty() ? std::wstring(fallback) : text;
}

}  // namespace merro::win
