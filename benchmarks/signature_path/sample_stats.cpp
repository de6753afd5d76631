#include "benchmarks/signature_path/sample_stats.h"

#include <algorithm>
#include <cmath>

namespace merro::bench {

void StepSamples::Add(double milliseconds, size_t commands) {
  m_minCommands = m_ms.empty() ? commands : std::min(m_minCommands, commands);
  m_maxCommands = std::max(m_maxCommands, commands);
  m_lastCommands = commands;
  m_ms.push_back(milliseconds);
}

double StepSamples::Quantile(double q) const {
  if (m_ms.empty()) {
    return 0.0;
  }
  std::vector<double> sorted = m_ms;
  std::sort(sorted.begin(), sorted.end());
  // Nearest rank: the smallest value with at least q of the runs at or below it.
  const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

}  // namespace merro::bench
