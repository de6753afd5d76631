// The "FileVersion" text of a file's version resource.
#pragma once

#include <windows.h>

// Copies the FileVersion string (of the first language and code page the
// resource lists) into wszText, truncated to dwCapacity characters with the
// terminator. S_OK, 0x80070057 for a missing argument, or the folded error of
// the version functions; on failure wszText is unchanged.
HRESULT ReadFileVersion(const wchar_t* wszFileName, wchar_t* wszText, DWORD dwCapacity);
