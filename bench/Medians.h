#pragma once

// Keeps each benchmark's result (the median where there are repetitions) for a summary of
// ratios printed after the console's own lines.
#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace bench {

class Medians : public benchmark::ConsoleReporter {
public:
    struct Result {
        double ms = 0;    // real time
        double cpuMs = 0; // this process's processor time: steadier on a busy machine
        double peakMiB = 0;
    };
    std::map<std::string, Result> results; // by name, "BM_Open/500" or "BM_Stats"

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            Result r;
            const double toMs = 1000.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            r.ms = run.GetAdjustedRealTime() * toMs;
            r.cpuMs = run.GetAdjustedCPUTime() * toMs;
            const auto peak = run.counters.find("peak_MiB");
            if (peak != run.counters.end())
                r.peakMiB = peak->second.value;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            // An aggregate replaces the single runs of its family.
            if (run.run_type == Run::RT_Aggregate || !results.count(name))
                results[name] = r;
        }
    }

    const Result* find(const std::string& name, int n) const {
        return find(name + "/" + std::to_string(n));
    }
    const Result* find(const std::string& name) const {
        const auto it = results.find(name);
        return it == results.end() ? nullptr : &it->second;
    }
};

} // namespace bench
