// Status words the library tests for, and their texts for trace lines.
#pragma once

#include "foundation/platform.h"

constexpr WORD MR_SW_SUCCESS = 0x9000;
constexpr WORD MR_SW_WRONG_PIN = 0x63C0;          // low nibble: tries left
constexpr WORD MR_SW_WRONG_LENGTH = 0x6700;
constexpr WORD MR_SW_SECURITY_NOT_SATISFIED = 0x6982;
constexpr WORD MR_SW_FILE_NOT_FOUND = 0x6A82;
constexpr WORD MR_SW_RECORD_FREE = 0x6A83;
constexpr WORD MR_SW_INS_UNKNOWN = 0x6D00;
constexpr WORD MR_SW_USER_CANCELLED = 0xFF06;     // C pressed on the token's display
constexpr WORD MR_SW_CONFIRM_TIMEOUT = 0xFF07;    // no button pressed in time

// Result of a status word: 0x80000000 | sw (0 for 9000).
constexpr HRESULT MrStatusWordResult(WORD sw) {
  return sw == MR_SW_SUCCESS ? 0 : static_cast<HRESULT>(0x80000000u | sw);
}

namespace merro::apdu {
// A short description of a status word for trace lines ("unknown status
// word" for words not in the table).
const wchar_t* StatusWordText(WORD sw);
}  // namespace merro::apdu
