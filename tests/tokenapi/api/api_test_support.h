// Helpers of the public token API tests: the lines the tracer sends, and a
// device context with a live device mutex of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::apitest {

// Collects the step and failure lines sent while alive.
class TraceLines {
 public:
  struct Line {
    bool failure;      // message 13 (else 14)
    std::string text;  // "<function> - <step>"
    std::uint32_t result;
  };

  TraceLines();
  ~TraceLines();
  TraceLines(const TraceLines&) = delete;
  TraceLines& operator=(const TraceLines&) = delete;

  const std::vector<Line>& Lines() const { return m_lines; }
  // The lines whose text starts with "<function> - ".
  std::vector<Line> Of(const std::string& function) const;
  // The first failure line of function, or null.
  const Line* FirstFailure(const std::string& function) const;
  bool Has(const std::string& text) const;
  void Clear() { m_lines.clear(); }

 private:
  std::vector<Line> m_lines;
};

// A context whose mutex name is unique to this process and test and whose
// device mutex exists (no device behind it unless the test opens one).
class MutexContext {
 public:
  MutexContext();
  ~MutexContext();
  MutexContext(const MutexContext&) = delete;
  MutexContext& operator=(const MutexContext&) = delete;
  DEV_CTX* get() { return &m_ctx; }

 private:
  DEV_CTX m_ctx{};
};

// Whether another thread could take the mutex at once (it is released
// again right after).
bool MutexFreeForOtherThread(const char* pszMutexName);

}  // namespace merro::apitest
