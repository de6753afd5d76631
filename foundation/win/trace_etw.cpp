// Trace records through Windows event tracing (WPP style TraceMessage); in
// test builds also as text lines in the file MERRO_TRACE names.
#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "foundation/trace/trace_backend.h"
#ifdef MERRO_WITH_SIMULATOR
#include "foundation/trace/trace_text_sink.h"
#endif

namespace merro::trace::backend {
namespace {

// TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP |
// TRACE_MESSAGE_SYSTEMINFO
constexpr ULONG kMessageFlags = 43;
constexpr ULONG kWmiEnableEvents = 4;
constexpr ULONG kWmiDisableEvents = 5;
constexpr size_t kMaxEventArgBytes = 8192;
constexpr size_t kInlineArgBlocks = 7;

using TraceMessageFn = ULONG(WINAPI*)(TRACEHANDLE, ULONG, LPCGUID, USHORT, ...);

std::atomic<std::uint64_t> g_loggerHandle{0};
TRACEHANDLE g_registration = 0;

const GUID& AsGuid(const Guid& g) { return reinterpret_cast<const GUID&>(g); }

TraceMessageFn LookupTraceMessage() {
  static const TraceMessageFn fn = [] {
    HMODULE advapi = ::GetModuleHandleW(L"advapi32");
    if (advapi == nullptr) {
      advapi = ::LoadLibraryW(L"advapi32");
    }
    return advapi == nullptr
               ? nullptr
               : reinterpret_cast<TraceMessageFn>(
                     reinterpret_cast<void*>(::GetProcAddress(advapi, "TraceMessage")));
  }();
  return fn;
}

// Used when TraceMessage is missing: the same arguments as MOF fields of a
// TraceEvent record; eight or more are packed into one block first.
void SendThroughTraceEvent(TRACEHANDLE logger, const Record& record) {
  size_t total = 0;
  for (const auto& a : record.args) {
    total += a.size();
  }
  if (total > kMaxEventArgBytes) {
    return;
  }
  struct {
    EVENT_TRACE_HEADER header;
    MOF_FIELD fields[kInlineArgBlocks];
  } event{};
  event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;
  event.header.Guid = AsGuid(record.messageGuid);
  event.header.Class.Type = static_cast<UCHAR>(record.number);
  std::vector<std::uint8_t> packed;
  size_t count = 0;
  if (record.args.size() <= kInlineArgBlocks) {
    for (const auto& a : record.args) {
      event.fields[count].DataPtr = reinterpret_cast<ULONG64>(a.data());
      event.fields[count].Length = static_cast<ULONG>(a.size());
      ++count;
    }
  } else {
    for (const auto& a : record.args) {
      packed.insert(packed.end(), a.begin(), a.end());
    }
    event.fields[0].DataPtr = reinterpret_cast<ULONG64>(packed.data());
    event.fields[0].Length = static_cast<ULONG>(packed.size());
    count = 1;
  }
  event.header.Size = static_cast<USHORT>(sizeof(EVENT_TRACE_HEADER) + count * sizeof(MOF_FIELD));
  ::TraceEvent(logger, &event.header);
}

ULONG WINAPI ControlCallback(WMIDPREQUESTCODE request, PVOID, ULONG*, PVOID buffer) {
  switch (request) {
    case kWmiEnableEvents: {
      const TRACEHANDLE logger = ::GetTraceLoggerHandle(buffer);
      g_loggerHandle.store(logger);
      SetEnableFlags(::GetTraceEnableFlags(logger));
      MarkRegistered(true);
      return ERROR_SUCCESS;
    }
    case kWmiDisableEvents:
      g_loggerHandle.store(0);
      SetEnableFlags(0);
      return ERROR_SUCCESS;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD type = 0;
  DWORD size = sizeof(DWORD);
  return ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD;
}

// Early tracing: the global logger's start-up values in the registry.
void ReadGlobalLogger() {
  HKEY root = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger",
                      0, KEY_READ, &root) != ERROR_SUCCESS) {
    return;
  }
  DWORD start = 0;
  DWORD flags = 0;
  DWORD level = 0;
  if (ReadDword(root, L"Start", &start) && start != 0) {
    wchar_t sub[64];
    const Guid& g = kControlGuid;
    ::swprintf(sub, 64, L"%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
               static_cast<unsigned long>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
               g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    HKEY guidKey = nullptr;
    if (::RegOpenKeyExW(root, sub, 0, KEY_READ, &guidKey) == ERROR_SUCCESS) {
      ReadDword(guidKey, L"Flags", &flags);
      ReadDword(guidKey, L"Level", &level);
      ::RegCloseKey(guidKey);
    }
    if (start == 1) {
      std::vector<BYTE> props(120 + 2 * 1024, 0);
      auto* p = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(props.data());
      p->Wnode.BufferSize = 120;
      p->Wnode.Flags = WNODE_FLAG_TRACED_GUID;
      TRACEHANDLE logger = 0;
      const ULONG rc = ::ControlTraceW(logger, L"GlobalLogger",
                                       p, EVENT_TRACE_CONTROL_QUERY);
      if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        g_loggerHandle.store(p->Wnode.HistoricalContext);
        SetEnableFlags(flags & 0x7FFFFFFF);
        MarkRegistered(true);
      }
    }
  }
  ::RegCloseKey(root);
}

}  // namespace

