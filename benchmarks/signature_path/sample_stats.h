// What one measured step of the signature-path benchmark collects over its
// runs: the time of each run and the commands the token received in it.
#pragma once

#include <cstddef>
#include <vector>

namespace merro::bench {

class StepSamples {
 public:
  void Add(double milliseconds, size_t commands);
  bool Empty() const { return m_ms.empty(); }
  double MedianMs() const { return Quantile(0.5); }
  double P95Ms() const { return Quantile(0.95); }
  // The most commands one run sent: the count is the same in every run
  // unless something went wrong, and then the larger one is the honest one.
  size_t Commands() const { return m_maxCommands; }
  size_t FewestCommands() const { return m_minCommands; }
  // The latest run's time and commands (0 without runs).
  double LastMs() const { return m_ms.empty() ? 0.0 : m_ms.back(); }
  size_t LastCommands() const { return m_lastCommands; }

 private:
  // Nearest-rank quantile of the run times (0 without runs).
  double Quantile(double q) const;

  std::vector<double> m_ms;
  size_t m_maxCommands = 0;
  size_t m_minCommands = 0;
  size_t m_lastCommands = 0;
};

}  // namespace merro::bench
