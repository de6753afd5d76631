// The RSA key record of the token API (780 bytes): byte strings most
// significant byte first, left-aligned in their arrays, lengths in bytes. A
// public key alone is the first four fields.
#pragma once

#include "foundation/platform.h"

constexpr DWORD MR_RSA_MAX_BYTES = 256;  // 2048-bit keys

struct RSA_KEY {
  BYTE n[MR_RSA_MAX_BYTES];  // modulus
  DWORD nLen;
  BYTE e[MR_RSA_MAX_BYTES];  // public exponent
  DWORD eLen;
  BYTE d[MR_RSA_MAX_BYTES];  // private exponent
  DWORD dLen;
};
static_assert(sizeof(RSA_KEY) == 780, "RSA_KEY is a 780-byte record");
