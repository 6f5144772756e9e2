// Process globals under many threads: connection counting loses nothing and never goes below
// zero, the environment registry keeps one entry per name, and the meters and the memory check
// may run beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 2000;

class GlobalsThreads : public ::testing::Test {
protected:
    void SetUp() override {
        gmtest::WriteFileText(dir.File("gatemill.ini"), "[General]\nMemLimit=100000\n");
        globals = std::make_unique<tGMLGlobals>(dir.File("gatemill.ini").c_str());
        PublishGlobals(globals.get());
        globals->InitProcessCounters();
    }
    void TearDown() override {
        PublishGlobals(nullptr);
        globals.reset();
    }

    gmtest::TempDir dir;
    std::unique_ptr<tGMLGlobals> globals;
};

TEST_F(GlobalsThreads, CountsBalanceAndStayWithinThePeak) {
    tGMLGlobals& g = *globals;
    std::vector<std::thread> workers;
    std::atomic<bool> broken{false};
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            const bool user = t % 2 == 0;
            for (int i = 0; i < kRounds; ++i) {
                g.ConnectUser(user);
                if (g.GetActiveConnections() > kThreads) broken = true;
                if (i % 100 == 0) g.SetCleanCacheOnIdle();
                g.DisconnectUser(user);
            }
        });
    }
    // Meters and the memory check beside the counting.
    workers.emplace_back([&] {
        for (int i = 0; i < 50; ++i) {
            tString report;
            CheckMemoryStatus(report);
            g.GetProcessMemory();
            g.GetVirtualMemory();
            const f64 cpu = g.GetCpuUsage();
            if (cpu < 0 || cpu > 100) broken = true;
        }
    });
    for (auto& w : workers) w.join();
    EXPECT_FALSE(broken.load());
    EXPECT_EQ(g.GetActiveConnections(), 0u);
    EXPECT_EQ(g.GetUserConnections(), 0u);
    EXPECT_GE(g.GetPeakConnections(), 1u);
    EXPECT_LE(g.GetPeakConnections(), static_cast<u32>(kThreads));
}

TEST_F(GlobalsThreads, ConcurrentRegistrationsAreAllKept) {
    tGMLGlobals& g = *globals;
    constexpr int kNames = 200;
    std::vector<std::thread> workers;
    std::atomic<int> wrongAnswers{0};
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kNames; ++i) {
                const std::string name = "ENV" + std::to_string(t) + "_" + std::to_string(i);
                tString message;
                if (g.CheckEnvironment(name.c_str(), "db", message) != 0) ++wrongAnswers;
                g.AddEnvironment(name.c_str(), "db", name.c_str());
                if (g.CheckEnvironment(name.c_str(), "DB", message) != 1) ++wrongAnswers;
                if (g.CheckEnvironment(name.c_str(), "other", message) != 2) ++wrongAnswers;
                if (i % 10 == 0) {  // a report reads them all: now and then is enough
                    tString reports;
                    g.GetEnvironmentReports(reports);
                }
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(wrongAnswers.load(), 0);
    tString reports;
    g.GetEnvironmentReports(reports);
    const std::string all = reports.GetText();
    EXPECT_EQ(static_cast<int>(std::count(all.begin(), all.end(), '\n')), kThreads * kNames);
    EXPECT_TRUE(g.IndexTraceChanged(true));
    tString none;
    g.GetEnvironmentReports(none);
    EXPECT_EQ(none.GetLength(), 0);
}

}  // namespace
