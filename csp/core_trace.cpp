#include "csp/core_trace.h"

#include <cstdarg>
#include <cwchar>

namespace merro::csp {
namespace {

constexpr size_t kNameCapacity = 128;

// Function names are ASCII identifiers; a longer one is cut.
void Widen(const char* name, wchar_t (&out)[kNameCapacity]) {
  size_t i = 0;
  for (; name != nullptr && name[i] != '\0' && i + 1 < kNameCapacity; ++i) {
    out[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
  }
  out[i] = L'\0';
}

// One check line: the success form without a code, the failure form with one.
void SendCoreLine(const char* function, const wchar_t* step, const HRESULT* code) {
  if (!trace::IsRegistered() || (trace::EnableFlags() & TRACE_FLAG_CSPCORE) == 0) {
    return;  // nothing to format when the line would not be sent
  }
  wchar_t name[kNameCapacity];
  Widen(function, name);
  const wchar_t* stepText = step != nullptr ? step : L"";
  wchar_t line[kCSPMessageCapacity];
  if (code == nullptr) {
    FormatCSPMessage(line, L"%ls - %ls SUCCESS", name, stepText);
  } else {
    FormatCSPMessage(line, L"%ls - %ls (Error code: 0x%08x)", name, stepText,
                     static_cast<unsigned>(*code));
  }
  trace::WppTraceWideString(GeneralMessageGuid(), trace::kMsgCoreStepLine, TRACE_FLAG_CSPCORE,
                            line);
}

}  // namespace

const trace::Guid& GeneralMessageGuid() {
  return trace::ProfileOf(trace::Deliverable::Provider).messageGuid;
}

const trace::Guid kDllMainMessageGuid{
    0xE20E5F95, 0xAA95, 0x42D9, {0xB8, 0x23, 0xBB, 0x23, 0xD3, 0x13, 0x14, 0xEF}};
const trace::Guid kCoreArgumentMessageGuid{
    0x0A1BD11B, 0x6C45, 0x40C5, {0xB9, 0xF7, 0xE9, 0x72, 0x0B, 0x35, 0x27, 0x73}};

int FormatCSPMessage(wchar_t (&buffer)[kCSPMessageCapacity], const wchar_t* format, ...) {
  buffer[0] = L'\0';
  if (format == nullptr) {
    return 0;
  }
  va_list args;
  va_start(args, format);
  const int n = std::vswprintf(buffer, kCSPMessageCapacity, format, args);
  va_end(args);
  // A line that does not fit may leave the buffer unterminated or report a
  // failure, depending on the C library: cut it at the end in every case.
  buffer[kCSPMessageCapacity - 1] = L'\0';
  if (n < 0 || static_cast<size_t>(n) >= kCSPMessageCapacity) {
    return static_cast<int>(std::wcslen(buffer));
  }
  return n;
}

void TraceCoreStep(const char* function, const wchar_t* step) {
  SendCoreLine(function, step, nullptr);
}

void TraceCoreStepFailed(const char* function, const wchar_t* step, HRESULT code) {
  SendCoreLine(function, step, &code);
}

void TraceCoreArguments(std::uint16_t number, DWORD flag,
                        std::initializer_list<trace::Value> values) {
  trace::TraceValues(kCoreArgumentMessageGuid, number, flag, values);
}

void TraceCoreArguments(CoreArguments message, std::initializer_list<trace::Value> values) {
  TraceCoreArguments(static_cast<std::uint16_t>(message), TRACE_FLAG_INFO, values);
}

}  // namespace merro::csp
