// The console report, keeping each benchmark's wall and CPU time per
// iteration (the median when repeated, else the single run) by name, so a
// benchmark program can print its own side-by-side table at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace lvbench {

class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms, cpuMs;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            if (!r.error_occurred && (single || r.aggregate_name == "median")) {
                ms[r.run_name.function_name] = r.GetAdjustedRealTime();
                cpuMs[r.run_name.function_name] = r.GetAdjustedCPUTime();
            }
        }
    }
};

}  // namespace lvbench