void Send(const Record& record) {
#ifdef MERRO_WITH_SIMULATOR
  text::Write(record);
#endif
  const TRACEHANDLE logger = g_loggerHandle.load();
  if (logger == 0) {
    return;
  }
  const TraceMessageFn traceMessage = LookupTraceMessage();
  if (traceMessage == nullptr) {
    SendThroughTraceEvent(logger, record);
    return;
  }
  const GUID* guid = &AsGuid(record.messageGuid);
  const auto& a = record.args;
  const auto p = [&a](size_t i) { return static_cast<const void*>(a[i].data()); };
  const auto n = [&a](size_t i) { return static_cast<size_t>(a[i].size()); };
  switch (a.size()) {
    case 0:
      traceMessage(logger, kMessageFlags, guid, record.number, nullptr);
      break;
    case 1:
      traceMessage(logger, kMessageFlags, guid, record.number, p(0), n(0), nullptr);
      break;
    case 2:
      traceMessage(logger, kMessageFlags, guid, record.number, p(0), n(0), p(1), n(1), nullptr);
      break;
    case 3:
      traceMessage(logger, kMessageFlags, guid, record.number, p(0), n(0), p(1), n(1), p(2), n(2),
                   nullptr);
      break;
    default:
      traceMessage(logger, kMessageFlags, guid, record.number, p(0), n(0), p(1), n(1), p(2), n(2),
                   p(3), n(3), nullptr);
      break;
  }
}

void LoadTraceMessage() { LookupTraceMessage(); }

void Register() {
  if (g_registration != 0) {
    return;
  }
#ifdef MERRO_WITH_SIMULATOR
  if (text::Open()) {
    MarkRegistered(true);
  }
#endif
  TRACE_GUID_REGISTRATION reg{&AsGuid(kControlGuid), nullptr};
  if (::RegisterTraceGuidsW(ControlCallback, nullptr, &AsGuid(kControlGuid), 1, &reg, nullptr,
                            nullptr, &g_registration) != ERROR_SUCCESS) {
    g_registration = 0;
    return;
  }
  MarkRegistered(true);
  if (g_loggerHandle.load() == 0) {
    ReadGlobalLogger();
  }
}

void Unregister() {
  if (g_registration != 0) {
    ::UnregisterTraceGuids(g_registration);
    g_registration = 0;
  }
  g_loggerHandle.store(0);
  MarkRegistered(false);
#ifdef MERRO_WITH_SIMULATOR
  text::Close();
#endif
}

}  // namespace merro::trace::backend
