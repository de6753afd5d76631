// Tracing of the provider library: its flag bits, its message GUIDs and the
// check lines of the provider core, on the foundation's tracer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "foundation/trace/trace.h"

namespace merro::csp {

// Flag bits of the provider's records.
constexpr DWORD TRACE_FLAG_CSPCORE = 0x01;   // the core's check lines
constexpr DWORD TRACE_FLAG_ERROR = 0x02;     // failure lines
constexpr DWORD TRACE_FLAG_INFO = 0x04;      // success lines, the entry point's reason events
constexpr DWORD TRACE_FLAG_FUNCTION = 0x08;  // entry and exit records

// The general message GUID (entry, exit, check and result lines): the
// foundation's provider profile carries it, so TraceHelper uses it too.
const trace::Guid& GeneralMessageGuid();
// The entry point's reason events 10 to 13.
extern const trace::Guid kDllMainMessageGuid;
// The core's argument messages, numbered by each function.
extern const trace::Guid kCoreArgumentMessageGuid;

constexpr size_t kCSPMessageCapacity = 512;

// printf-style formatting into a caller's line buffer: never writes past it
// and always terminates it; a longer line is cut. Returns the characters
// written, without the terminator.
int FormatCSPMessage(wchar_t (&buffer)[kCSPMessageCapacity], const wchar_t* format, ...);

// The core's check lines, message 12 under TRACE_FLAG_CSPCORE:
// "<function> - <step> SUCCESS" and "<function> - <step> (Error code: 0x%08x)".
void TraceCoreStep(const char* function, const wchar_t* step);
void TraceCoreStepFailed(const char* function, const wchar_t* step, HRESULT code);

// Some of a call's arguments as one numbered message of the core's argument
// GUID, under TRACE_FLAG_INFO or TRACE_FLAG_CSPCORE.
void TraceCoreArguments(std::uint16_t number, DWORD flag,
                        std::initializer_list<trace::Value> values);

// The numbers of the core's argument messages: one per core function.
enum class CoreArguments : std::uint16_t {
  kAcquireContext = 1,
  kCreateHash,
  kDecrypt,
  kDeriveKey,
  kDestroyHash,
  kDestroyKey,
  kDuplicateHash,
  kDuplicateKey,
  kEncrypt,
  kExportKey,
  kGenKey,
  kGenRandom,
  kGetHashParam,
  kGetKeyParam,
  kGetProvParam,
  kGetUserKey,
  kHashData,
  kHashSessionKey,
  kImportKey,
  kReleaseContext,
  kSetHashParam,
  kSetKeyParam,
  kSetProvParam,
  kSignHash,
  kVerifySignature,
};

// A core function's arguments as its message, under TRACE_FLAG_INFO: flags,
// lengths, parameter and blob-type numbers, key specifications, a container
// name ("NULL" when absent). Never a PIN, key bytes or a buffer's content.
void TraceCoreArguments(CoreArguments message, std::initializer_list<trace::Value> values);

// A length the caller passes by pointer, 0 when there is none.
inline DWORD LengthAt(const DWORD* pdwLength) { return pdwLength != nullptr ? *pdwLength : 0; }

}  // namespace merro::csp
