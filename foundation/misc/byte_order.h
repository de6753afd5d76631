// Reversal of byte strings between the little-endian order of CryptoAPI
// blobs and the big-endian order of token values.
#pragma once

#include "foundation/platform.h"

// Reverses the first dwLength bytes of pbyData in place; a length of 0 or 1
// (or a null pointer) changes nothing.
void SwapByteOrder(BYTE* pbyData, DWORD dwLength);
