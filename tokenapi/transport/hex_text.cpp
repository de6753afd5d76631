#include "tokenapi/transport/hex_text.h"

#include "foundation/trace/trace.h"

namespace {

// Value of one hexadecimal digit, or -1.
int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  return -1;
}

}  // namespace

WORD HexTextToWord(const char16_t* pText) {
  MR_TRACE("HexTextToWord");
  if (pText == nullptr) {
    return 0;
  }
  WORD value = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = HexDigit(pText[i]);  // stops at the terminator: not a digit
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
    const int hi = HexDigit(pText[2 * n]);
    if (hi < 0) {
      break;
    }
    const int lo = HexDigit(pText[2 * n + 1]);
    if (lo < 0) {
      break;
    }
    pOut[n++] = static_cast<WORD>((hi << 4) | lo);
  }
  *pCount = n;
}
