#include "foundation/trace/trace_text_sink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace merro::trace::text {
namespace {

std::mutex g_outLock;
FILE* g_out = nullptr;  // guarded by g_outLock

std::string Describe(const std::vector<std::uint8_t>& arg) {
  // Strings are shown as text (UTF-16 arguments have even length and a zero
  // high byte for the ASCII the system writes); 4-byte values as hex. A
  // string of 4 bytes ends in a zero and starts with a printable character
  // (an empty string is 1 byte, or "<NULL>" when wide).
  if (arg.size() == 4 && (arg[3] != 0 || arg[0] < 0x20)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X%02X%02X%02X", arg[3], arg[2], arg[1], arg[0]);
    return buf;
  }
  std::string out;
  const bool wide = arg.size() >= 2 && arg.size() % 2 == 0 && arg[1] == 0 && arg[0] != 0;
  for (size_t i = 0; i < arg.size(); i += wide ? 2 : 1) {
    if (arg[i] == 0) {
      break;
    }
    out += static_cast<char>(arg[i] < 0x80 ? arg[i] : '?');
  }
  return out;
}

}  // namespace

bool Open() {
  const char* target = std::getenv("MERRO_TRACE");
  if (target == nullptr || *target == '\0') {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_outLock);
    if (g_out == nullptr) {
      g_out = std::strcmp(target, "stderr") == 0 ? stderr : std::fopen(target, "a");
    }
    if (g_out == nullptr) {
      return false;
    }
  }
  const char* flags = std::getenv("MERRO_TRACE_FLAGS");
  SetEnableFlags(flags != nullptr ? static_cast<DWORD>(std::strtoul(flags, nullptr, 0))
                                  : 0xFFFFFFFFu);
  return true;
}

bool Write(const Record& record) {
  std::lock_guard<std::mutex> lock(g_outLock);
  if (g_out == nullptr) {
    return false;
  }
  // One write per line, so that processes appending to the same file do not
  // cut into each other's lines.
  std::string line;
  char head[40];
  std::snprintf(head, sizeof head, "[%08X #%u]", static_cast<unsigned>(record.messageGuid.data1),
                static_cast<unsigned>(record.number));
  line += head;
  for (const auto& arg : record.args) {
    line += ' ';
    line += Describe(arg);
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), g_out);
  std::fflush(g_out);
  return true;
}

void Close() {
  std::lock_guard<std::mutex> lock(g_outLock);
  if (g_out != nullptr && g_out != stderr) {
    std::fclose(g_out);
  }
  g_out = nullptr;
}

}  // namespace merro::trace::text
