// main for every benchmark program: runs the benchmarks and prints each
// figure beside its target.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchTargets.h"

namespace tollvane::bench {

std::map<std::string, std::string>& targets() {
    static std::map<std::string, std::string> table;
    return table;
}

namespace {

// The console report, plus one summary line per benchmark with its target.
class TargetReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                summary_.push_back(run.benchmark_name() + ": skipped (" + run.error_message + ")");
                continue;
            }
            // Spreads are not figures to hold against a target.
            if (run.aggregate_name == "stddev" || run.aggregate_name == "cv") continue;
            std::string name = run.benchmark_name();
            auto found = targets().find(baseName(name));
            const char* target = found == targets().end() ? "no target" : found->second.c_str();
            double perIteration = run.GetAdjustedRealTime();
            summary_.push_back(name + ": " + format(perIteration, run.time_unit) + "  (target: " + target +
                               ")");
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nFigures beside their targets:\n");
        for (const std::string& line : summary_) std::printf("  %s\n", line.c_str());
    }

private:
    // "BM_x/1000/real_time_mean" and the like belong to "BM_x".
    static std::string baseName(const std::string& name) {
        std::string base = name.substr(0, name.find('/'));
        for (const char* suffix : {"_mean", "_median", "_stddev", "_cv"}) {
            std::string s(suffix);
            if (base.size() > s.size() && base.compare(base.size() - s.size(), s.size(), s) == 0) {
                base.resize(base.size() - s.size());
            }
        }
        return base;
    }
    static std::string format(double value, benchmark::TimeUnit unit) {
        const char* suffix = unit == benchmark::kNanosecond    ? "ns"
                             : unit == benchmark::kMicrosecond ? "us"
                             : unit == benchmark::kMillisecond ? "ms"
                                                               : "s";
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.2f %s per iteration", value, suffix);
        return buffer;
    }
    std::vector<std::string> summary_;
};

}  // namespace
}  // namespace tollvane::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    tollvane::bench::TargetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
