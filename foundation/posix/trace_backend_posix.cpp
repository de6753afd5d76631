// Trace records on POSIX hosts: one text line per record, written to stderr
// or to a file when the environment variable MERRO_TRACE names one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/trace/trace_backend.h"

namespace merro::trace::backend {
namespace {

std::mutex g_outLock;
FILE* g_out = nullptr;  // guarded by g_outLock

std::string Describe(const std::vector<std::uint8_t>& arg) {
  // Strings are shown as text (UTF-16 arguments have even length and a zero
  // high byte for the ASCII the system writes); 4-byte values as hex.
  if (arg.size() == 4 && arg.back() != 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X%02X%02X%02X", arg[3], arg[2], arg[1], arg[0]);
    return buf;
  }
  std::string text;
  const bool wide = arg.size() >= 2 && arg.size() % 2 == 0 && arg[1] == 0 && arg[0] != 0;
  for (size_t i = 0; i < arg.size(); i += wide ? 2 : 1) {
    if (arg[i] == 0) {
      break;
    }
    text += static_cast<char>(arg[i] < 0x80 ? arg[i] : '?');
  }
  return text;
}

}  // namespace

void Send(const Record& record) {
  std::lock_guard<std::mutex> lock(g_outLock);
  if (g_out == nullptr) {
    return;
  }
  std::fprintf(g_out, "[%08X #%u]", record.messageGuid.data1, record.number);
  for (const auto& arg : record.args) {
    std::fprintf(g_out, " %s", Describe(arg).c_str());
  }
  std::fputc('\n', g_out);
  std::fflush(g_out);
}

// Records are plain text lines here: there is nothing to look up.
void LoadTraceMessage() {}

void Register() {
  const char* target = std::getenv("MERRO_TRACE");
  if (target == nullptr || *target == '\0') {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_outLock);
    if (g_out == nullptr) {
      g_out = std::strcmp(target, "stderr") == 0 ? stderr : std::fopen(target, "a");
    }
    if (g_out == nullptr) {
      return;
    }
  }
  const char* flags = std::getenv("MERRO_TRACE_FLAGS");
  SetEnableFlags(flags != nullptr ? static_cast<DWORD>(std::strtoul(flags, nullptr, 0))
                                  : 0xFFFFFFFFu);
  MarkRegistered(true);
}

void Unregister() {
  MarkRegistered(false);
  std::lock_guard<std::mutex> lock(g_outLock);
  if (g_out != nullptr && g_out != stderr) {
    std::fclose(g_out);
  }
  g_out = nullptr;
}

}  // namespace merro::trace::backend
