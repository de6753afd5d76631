// Conversion between UTF-8 and UTF-16 text.
//
// Invalid input is not an error: each ill-formed UTF-8 sequence, and each
// unpaired UTF-16 surrogate, becomes U+FFFD, as the Windows converters do
// when called without flags. Results are new zero-terminated buffers
// allocated with array new; the caller releases them with array delete.
#pragma once

#include <string>

#include "foundation/platform.h"

// A UTF-16 code unit of data text: WCHAR on Windows, char16_t elsewhere
// (wchar_t is 32-bit there).
#ifdef _WIN32
using UTF16CHAR = wchar_t;
#else
using UTF16CHAR = char16_t;
#endif

// Converts zero-terminated UTF-8 text. pdwLength (optional) receives the
// length in UTF-16 units without the terminator. A null text or output
// pointer gives 0x80004003; on any failure *ppwszUTF16 is null.
HRESULT UTF8ToUTF16(const char* lpszUTF8, UTF16CHAR** ppwszUTF16, DWORD* pdwLength);

// Converts zero-terminated UTF-16 text. pdwLength (optional) receives the
// length in octets without the terminator. Failures as above.
HRESULT UTF16ToUTF8(const UTF16CHAR* lpwszUTF16, char** ppszUTF8, DWORD* pdwLength);

// The same conversions into strings; on failure the output is unchanged.
HRESULT UTF8ToUTF16Text(const char* lpszUTF8, std::basic_string<UTF16CHAR>* pText);
HRESULT UTF16ToUTF8Text(const UTF16CHAR* lpwszUTF16, std::string* pText);
