// GUIDs in registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include "foundation/misc/text_convert.h"
#include "foundation/platform.h"
#include "foundation/trace/trace.h"

// Characters of the registry form, without the terminator.
constexpr size_t kGUIDStringLength = 38;
// Capacity of the buffer that CreateGUIDString fills, in UTF-16 units.
constexpr size_t kGUIDStringCapacity = 64;

// Writes the registry form of guid with a terminator into pwszBuffer
// (cchBuffer units); returns the characters written without the terminator,
// or 0 (nothing written) when the buffer is null or shorter than 39 units.
size_t FormatGUIDString(const merro::trace::Guid& guid, UTF16CHAR* pwszBuffer, size_t cchBuffer);

// Makes a new random GUID and writes its registry form into the caller's
// buffer of kGUIDStringCapacity units. Result S_OK, 0x80070057 for a null
// buffer, or the failure of the GUID source.
HRESULT CreateGUIDString(UTF16CHAR* pwszGUID);
