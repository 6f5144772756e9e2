// The benchmarks' ratio report: a console report that keeps one counter of every benchmark run,
// and a main that runs the benchmarks and prints the ratio of two of them.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace gmbench {

// The console report, keeping each run's value of one rate counter.
class tRatioReporter : public benchmark::ConsoleReporter {
public:
    explicit tRatioReporter(const char* counter) : counter(counter) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find(counter);
            if (it != run.counters.end()) rates[run.run_name.function_name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // One ratio to print: "<what>" with the counters of the benchmarks named first and second.
    struct tRatio {
        const char* what;
        const char* first;
        const char* second;
    };

    // Runs the benchmarks of the command line, then prints "<what>, <unit> per second: a / b = r"
    // with the counter of the first and the second benchmark.
    static int Main(int argc, char** argv, const char* what, const char* first, const char* second,
                    const char* counter = "rows/s", const char* unit = "rows") {
        return Main(argc, argv, {{what, first, second}}, counter, unit);
    }
    // The same with one line per ratio.
    static int Main(int argc, char** argv, const std::vector<tRatio>& ratios, const char* counter,
                    const char* unit) {
        benchmark::Initialize(&argc, argv);
        tRatioReporter reporter(counter);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        for (const tRatio& ratio : ratios) {
            const double a = reporter.rates[ratio.first];
            const double b = reporter.rates[ratio.second];
            if (a > 0.0 && b > 0.0) {
                std::printf("%s, %s per second: %.0f / %.0f = %.4f\n", ratio.what, unit, a, b,
                            a / b);
            }
        }
        benchmark::Shutdown();
        return 0;
    }

    std::map<std::string, double> rates;

private:
    const std::string counter;
};

}  // namespace gmbench
