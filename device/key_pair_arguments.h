// The argument checks a key-pair operation of the device object starts
// with: the token and container names, the input and its size, and the
// out-pointers of the result and of its length.
#pragma once

#include "foundation/platform.h"

namespace merro::device {

// The parameter names of an operation's input, its size, its result and
// the result's length, as its failure lines give them.
struct KeyPairArgumentNames {
  const wchar_t* in;
  const wchar_t* inSize;
  const wchar_t* out;
  const wchar_t* outSize;
};

// The checks in that order: S_OK, else 0x80070057 with the first failed
// check logged under `function` (step "Check <name>", reason
// "<name> == NULL", or "<name> <= 0" for the size).
HRESULT CheckKeyPairArguments(const char* function, const char* pszDevName,
                              const char* pszContainerName, const BYTE* pbyIn, DWORD dwInSize,
                              BYTE** ppbyOut, DWORD* pdwOutSize, const KeyPairArgumentNames& names);

}  // namespace merro::device
