// The console reporter of the benchmarks that print each figure beside its baseline: it also keeps each
// run's least real and CPU time (with --benchmark_repetitions, the least disturbed repetition), by full run
// name and by function name (without suffixes such as "/iterations:5/manual_time").
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace bench {

class PairReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                keepLeast(times, r.run_name.str(), r.GetAdjustedRealTime());
                keepLeast(cpuTimes, r.run_name.str(), r.GetAdjustedCPUTime());
                keepLeast(functionTimes, r.run_name.function_name, r.GetAdjustedRealTime());
            }
    }
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes; // steadier than real time on a busy machine
    std::map<std::string, double> functionTimes;

private:
    static void keepLeast(std::map<std::string, double>& m, const std::string& name, double t)
    {
        auto [it, added] = m.emplace(name, t);
        if (!added)
            it->second = std::min(it->second, t);
    }
};

} // namespace bench
