// Whole-file reading and writing, and creation of directory paths.
// Buffers handed out are allocated with array new; the caller releases them
// with array delete.
#pragma once

#include <windows.h>

// Reads a whole file of at most dwFileLimitSize octets (a file of exactly
// the limit is read; a larger one gives 0x800700DF). Without ppbyFileContent
// only the size is reported. The content buffer holds one zero octet more
// than the file. Outputs are written only on success.
HRESULT ReadFileSimple(LPCWSTR lpwFilePathName, DWORD dwFileLimitSize, BYTE** ppbyFileContent,
                       DWORD* pdwFileSize);

// Writes the data at the start of the file. dwCreateFlag 0 opens or creates
// the file and keeps any longer tail; any other value replaces the file (a
// read-only one included).
HRESULT WriteFileSimple(DWORD dwCreateFlag, LPCWSTR lpwFilePathName, const BYTE* pbyData,
                        DWORD dwDataSize);

// Creates every level of the path that ends in a backslash: for C:\a\b\ the
// folders C:\a and C:\a\b, for C:\a\b only C:\a. Existing folders are kept;
// an existing file in the way gives 0x8007010B, a level longer than 259
// characters 0x800700CE.
HRESULT CreateDirectories(LPCWSTR wszDirectory);
