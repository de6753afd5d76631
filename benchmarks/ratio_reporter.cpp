#include "benchmarks/ratio_reporter.h"

#include <cstdio>

namespace merro::bench {
namespace {
constexpr const char* kOurs = "/ours/";
constexpr const char* kOpenSsl = "/openssl/";
}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& reports) {
  for (const auto& run : reports) {
    if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
      m_timeByName[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  ConsoleReporter::ReportRuns(reports);
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n%-40s %12s\n", "ours vs OpenSSL (OpenSSL time / our time)", "ratio");
  for (const auto& [name, ours] : m_timeByName) {
    const size_t at = name.find(kOurs);
    if (at == std::string::npos || ours <= 0) {
      continue;
    }
    std::string other = name;
    other.replace(at, std::char_traits<char>::length(kOurs), kOpenSsl);
    const auto it = m_timeByName.find(other);
    if (it != m_timeByName.end()) {
      std::printf("%-40s %12.2f\n", name.c_str(), it->second / ours);
    }
  }
}

}  // namespace merro::bench
