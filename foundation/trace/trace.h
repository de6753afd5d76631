// Scope tracer and log lines.
//
// Every function of the system opens a TraceHelper as its first statement;
// steps and failures are reported as log lines. Records go to Windows event
// tracing (WPP style) or, when one is installed, to an injected sink, so
// that tests can observe them. Tracing never changes a result or the
// thread's last-error value.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/platform.h"

namespace merro::trace {

// A GUID with the layout of the Windows GUID structure.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
  bool operator==(const Guid& o) const {
    return data1 == o.data1 && data2 == o.data2 && data3 == o.data3 && data4 == o.data4;
  }
};

// The control GUID shared by both deliverables, so that one enable turns
// tracing on in the manager and in the provider together.
extern const Guid kControlGuid;
// Message GUIDs of the value-record sources.
extern const Guid kMiscMessageGuid;
extern const Guid kFunctionInterfaceMessageGuid;

// Message numbers of the library's records.
enum MessageNumber : std::uint16_t {
  kMsgFunctionEntry = 10,
  kMsgFunctionExit = 11,
  kMsgCoreStepLine = 12,  // the provider core's check lines (one text argument)
  kMsgFailureLine = 13,
  kMsgStepLine = 14,
};

// The two deliverables use different message GUIDs and flag bits.
enum class Deliverable { CertManager, Provider };

struct Profile {
  Guid messageGuid;    // entry, exit, step and failure records
  DWORD functionFlag;  // entry and exit records
  DWORD errorFlag;     // failure lines
  DWORD infoFlag;      // step and success lines
  DWORD valueFlag;     // value records of the Misc and FunctionInterface sources
};

// Selects the deliverable's profile; done once at start-up. The provider
// profile is in force until then.
void Configure(Deliverable deliverable);
const Profile& CurrentProfile();
const Profile& ProfileOf(Deliverable deliverable);

// One trace record as it would be handed to TraceMessage: the arguments are
// the byte images that travel (strings with their terminators).
struct Record {
  Guid messageGuid;
  std::uint16_t number;
  DWORD flag;
  std::vector<std::vector<std::uint8_t>> args;
};
using Sink = std::function<void(const Record&)>;

// Installs a sink that receives every record that would be sent, and marks
// tracing as registered. An empty sink removes it again.
void SetSink(Sink sink);

// Enable flags, level and registration state of the control block. Written
// by the control callback (or by tests), read by every trace site.
void SetEnableFlags(DWORD flags);
DWORD EnableFlags();
bool IsRegistered();

// Registers tracing for this process (Windows: event tracing with the
// control GUID and the global-logger start-up values; elsewhere: a line
// sink when the environment variable MERRO_TRACE names "stderr" or a file).
void Register();
void Unregister();

}  // namespace merro::trace

// The start-up and shut-down calls of the deliverables. WppLoadTraceMessage
// looks up the system's trace-message functions (a replacement sender is
// used when they are missing); WppInitUm registers tracing; WppCleanupUm
// unregisters it and marks tracing off. None of them reports a failure.
void WppLoadTraceMessage();
void WppInitUm();
void WppCleanupUm();

