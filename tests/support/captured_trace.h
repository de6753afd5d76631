// Captures the records of the tracer for a test: every record that would be
// sent while the capture lives, under the given enable flags.
//
//   CapturedTrace t(Deliverable::Provider, 0x01);
//   ...
//   EXPECT_EQ(Utf16Text(t.records[0].args[0]), "CPCoreX - Check SUCCESS");
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/trace/trace.h"

namespace merro::testing {

// Captures every record while alive; restores an unregistered tracer after.
class CapturedTrace {
 public:
  explicit CapturedTrace(trace::Deliverable d, DWORD flags) {
    trace::Configure(d);
    trace::SetSink([this](const trace::Record& r) { records.push_back(r); });
    trace::SetEnableFlags(flags);
  }
  ~CapturedTrace() {
    trace::SetSink({});
    trace::SetEnableFlags(0);
    trace::Configure(trace::Deliverable::Provider);
  }
  CapturedTrace(const CapturedTrace&) = delete;
  CapturedTrace& operator=(const CapturedTrace&) = delete;

  std::vector<std::uint16_t> Numbers() const {
    std::vector<std::uint16_t> n;
    for (const auto& r : records) {
      n.push_back(r.number);
    }
    return n;
  }
  std::vector<trace::Record> records;
};

// The byte image of a UTF-16 string argument, with its terminator.
inline std::vector<std::uint8_t> Utf16(const std::u16string& s) {
  std::vector<std::uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

// A UTF-16 argument as text (ASCII, other characters as '?').
inline std::string Utf16Text(const std::vector<std::uint8_t>& arg) {
  std::string text;
  for (size_t i = 0; i + 1 < arg.size(); i += 2) {
    const unsigned c = arg[i] | (arg[i + 1] << 8);
    if (c == 0) {
      break;
    }
    text += static_cast<char>(c < 0x80 ? c : '?');
  }
  return text;
}

}  // namespace merro::testing
