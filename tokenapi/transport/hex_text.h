// Hexadecimal digits in UTF-16 text, as device instance IDs carry them.
#pragma once

#include "foundation/platform.h"

// Reads exactly four characters, most significant digit first; 0 when any of
// them is not a hexadecimal digit (the text's terminator included).
WORD HexTextToWord(const char16_t* pText);

// Turns pairs of hexadecimal characters (high digit first) into values 0-255,
// one per 16-bit element of pOut. Stops at the end of the text, at a
// character that is not a hexadecimal digit, before a final unpaired digit,
// or when *pCount elements are stored; *pCount receives the number stored.
void HexTextToBytes(const char16_t* pText, WORD* pOut, DWORD* pCount);
