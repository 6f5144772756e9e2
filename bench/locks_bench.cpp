// Record lock server throughput: lock-and-unlock pairs and new record numbers per second from 1,
// 8 and 32 threads, each thread its own holder, on a table per thread or on one shared table.
#include <benchmark/benchmark.h>

#include <string>

#include "server/locks/lockbucket.h"
#include "server/locks/recordlockserver.h"

namespace {

tRecordLockServer& Server() {
    static tRecordLockServer server;
    return server;
}

// Range 0: 0 = a table per thread (spread over the buckets by name), 1 = one table for all.
std::string TableFor(const benchmark::State& state) {
    if (state.range(0) != 0) return "ENV|SHARED";
    return "ENV|TABLE" + std::to_string(state.thread_index());
}

void SetLabel(benchmark::State& state) {
    state.SetLabel(state.range(0) != 0 ? "one table" : "table per thread");
}

void LockUnlockPairs(benchmark::State& state) {
    const std::string table = TableFor(state);
    const i32 bucket = static_cast<i32>(LockBucketOf(table.c_str()));
    const u32 holder = static_cast<u32>(state.thread_index()) + 1;
    // Each holder works on records of its own, so that no request is refused.
    const f64 first = 1.0 + holder * 1000000.0;
    f64 recno = first;
    tRecordLockServer& server = Server();
    for (auto _ : state) {
        if (!server.RLock(holder, bucket, table.c_str(), recno, holder)) {
            state.SkipWithError("lock refused");
            break;
        }
        server.RUnLock(holder, bucket, table.c_str(), recno, holder);
        recno = recno < first + 1000.0 ? recno + 1.0 : first;
    }
    state.SetItemsProcessed(state.iterations());
    SetLabel(state);
}
BENCHMARK(LockUnlockPairs)->Arg(0)->Arg(1)->Threads(1)->Threads(8)->Threads(32)->UseRealTime();

void NextRecnoCalls(benchmark::State& state) {
    const std::string table = TableFor(state);
    const i32 bucket = static_cast<i32>(LockBucketOf(table.c_str()));
    const u32 holder = static_cast<u32>(state.thread_index()) + 1;
    tRecordLockServer& server = Server();
    server.SetRecCount(bucket, table.c_str(), 0.0);  // made before the timing, silently
    for (auto _ : state) {
        benchmark::DoNotOptimize(server.NextRecno(holder, bucket, table.c_str(), holder));
    }
    state.SetItemsProcessed(state.iterations());
    SetLabel(state);
}
BENCHMARK(NextRecnoCalls)->Arg(0)->Arg(1)->Threads(1)->Threads(8)->Threads(32)->UseRealTime();

}  // namespace
