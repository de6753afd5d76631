// Folding of Win32 error values and lower-layer results into HRESULTs.
#pragma once

#include "foundation/platform.h"

namespace merro {

// A Win32 last-error value n > 0 becomes (n & 0xFFFF) | 0xA0070000 when bit
// 29 (the customer bit) is set, else (n & 0xFFFF) | 0x80070000; 0 and
// negative values stay as they are.
constexpr HRESULT FoldWin32Error(LONG n) {
  if (n <= 0) {
    return static_cast<HRESULT>(n);
  }
  const std::uint32_t u = static_cast<std::uint32_t>(n);
  return static_cast<HRESULT>((u & 0xFFFFu) | ((u & 0x20000000u) ? 0xA0070000u : 0x80070000u));
}

// The result of a lower call or Windows function: -1 stands for "see the
// thread's last error"; everything else folds as above.
inline HRESULT FoldResult(LONG r) {
  if (r == -1) {
    r = static_cast<LONG>(::GetLastError());
  }
  return FoldWin32Error(r);
}

// The folded last error of a Win32 call that just failed.
inline HRESULT LastErrorResult() { return FoldWin32Error(static_cast<LONG>(::GetLastError())); }

}  // namespace merro

#define HRESULT_FROM_TOKEN_ERROR(r) (::merro::FoldResult(static_cast<LONG>(r)))
