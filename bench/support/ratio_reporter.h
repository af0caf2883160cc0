// The reporter the benchmark programs share: it collects each benchmark's median processor time,
// for the ratios to the peer libraries.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace benchsupport {

// Collects the median (or the single run's) time of every benchmark by name.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool aggregate = r.run_type == Run::RT_Aggregate;
      if (aggregate && r.aggregate_name != "median") continue;
      const std::string name = r.run_name.function_name;
      if (!aggregate && times.count(name) && hasMedian[name]) continue;
      if (aggregate) hasMedian[name] = true;
      // Processor time of the benchmark thread (microseconds): the machine is shared, and time
      // spent descheduled says nothing about the code.
      times[name] = r.GetAdjustedCPUTime();
    }
  }
  std::map<std::string, double> times;
  std::map<std::string, bool> hasMedian;
};

}  // namespace benchsupport
