#include "foundation/trace/trace.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "foundation/trace/trace_backend.h"

namespace merro::trace {

const Guid kControlGuid{0x5C8F2A58, 0x369A, 0x44F0, {0x92, 0x35, 0xC0, 0x5E, 0xCB, 0x1D, 0xD7, 0x3E}};
const Guid kMiscMessageGuid{0x0808C692, 0x638A, 0xF16E, {0x84, 0xFA, 0xC2, 0x17, 0x4E, 0xBE, 0x0D, 0xEB}};
const Guid kFunctionInterfaceMessageGuid{
    0xD6255E8A, 0x89DF, 0x36C1, {0xF9, 0xB4, 0x8B, 0x15, 0xE9, 0x02, 0x9E, 0xF2}};

namespace {

const Profile kCertManagerProfile{
    {0x5DFC9921, 0x9323, 0xC853, {0xBD, 0x3D, 0x96, 0x88, 0xD6, 0xF3, 0x95, 0x34}},
    0x10, 0x04, 0x08, 0x04};
const Profile kProviderProfile{
    {0xD799E92C, 0xCD11, 0x4528, {0x08, 0x5A, 0xD2, 0xDB, 0x19, 0xE1, 0xC1, 0x52}},
    0x08, 0x02, 0x04, 0x04};

// The control block: written by the control callback on one thread, read
// by trace sites on every thread, hence atomics.
std::atomic<const Profile*> g_profile{&kProviderProfile};
std::atomic<DWORD> g_enableFlags{0};
std::atomic<bool> g_registered{false};

std::mutex g_sinkLock;
Sink g_sink;  // guarded by g_sinkLock
std::atomic<bool> g_haveSink{false};

// Saves the thread's last error and puts it back when the scope ends.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : m_saved(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(m_saved); }

