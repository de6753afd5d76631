// Helpers of the public token API tests: the lines the tracer sends, and a
// device context with a live device mutex of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::apitest {

// Collects the step and failure lines sent while alive, and every record.
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
  // Whether a failure line holds "<function> - <step>" (the failure-line
  // format puts the source and line before it and the reason after).
  bool HasFailureLine(const std::string& function, const std::string& step) const;
  bool Has(const std::string& text) const;
  void Clear() {
    m_lines.clear();
    m_records.clear();
  }

  // Every record sent (entries, exits, value records, lines).
  const std::vector<merro::trace::Record>& Records() const { return m_records; }
  // The arguments of each record of this message GUID and number, in order.
  std::vector<std::vector<std::vector<std::uint8_t>>> Values(const merro::trace::Guid& guid,
                                                             std::uint16_t number) const;
  // The number of entry records of this function.
  size_t Entries(const std::string& function) const;
  // An argument decoded: UTF-16 text (ASCII, '?' for the rest), or a 32-bit value.
  static std::string Text(const std::vector<std::uint8_t>& arg);
  static std::uint32_t Dword(const std::vector<std::uint8_t>& arg);

 private:
  std::vector<Line> m_lines;
  std::vector<merro::trace::Record> m_records;
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
