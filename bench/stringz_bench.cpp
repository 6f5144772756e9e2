// tString costs: building a long text piece by piece, and copying or assigning long strings
// (which only share a record, so their cost must not depend on the length).
#include <benchmark/benchmark.h>

#include "lib_base/stringz.h"

namespace {

constexpr int kMegabyte = 1 << 20;

void BuildMegabyteByTenByteAppends(benchmark::State& state) {
    const bool reserve = state.range(0) != 0;
    for (auto _ : state) {
        tString s;
        if (reserve) s.Reserve(kMegabyte + 1);
        for (int i = 0; i < kMegabyte / 10; ++i) s.Append("0123456789");
        benchmark::DoNotOptimize(s.GetText());
    }
    state.SetLabel(reserve ? "with Reserve" : "without Reserve");
}
BENCHMARK(BuildMegabyteByTenByteAppends)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void CopyAndAssignLongString(benchmark::State& state) {
    tString source(static_cast<i32>(state.range(0)), 'x');
    tString target;
    for (auto _ : state) {
        tString copy(source);
        target = copy;
        benchmark::DoNotOptimize(target.GetText());
    }
}
BENCHMARK(CopyAndAssignLongString)->Arg(16)->Arg(1024)->Arg(1 << 20);

}  // namespace
