// Record lock server throughput: lock-and-unlock pairs and new record numbers per second from 1,
// 8 and 32 threads, each thread its own holder, on a table per thread or on one shared table; and
// the cost of one lock-and-unlock pair on a table where many locks are already held.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
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

// A server whose table "ENV|HELD" holds `held` record locks (records 1..held) of eight holders,
// owners 101..108 at location 7, taking turns. Made once per count: filling is not timed.
constexpr const char* kHeldTable = "ENV|HELD";
constexpr u32 kHeldLocation = 7;

tRecordLockServer& ServerHolding(i64 held) {
    static std::map<i64, std::unique_ptr<tRecordLockServer>> servers;
    std::unique_ptr<tRecordLockServer>& server = servers[held];
    if (server) return *server;
    server = std::make_unique<tRecordLockServer>();
    const i32 bucket = static_cast<i32>(LockBucketOf(kHeldTable));
    for (i64 r = 1; r <= held; ++r) {
        server->RLock(101 + static_cast<u32>(r % 8), bucket, kHeldTable, static_cast<f64>(r),
                      kHeldLocation);
    }
    return *server;
}

// One holder that has nothing else locked locks a free record of the table and unlocks it again,
// on a table holding range(0) locks of other holders. One thread.
void LockUnlockWithLocksHeld(benchmark::State& state) {
    const i64 held = state.range(0);
    tRecordLockServer& server = ServerHolding(held);
    const i32 bucket = static_cast<i32>(LockBucketOf(kHeldTable));
    const u32 holder = 1;
    const f64 first = static_cast<f64>(held) + 1.0;
    f64 recno = first;
    for (auto _ : state) {
        if (!server.RLock(holder, bucket, kHeldTable, recno, kHeldLocation)) {
            state.SkipWithError("lock refused");
            break;
        }
        server.RUnLock(holder, bucket, kHeldTable, recno, kHeldLocation);
        recno = recno < first + 1000.0 ? recno + 1.0 : first;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(held) + " locks held");
}
BENCHMARK(LockUnlockWithLocksHeld)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kNanosecond);

}  // namespace
