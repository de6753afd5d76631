// Collects the step and failure lines the tracer sends while alive, as
// "<function> - <step>" texts with their results.
#pragma once

#include <string>
#include <vector>

#include "foundation/trace/trace.h"

namespace merro::crypto::test {

class TraceCapture {
 public:
  struct Line {
    bool failure;
    std::u16string text;
    std::uint32_t result;
  };

  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  const std::vector<Line>& Lines() const { return m_lines; }
  // The result of the first failure line that contains `text`; false when
  // there is none.
  bool FindFailure(const std::u16string& text, std::uint32_t* result) const;
  bool HasStep(const std::u16string& text) const;

 private:
  std::vector<Line> m_lines;
};

}  // namespace merro::crypto::test
