// Record lock server throughput: lock-and-unlock pairs and new record numbers per second from 1,
// 8 and 32 threads, each thread its own holder, on a table per thread or on one shared table; and
// one lock-and-unlock pair on a table where 10, 1,000 or 100,000 locks of other holders are held.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/benchratio.h"
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

// Each iteration locks and unlocks one record of the holder, the records first to first + 1000 in
// turn.
void LockAndUnlock(benchmark::State& state, const std::string& table, u32 holder, f64 first) {
    const i32 bucket = static_cast<i32>(LockBucketOf(table.c_str()));
    tRecordLockServer& server = Server();
    f64 recno = first;
    for (auto _ : state) {
        if (!server.RLock(holder, bucket, table.c_str(), recno, holder)) {
            state.SkipWithError("lock refused");
            break;
        }
        server.RUnLock(holder, bucket, table.c_str(), recno, holder);
        recno = recno < first + 1000.0 ? recno + 1.0 : first;
    }
}

void LockUnlockPairs(benchmark::State& state) {
    const u32 holder = static_cast<u32>(state.thread_index()) + 1;
    // Each holder works on records of its own, so that no request is refused.
    LockAndUnlock(state, TableFor(state), holder, 1.0 + holder * 1000000.0);
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

// Holders of the locks already held: 16, as many connections would.
constexpr u32 kHeldOwners = 16;

// A pair of the holder 1000 on a table of its own where held locks of other holders wait; the
// table is filled before the timing and emptied after it.
void LockUnlockAmongHeld(benchmark::State& state, i32 held) {
    const std::string table = "ENV|HELD" + std::to_string(held);
    const i32 bucket = static_cast<i32>(LockBucketOf(table.c_str()));
    tRecordLockServer& server = Server();
    for (i32 i = 1; i <= held; ++i) {
        const u32 owner = 1 + static_cast<u32>(i) % kHeldOwners;
        server.RLock(owner, bucket, table.c_str(), i, owner);
    }
    LockAndUnlock(state, table, 1000, held + 1.0);
    state.counters["pairs/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
    for (u32 owner = 1; owner <= kHeldOwners; ++owner) server.UnLockLocation(owner);
}
BENCHMARK_CAPTURE(LockUnlockAmongHeld, 10, 10)->UseRealTime();
BENCHMARK_CAPTURE(LockUnlockAmongHeld, 1000, 1000)->UseRealTime();
// One run of fixed length: the filling is paid on each run, and is long while locks are scanned.
BENCHMARK_CAPTURE(LockUnlockAmongHeld, 100000, 100000)->Iterations(2000)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        const struct {
            const char* key;
            const char* benchmark;
            const char* what;
        } rows[] = {
            {"lock_10", "LockUnlockAmongHeld/10", "record lock + unlock, 10 locks held"},
            {"lock_1000", "LockUnlockAmongHeld/1000", "record lock + unlock, 1,000 locks held"},
            {"lock_100000", "LockUnlockAmongHeld/100000",
             "record lock + unlock, 100,000 locks held"},
        };
        for (const auto& row : rows) {
            gmbench::PrintRow(row.key, gmbench::MicrosPer(r.Get(row.benchmark, "pairs/s")), "us",
                              row.what);
        }
    });
}
