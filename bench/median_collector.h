#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Median real and CPU time of one benchmark, in its unit.
struct MedianTimes {
    double real = -1.0;
    double cpu = -1.0;
};

// Keeps the median of every benchmark, by arguments and function name,
// while the console shows every run.
class MedianCollector : public benchmark::ConsoleReporter {
  public:
    using ByFunction = std::map<std::string, MedianTimes>;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[run.run_name.args][run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                                          run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    /// The medians of `function` run with `args` (as the console names them,
    /// "team:4"; empty without), or null when it did not run.
    const MedianTimes* find(const std::string& function, const std::string& args = "") const {
        const auto withArgs = medians.find(args);
        if (withArgs == medians.end()) {
            return nullptr;
        }
        const auto times = withArgs->second.find(function);
        return times == withArgs->second.end() ? nullptr : &times->second;
    }

    /// Every argument string that ran, with the medians of its functions.
    const std::map<std::string, ByFunction>& byArguments() const { return medians; }

  private:
    std::map<std::string, ByFunction> medians;
};