namespace merro::trace {

// Senders, one per argument shape. They apply the substitutions for absent
// and empty strings and send nothing unless the flag bit is enabled.
void WppTraceAnsiString(const Guid& messageGuid, std::uint16_t number, DWORD flag,
                        const char* text);
void WppTraceWideString(const Guid& messageGuid, std::uint16_t number, DWORD flag,
                        const wchar_t* text);
void WppTraceWideStringResult(const Guid& messageGuid, std::uint16_t number, DWORD flag,
                              const wchar_t* text, LONG result);

// A value record: 32-bit values, UTF-16 strings and 8-bit strings, in order.
struct Value {
  Value(DWORD v) : isText(false), number(v) {}  // NOLINT: implicit by design
  Value(const wchar_t* t) : isText(true), text(t) {}  // NOLINT
  Value(const char* t) : isText(true), narrowText(t), isNarrow(true) {}  // NOLINT
  bool isText;
  DWORD number = 0;
  const wchar_t* text = nullptr;
  const char* narrowText = nullptr;
  bool isNarrow = false;
};
// Under the deliverable's value flag.
void TraceValues(const Guid& sourceGuid, std::uint16_t number, std::initializer_list<Value> values);
// Under the given flag bit.
void TraceValues(const Guid& sourceGuid, std::uint16_t number, DWORD flag,
                 std::initializer_list<Value> values);

// A record with a message number and no arguments (the provider's reason
// events).
void WppTraceEvent(const Guid& messageGuid, std::uint16_t number, DWORD flag);

// Length of the line buffer, in characters with the terminator.
constexpr size_t kLineCapacity = 512;

// "<function> - <step>", sent with result 0.
std::wstring FormatStepLine(const char* function, const wchar_t* step);
// "[<source>(<line>):] <function> - <step> [Reason:<reason>]"; <source> is
// the file name of sourceFile without folder and extension.
std::wstring FormatFailureLine(const char* sourceFile, int line, const char* function,
                               const wchar_t* step, const wchar_t* reason);

// Message 13 under the error flag for a negative result, else message 14
// under the info flag.
void TraceResultMessage(const wchar_t* line, LONG result);

void LogStep(const char* function, const wchar_t* step, LONG result = 0);
void LogFailure(const char* sourceFile, int line, const char* function, const wchar_t* step,
                const wchar_t* reason, LONG result);

}  // namespace merro::trace

namespace merro::trace {

// The function name that failure and step lines report under. On its own
// it sends nothing: a helper opens one to report under its caller's name.
class FailureScope {
 public:
  explicit FailureScope(const char* functionName) : m_pszFunctionName(functionName) {}
  const char* Name() const { return m_pszFunctionName; }

 private:
  const char* m_pszFunctionName;
};

}  // namespace merro::trace

// Entry and exit records for the scope that owns it, which names the
// function of its failure and step lines.
class TraceHelper : public merro::trace::FailureScope {
 public:
  explicit TraceHelper(const char* functionName);
  virtual ~TraceHelper();
  TraceHelper(const TraceHelper&) = delete;
  TraceHelper& operator=(const TraceHelper&) = delete;
};

// The one way to log. A function opens its scope with MR_TRACE; a helper
// that reports for its caller takes the caller's name (MR_TRACE_FUNCTION)
// as a `const char* function` and opens MR_TRACE_UNDER(function). The
// other macros log through whichever scope is open.
//
// Failure lines name their source: by default the file's own name; a file
// whose functions report under another source name (for example "Misc")
// redefines MR_TRACE_SOURCE after its includes.
#define MR_TRACE_SOURCE __FILE__
// Entry and exit records under `name`, which the lines below report under.
#define MR_TRACE(name) ::TraceHelper mrTraceScope_(name)
// Lines under the caller's `function`, without entry or exit records.
#define MR_TRACE_UNDER(function) const ::merro::trace::FailureScope mrTraceScope_(function)
// The open scope's function name, for a helper that reports under it.
#define MR_TRACE_FUNCTION (mrTraceScope_.Name())
// A step line: "<function> - <step>", with result 0 unless one is given.
#define MR_LOG_STEP(...) ::merro::trace::LogStep(mrTraceScope_.Name(), __VA_ARGS__)
// A failure line with its own reason text.
#define MR_LOG_FAIL(step, reason, result) \
  ::merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, mrTraceScope_.Name(), step, reason, result)
// Logs and returns `result` when `failCondition` holds; the condition's own
// text is the reason.
#define MR_FAIL_IF(failCondition, step, result)             \
  do {                                                      \
    if (failCondition) {                                    \
      MR_LOG_FAIL(step, L"" #failCondition, (LONG)(result)); \
      return (result);                                      \
    }                                                       \
  } while (0)
