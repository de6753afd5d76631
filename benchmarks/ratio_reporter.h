// Console reporter that, after the usual table, prints for each benchmark
// named "<algorithm>/ours/<args>" the ratio against "<algorithm>/openssl/<args>":
// OpenSSL's time divided by ours (above 1: ours is faster).
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace merro::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override;
  void Finalize() override;

 private:
  std::map<std::string, double> m_timeByName;  // adjusted real time per iteration
};

}  // namespace merro::bench
