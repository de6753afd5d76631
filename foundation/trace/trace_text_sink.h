// Trace records as text lines, one per record, in the file that the
// environment variable MERRO_TRACE names ("stderr" for the error stream).
// MERRO_TRACE_FLAGS, when set, gives the enable flags (default: all).
//
// The POSIX backend writes every record this way. The Windows backend does
// so too in test builds, where event tracing is no use (under Wine it
// records nothing) and the provider DLL is loaded by advapi32, out of the
// test's reach, so its records can only be read back from a file.
#pragma once

#include "foundation/trace/trace.h"

namespace merro::trace::text {

// Opens the file MERRO_TRACE names and sets the enable flags; whether
// records now go there. Nothing happens when MERRO_TRACE is unset or empty.
bool Open();
// Writes one record when the file is open; whether it was written.
bool Write(const Record& record);
void Close();

}  // namespace merro::trace::text
