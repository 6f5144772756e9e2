#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "server/runtime/gmlthreads.h"

namespace {

std::string Text(const tString& s) { return std::string(s.GetText(), s.GetLength()); }

// Connections come, count their calls and go while a monitor lists them and switches their
// traces: the registry's statistics lose no call, and every record is counted and removed.
TEST(GmlThreadsThreads, ConcurrentCallsLoseNoCount) {
    tGmlThreads registry;
    constexpr int kConnections = 8;
    constexpr int kCalls = 4000;
    std::atomic<int> running{kConnections};
    plat::ManualResetEvent go;
    std::vector<std::thread> threads;
    for (int t = 0; t < kConnections; ++t) {
        threads.emplace_back([&, t] {
            go.Wait(-1);
            tDBProperties* record = registry.AddThread(nullptr);
            record->SetSID(static_cast<u32>(100 + t));
            for (int i = 0; i < kCalls; ++i) {
                record->AddIO();
                record->SetStatus("ROP_SKIP");
                record->AddCall(static_cast<i16>(1 + i % 4), 1.0 / 1024);
                if (record->IsTraceOn()) record->GetTrace()->Add("R", 0, "-- line");
            }
            registry.RemoveThread(record);
            running.fetch_sub(1);
        });
    }
    std::thread monitor([&] {
        go.Wait(-1);
        tString out;
        for (u32 round = 0; running.load() > 0; ++round) {
            out.Clear();
            registry.GetUserInfo(out);
            registry.GetThreadList(out);
            const u32 id = 100 + round % kConnections;
            if (registry.SetThreadTrace(id, 7, true, out)) {
                registry.WithTraceServer(id, 7, [](tTraceServer& traces) { traces.Count(); });
                registry.SetThreadTrace(id, 7, false, out);
            }
        }
    });
    go.Set();
    for (auto& th : threads) th.join();
    monitor.join();

    tString dump;
    registry.GetCallInfo()->DumpCalls(dump, false);
    EXPECT_EQ(Text(dump),
              "OP_STRCMTCTL..................: 8000              ( 7.812 s.)\n"
              "OP_ENDCMTCTL..................: 8000              ( 7.812 s.)\n"
              "OP_COMMIT.....................: 8000              ( 7.812 s.)\n"
              "OP_ROLLBACK...................: 8000              ( 7.812 s.)\n"
              "TOTAL I/O COUNT...............: 32000\n");
    EXPECT_EQ(registry.GetTotalAdded(), static_cast<u32>(kConnections));
    tString list;
    EXPECT_EQ(registry.GetThreadList(list), 0);
}

// Monitors racing to trace one connection: exactly one wins, and only it can stop the trace.
TEST(GmlThreadsThreads, OneOfRacingMonitorsGetsTheTrace) {
    for (int round = 0; round < 50; ++round) {
        tGmlThreads registry;
        registry.AddThread(nullptr)->SetSID(9);
        plat::ManualResetEvent go;
        std::atomic<int> winners{0};
        std::atomic<u32> winner{0};
        std::vector<std::thread> monitors;
        for (u32 m = 1; m <= 4; ++m) {
            monitors.emplace_back([&, m] {
                tString out;
                go.Wait(-1);
                if (registry.SetThreadTrace(9, m, true, out)) {
                    winners.fetch_add(1);
                    winner.store(m);
                }
            });
        }
        go.Set();
        for (auto& th : monitors) th.join();
        ASSERT_EQ(winners.load(), 1);
        tString out;
        for (u32 m = 1; m <= 4; ++m) {
            if (m != winner.load()) {
                EXPECT_FALSE(registry.SetThreadTrace(9, m, false, out));
            }
        }
        EXPECT_TRUE(registry.SetThreadTrace(9, winner.load(), false, out));
    }
}

}  // namespace