 private:
  DWORD m_saved;
};

bool Enabled(DWORD flag) {
  return g_registered.load(std::memory_order_relaxed) &&
         (g_enableFlags.load(std::memory_order_relaxed) & flag) != 0;
}

void Dispatch(const Record& record) {
  if (g_haveSink.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(g_sinkLock);
    if (g_sink) {
      g_sink(record);
      return;
    }
  }
  backend::Send(record);
}

// Builds and sends one record when its flag is enabled. Tracing never
// throws (scope tracers send from destructors, the provider's entry points
// from inside the host's calls): a record that cannot be built is dropped.
template <class Build>
void Send(DWORD flag, Build build) {
  if (!Enabled(flag)) {
    return;
  }
  LastErrorKeeper keep;
  try {
    Dispatch(build());
  } catch (...) {
  }
}

std::vector<std::uint8_t> AnsiArg(const char* text) {
  const char* s = text != nullptr ? text : "NULL";
  return std::vector<std::uint8_t>(s, s + std::strlen(s) + 1);
}

// A wide string travels as UTF-16 with its terminator.
std::vector<std::uint8_t> WideArg(const wchar_t* text) {
  const wchar_t* s = text == nullptr ? L"NULL" : (*text == L'\0' ? L"<NULL>" : text);
  std::vector<std::uint8_t> out;
  const auto put = [&out](std::uint16_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  for (; *s != L'\0'; ++s) {
    const std::uint32_t c = static_cast<std::uint32_t>(*s);
    if (c > 0xFFFF && c <= 0x10FFFF) {
      put(static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
      put(static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      put(static_cast<std::uint16_t>(c));
    }
  }
  put(0);
  return out;
}

std::vector<std::uint8_t> DwordArg(DWORD v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::wstring Widen(const char* text) {
  std::wstring out;
  for (const char* p = text != nullptr ? text : "NULL"; *p != '\0'; ++p) {
    out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  }
  return out;
}

std::wstring Truncated(std::wstring line) {
  if (line.size() > kLineCapacity - 1) {
    line.resize(kLineCapacity - 1);
  }
  return line;
}

const wchar_t* OrEmpty(const wchar_t* s) { return s != nullptr ? s : L""; }

}  // namespace

namespace backend {
void MarkRegistered(bool registered) { g_registered.store(registered, std::memory_order_relaxed); }
}  // namespace backend

void Configure(Deliverable deliverable) { g_profile.store(&ProfileOf(deliverable)); }

const Profile& CurrentProfile() { return *g_profile.load(); }

const Profile& ProfileOf(Deliverable deliverable) {
  return deliverable == Deliverable::CertManager ? kCertManagerProfile : kProviderProfile;
}

void SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  g_sink = std::move(sink);
  const bool have = static_cast<bool>(g_sink);
  g_haveSink.store(have, std::memory_order_release);
  g_registered.store(have, std::memory_order_relaxed);
}

void SetEnableFlags(DWORD flags) { g_enableFlags.store(flags, std::memory_order_relaxed); }
DWORD EnableFlags() { return g_enableFlags.load(std::memory_order_relaxed); }
bool IsRegistered() { return g_registered.load(std::memory_order_relaxed); }

void Register() {
  LastErrorKeeper keep;
  backend::Register();
}

void Unregister() {
  LastErrorKeeper keep;
  backend::Unregister();
}

void WppTraceAnsiString(const Guid& messageGuid, std::uint16_t number, DWORD flag,
                        const char* text) {
  Send(flag, [&] { return Record{messageGuid, number, flag, {AnsiArg(text)}}; });
}

void WppTraceWideString(const Guid& messageGuid, std::uint16_t number, DWORD flag,
                        const wchar_t* text) {
  Send(flag, [&] { return Record{messageGuid, number, flag, {WideArg(text)}}; });
}

void WppTraceWideStringResult(const Guid& messageGuid, std::uint16_t number, DWORD flag,
                              const wchar_t* text, LONG result) {
  Send(flag, [&] {
    return Record{messageGuid, number, flag, {WideArg(text), DwordArg(static_cast<DWORD>(result))}};
  });
}

void TraceValues(const Guid& sourceGuid, std::uint16_t number, std::initializer_list<Value> values) {
  TraceValues(sourceGuid, number, CurrentProfile().valueFlag, values);
}

void TraceValues(const Guid& sourceGuid, std::uint16_t number, DWORD flag,
                 std::initializer_list<Value> values) {
  Send(flag, [&] {
    Record record{sourceGuid, number, flag, {}};
    for (const Value& v : values) {
      record.args.push_back(!v.isText ? DwordArg(v.number)
                                      : (v.isNarrow ? AnsiArg(v.narrowText) : WideArg(v.text)));
    }
    return record;
  });
}

void WppTraceEvent(const Guid& messageGuid, std::uint16_t number, DWORD flag) {
  Send(flag, [&] { return Record{messageGuid, number, flag, {}}; });
}

std::wstring FormatStepLine(const char* function, const wchar_t* step) {
  return Truncated(Widen(function) + L" - " + OrEmpty(step));
}

std::wstring FormatFailureLine(const char* sourceFile, int line, const char* function,
                               const wchar_t* step, const wchar_t* reason) {
  std::string source = sourceFile != nullptr ? sourceFile : "";
  const size_t slash = source.find_last_of("/\\");
  if (slash != std::string::npos) {
    source.erase(0, slash + 1);
  }
  const size_t dot = source.find_last_of('.');
  if (dot != std::string::npos) {
    source.erase(dot);
  }
  return Truncated(L"[" + Widen(source.c_str()) + L"(" + std::to_wstring(line) + L"):] " +
                   Widen(function) + L" - " + OrEmpty(step) + L" [Reason:" + OrEmpty(reason) +
                   L"]");
}

void TraceResultMessage(const wchar_t* line, LONG result) {
  const Profile& p = CurrentProfile();
  if (result < 0) {
    WppTraceWideStringResult(p.messageGuid, kMsgFailureLine, p.errorFlag, line, result);
  } else {
    WppTraceWideStringResult(p.messageGuid, kMsgStepLine, p.infoFlag, line, result);
  }
}

void LogStep(const char* function, const wchar_t* step, LONG result) {
  const Profile& p = CurrentProfile();
  if (!Enabled(result < 0 ? p.errorFlag : p.infoFlag)) {
    return;  // nothing to format when the line would not be sent
  }
  try {
    TraceResultMessage(FormatStepLine(function, step).c_str(), result);
  } catch (...) {  // a line that cannot be formatted is dropped
  }
}

void LogFailure(const char* sourceFile, int line, const char* function, const wchar_t* step,
                const wchar_t* reason, LONG result) {
  const Profile& p = CurrentProfile();
  if (!Enabled(result < 0 ? p.errorFlag : p.infoFlag)) {
    return;
  }
  try {
    TraceResultMessage(FormatFailureLine(sourceFile, line, function, step, reason).c_str(),
                       result);
  } catch (...) {  // a line that cannot be formatted is dropped
  }
}

}  // namespace merro::trace

void WppLoadTraceMessage() {
  merro::trace::LastErrorKeeper keep;
  merro::trace::backend::LoadTraceMessage();
}

void WppInitUm() { merro::trace::Register(); }

void WppCleanupUm() { merro::trace::Unregister(); }

TraceHelper::TraceHelper(const char* functionName) : FailureScope(functionName) {
  const auto& p = merro::trace::CurrentProfile();
  merro::trace::WppTraceAnsiString(p.messageGuid, merro::trace::kMsgFunctionEntry,
                                   p.functionFlag, Name());
}

TraceHelper::~TraceHelper() {
  const auto& p = merro::trace::CurrentProfile();
  merro::trace::WppTraceAnsiString(p.messageGuid, merro::trace::kMsgFunctionExit,
                                   p.functionFlag, Name());
}
