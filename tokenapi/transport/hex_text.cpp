#include "tokenapi/transport/hex_text.h"

#include "foundation/misc/hex_digit.h"
#include "foundation/trace/trace.h"

using merro::HexDigitValue;

WORD HexTextToWord(const char16_t* pText) {
  MR_TRACE("HexTextToWord");
  if (pText == nullptr) {
    return 0;
  }
  WORD value = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = HexDigitValue(pText[i]);  // stops at the terminator: not a digit
    if (d < 0) {
      return 0;
    }
    value = static_cast<WORD>((value << 4) | d);
  }
  return value;
}

void HexTextToBytes(const char16_t* pText, WORD* pOut, DWORD* pCount) {
  MR_TRACE("HexTextToBytes");
  if (pCount == nullptr) {
    return;
  }
  const DWORD capacity = (pText == nullptr || pOut == nullptr) ? 0 : *pCount;
  DWORD n = 0;
  while (n < capacity) {
    const int hi = HexDigitValue(pText[2 * n]);
    if (hi < 0) {
      break;
    }
    const int lo = HexDigitValue(pText[2 * n + 1]);
    if (lo < 0) {
      break;
    }
    pOut[n++] = static_cast<WORD>((hi << 4) | lo);
  }
  *pCount = n;
}
