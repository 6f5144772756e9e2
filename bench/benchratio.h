// The benchmarks' report: a console report that keeps every counter of every benchmark run, and
// a main that runs the benchmarks and then prints the program's rows of the benchmark table, each
// once for people and once as a "GMROW|key|value|unit|what" line that bench/run.sh collects.
// With repetitions (bench/run.sh asks for them, interleaved at random so that a row's benchmarks
// meet the same load), the rows are printed once per repetition, each from the counters of that
// repetition.
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gmbench {

// The console report, keeping each run's counters by benchmark (its function name, with the
// case name of BENCHMARK_CAPTURE), counter and repetition.
class tRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const size_t rep =
                run.repetition_index > 0 ? static_cast<size_t>(run.repetition_index) : 0;
            for (const auto& counter : run.counters) {
                std::vector<double>& values = counters[run.run_name.function_name][counter.first];
                if (values.size() <= rep) values.resize(rep + 1);
                values[rep] = counter.second.value;
                repetitions = std::max(repetitions, rep + 1);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The repetition whose counters Get reads.
    void Select(size_t rep) { selected = rep; }
    size_t Repetitions() const { return repetitions; }
    // The counter's value in the selected repetition (the last one the benchmark had, if it had
    // fewer), or 0 when the benchmark did not run or failed.
    double Get(const std::string& benchmark, const std::string& counter) const {
        const auto run = counters.find(benchmark);
        if (run == counters.end()) return 0.0;
        const auto it = run->second.find(counter);
        if (it == run->second.end() || it->second.empty()) return 0.0;
        return it->second[std::min(selected, it->second.size() - 1)];
    }

private:
    std::map<std::string, std::map<std::string, std::vector<double>>> counters;
    size_t repetitions = 0;
    size_t selected = 0;
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
// program's rows, once per repetition.
inline int Main(int argc, char** argv, const std::function<void(const tRatioReporter&)>& rows) {
    benchmark::Initialize(&argc, argv);
    tRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::fflush(stdout);
    for (size_t rep = 0; rep < reporter.Repetitions(); ++rep) {
        reporter.Select(rep);
        rows(reporter);
    }
    benchmark::Shutdown();
    return 0;
}

// A rate counter: count per second of the benchmark's real time.
inline benchmark::Counter Rate(double count) {
    return benchmark::Counter(count, benchmark::Counter::kIsRate);
}

}  // namespace gmbench
