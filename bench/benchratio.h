// The benchmarks' report: a console report that keeps every counter of every benchmark run, and
// a main that runs the benchmarks and then prints the program's rows of the benchmark table, each
// once for people and once as a "GMROW|key|value|unit|what" line that bench/run.sh collects.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gmbench {

// The console report, keeping each run's counters by benchmark (its function name, with the
// case name of BENCHMARK_CAPTURE) and counter.
class tRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            for (const auto& counter : run.counters) {
                counters[run.run_name.function_name][counter.first] = counter.second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The counter's value, or 0 when the benchmark did not run or failed.
    double Get(const std::string& benchmark, const std::string& counter) const {
        const auto run = counters.find(benchmark);
        if (run == counters.end()) return 0.0;
        const auto it = run->second.find(counter);
        return it == run->second.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, std::map<std::string, double>> counters;
};

// One row of the table: printed only when the value could be measured (a positive number).
inline void PrintRow(const char* key, double value, const char* unit, const char* what) {
    if (!(value > 0.0)) return;
    std::printf("%s: %.4g %s\n", what, value, unit);
    std::printf("GMROW|%s|%.6g|%s|%s\n", key, value, unit, what);
}

// a / b, or 0 when either is missing.
inline double Ratio(double a, double b) { return a > 0.0 && b > 0.0 ? a / b : 0.0; }

// a + b, or 0 when either is missing.
inline double Sum(double a, double b) { return a > 0.0 && b > 0.0 ? a + b : 0.0; }

// Microseconds per operation at the rate given (operations per second), or 0 without one.
inline double MicrosPer(double rate) { return rate > 0.0 ? 1e6 / rate : 0.0; }

// A benchmark with threads may end only through its loop, which every thread enters (a skipped
// one runs no iteration there): the threads meet at the loop's start and end.

// Runs the benchmarks of the command line, then hands the report to rows, which prints the
// program's rows.
inline int Main(int argc, char** argv, const std::function<void(const tRatioReporter&)>& rows) {
    benchmark::Initialize(&argc, argv);
    tRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::fflush(stdout);
    rows(reporter);
    benchmark::Shutdown();
    return 0;
}

// A rate counter: count per second of the benchmark's real time.
inline benchmark::Counter Rate(double count) {
    return benchmark::Counter(count, benchmark::Counter::kIsRate);
}

}  // namespace gmbench
