// Process globals: defaults and [General] keys, the environment registry, connection counting
// with the idle clean under a set clock, the memory check's states with fixed figures, and the
// process meters.
#include "server/runtime/globals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "lib_base/misc.h"
#include "server/runtime/diagnostics.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/fixedmemory.h"
#include "tests/support/fixedclock.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::kMiB;

// 2023-06-01 12:00:00 UTC.
constexpr i64 kNoon = 1685620800;

class GlobalsTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (Globals() == globals.get()) PublishGlobals(nullptr);
        globals.reset();
    }

    // Globals over an ini file that holds the given [General] lines.
    tGMLGlobals& Make(const std::string& general) {
        gmtest::WriteFileText(dir.File("gatemill.ini"), "[General]\n" + general);
        globals = std::make_unique<tGMLGlobals>(dir.File("gatemill.ini").c_str());
        return *globals;
    }

    void CacheOneTable(tGMLGlobals& g) {
        g.GetTableCache()->Add(std::make_unique<tTableDefinitionShared>("SA1010", "MSSQL/ERP"),
                               "MSSQL/ERP");
    }

    gmtest::FixedClock clock{kNoon};
    gmtest::TempDir dir;
    std::unique_ptr<tGMLGlobals> globals;
};

TEST_F(GlobalsTest, EmptyIniGivesDefaults) {
    gmtest::ConsoleCapture console;
    tGMLGlobals& g = Make("");
    EXPECT_EQ(g.GetThreadInfo(), 0);
    EXPECT_EQ(g.GetGlbProfiler(), 0);
    EXPECT_EQ(g.GetLogFull(), 0);
    EXPECT_EQ(g.GetMemLimit(), 0u);
    EXPECT_TRUE(g.IsConnectionEnabled());
    EXPECT_EQ(g.IsCriticalMemory(), 0);
    EXPECT_EQ(g.GetActiveConnections(), 0u);
    EXPECT_EQ(g.GetUserConnections(), 0u);
    EXPECT_EQ(g.GetPeakConnections(), 0u);
    EXPECT_FALSE(g.IndexTraceChanged(false));
    EXPECT_NE(g.GetConfig(), nullptr);
    EXPECT_NE(g.GetTableCache(), nullptr);
    EXPECT_NE(g.GetThreads(), nullptr);
    EXPECT_NE(g.GetNamedLocks(), nullptr);
    EXPECT_EQ(g.GetRecordLockServer(), nullptr);  // made by server start
    EXPECT_EQ(g.GetVirtualLockServer(), nullptr);
    EXPECT_EQ(console.Get(), "");  // no "[RWLOCK]" line

    g.CreateLockServers();
    EXPECT_NE(g.GetRecordLockServer(), nullptr);
    EXPECT_NE(g.GetVirtualLockServer(), nullptr);
}

TEST_F(GlobalsTest, GeneralKeysAreReadOnce) {
    const struct {
        const char* lines;
        u8 threadInfo, profiler, logFull;
        u32 memLimit;
        const char* console;
    } cases[] = {
        {"ThreadInfo=1\nGlbProfiler=1\nLogFull=1\nMemLimit=512\n", 1, 1, 1, 512, ""},
        {"MemLimit=5000\nRWTimer=2.5\n", 0, 0, 0, 5000,
         "[RWLOCK] Using RWLock Timer set to 2.500\n"},
        {"MemLimit=-20\nThreadInfo=0\nRWTimer=abc\n", 0, 0, 0, 0,
         "[RWLOCK] Using RWLock Timer set to 0.000\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        gmtest::ConsoleCapture console;
        tGMLGlobals& g = Make(c.lines);
        EXPECT_EQ(g.GetThreadInfo(), c.threadInfo);
        EXPECT_EQ(g.GetGlbProfiler(), c.profiler);
        EXPECT_EQ(g.GetLogFull(), c.logFull);
        EXPECT_EQ(g.GetMemLimit(), c.memLimit);
        EXPECT_EQ(console.Get(), c.console);
        globals.reset();
    }
}

TEST_F(GlobalsTest, EnvironmentRegistry) {
    tGMLGlobals& g = Make("");
    const char* kDouble =
        "[ERROR] DOUBLE ENVIRONMENT NAME CONFIG ERROR. The same connection name (erp) used with "
        "two different databases (Prod_DB AND test_db) are not supported. Reconfigure one of "
        "those connections using a different unique name.";
    const struct {
        const char* name;
        const char* database;
        i32 result;
        const char* message;
    } cases[] = {
        {"ERP", "Prod_DB", 0, ""},       // first connect of the alias
        {"erp", "PROD_db", 1, ""},       // a case-different alias of the same database
        {"erp", "test_db", 2, kDouble},  // the same name for another database
        {"CRM", "Prod_DB", 0, ""},       // another name for the same database
        {"ER", "Prod_DB", 0, ""},       {"crm", "prod_db", 1, ""},
    };
    // Each connect as the database connect makes it: a new name is registered with its report.
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "/" + c.database);
        tString message;
        EXPECT_EQ(g.CheckEnvironment(c.name, c.database, message), c.result);
        EXPECT_STREQ(message.GetText(), c.message);
        const std::string report = std::string(c.name) + " report";
        if (c.result == 0) g.AddEnvironment(c.name, c.database, report.c_str());
    }
    tString reports("x");
    g.GetEnvironmentReports(reports);
    EXPECT_STREQ(reports.GetText(), "xERP report\nCRM report\nER report\n");

    // Reading the index-trace flag changes nothing; raising it empties the registry for good.
    tString message;
    EXPECT_FALSE(g.IndexTraceChanged(false));
    EXPECT_EQ(g.CheckEnvironment("ERP", "Prod_DB", message), 1);
    EXPECT_TRUE(g.IndexTraceChanged(true));
    EXPECT_EQ(g.CheckEnvironment("ERP", "Prod_DB", message), 0);
    tString none;
    g.GetEnvironmentReports(none);
    EXPECT_EQ(none.GetLength(), 0);
    EXPECT_TRUE(g.IndexTraceChanged(false));  // never cleared
    g.AddEnvironment("ERP", "Prod_DB", "again");
    EXPECT_EQ(g.CheckEnvironment("ERP", "Prod_DB", message), 1);
}

TEST_F(GlobalsTest, ConnectionCountingAndIdleClean) {
    gmtest::ConsoleCapture console;
    tGMLGlobals& g = Make("");
    tTableCache& cache = *g.GetTableCache();
    CacheOneTable(g);

    gmtest::FixedClock::Set(kNoon + 300);  // exactly 300 s since start: no clean
    g.ConnectUser(true);
    EXPECT_EQ(cache.GetCount(), 1);
    g.DisconnectUser(true);

    gmtest::FixedClock::Set(kNoon + 300 + 301);  // 301 s since the last disconnect
    g.ConnectUser(true);
    EXPECT_EQ(cache.GetCount(), 0);
    CacheOneTable(g);
    g.ConnectUser(false);  // not idle any more: no second clean; a non-user connection
    EXPECT_EQ(cache.GetCount(), 1);
    EXPECT_EQ(g.GetActiveConnections(), 2u);
    EXPECT_EQ(g.GetUserConnections(), 1u);
    EXPECT_EQ(g.GetPeakConnections(), 2u);
    g.DisconnectUser(false);
    EXPECT_EQ(g.GetActiveConnections(), 1u);
    EXPECT_EQ(g.GetUserConnections(), 1u);
    g.DisconnectUser(true);
    EXPECT_EQ(g.GetActiveConnections(), 0u);
    EXPECT_EQ(g.GetUserConnections(), 0u);
    EXPECT_EQ(g.GetPeakConnections(), 2u);

    // More disconnects than connects leave the counts at 0.
    g.DisconnectUser(true);
    EXPECT_EQ(g.GetActiveConnections(), 0u);
    EXPECT_EQ(g.GetUserConnections(), 0u);
    g.ConnectUser(true);
    EXPECT_EQ(g.GetActiveConnections(), 1u);
    EXPECT_EQ(g.GetUserConnections(), 1u);
    g.DisconnectUser(true);

    EXPECT_EQ(console.Get(),
              "[INFO] ConnectUser Cleaning Table Structure Cache (1 elements)...\n"
              "[INFO] Table Structure Cache Cleaned.\n");
}

TEST_F(GlobalsTest, CleanOnIdleRunsOnceWhenTheLastConnectionEnds) {
    gmtest::ConsoleCapture console;
    tGMLGlobals& g = Make("");
    CacheOneTable(g);
    g.DisconnectUser(true);  // nothing to end, and no clean asked for
    g.ConnectUser(true);
    g.ConnectUser(false);
    g.SetCleanCacheOnIdle();
    g.DisconnectUser(true);  // one connection is left
    EXPECT_EQ(g.GetTableCache()->GetCount(), 1);
    g.DisconnectUser(false);
    EXPECT_EQ(g.GetTableCache()->GetCount(), 0);
    CacheOneTable(g);
    g.ConnectUser(true);
    g.DisconnectUser(true);  // the request was cleared
    EXPECT_EQ(g.GetTableCache()->GetCount(), 1);
    EXPECT_EQ(console.Get(),
              "[INFO] DisconnectUser Cleaning Table Structure Cache (1 elements)...\n"
              "[INFO] Table Structure Cache Cleaned.\n");
}

TEST_F(GlobalsTest, IdleTimeRestartsWithTheYear) {
    gmtest::FixedClock::Set(1704067140);  // 2023-12-31 23:59:00 UTC
    tGMLGlobals& g = Make("");
    CacheOneTable(g);
    EXPECT_DOUBLE_EQ(GetYearSeconds(), 364 * 86400.0 + 23 * 3600.0 + 59 * 60.0);
    gmtest::FixedClock::Set(1704067200 +
                            600);  // 2024-01-01 00:10:00: 11 minutes later, 600 year seconds
    EXPECT_DOUBLE_EQ(GetYearSeconds(), 600.0);
    g.ConnectUser(true);
    EXPECT_EQ(g.GetTableCache()->GetCount(), 1);
}

TEST_F(GlobalsTest, ConnectionSwitchPrintsItsNoticeEveryTime) {
    gmtest::ConsoleCapture console;
    tGMLGlobals& g = Make("");
    const std::string enabled =
        "\n********************************\n*** Connections are enabled. *** \n"
        "********************************\n";
    const std::string disabled =
        "\n***********************************\n*** Connections are disabled!!! *** \n"
        "***********************************\n";
    g.SetConnectionsEnabled(false);
    EXPECT_FALSE(g.IsConnectionEnabled());
    g.SetConnectionsEnabled(true);
    EXPECT_TRUE(g.IsConnectionEnabled());
    g.SetConnectionsEnabled(true);
    EXPECT_EQ(console.Get(), disabled + enabled + enabled);
}

TEST_F(GlobalsTest, DestructionCleansTheTableCache) {
    gmtest::ConsoleCapture console;
    tGMLGlobals& g = Make("");
    g.CreateLockServers();
    CacheOneTable(g);
    globals.reset();
    EXPECT_EQ(console.Get(),
              "[INFO] ~tGMLGlobals Cleaning Table Structure Cache (1 elements)...\n"
              "[INFO] Table Structure Cache Cleaned.\n");
}

const char* kDisabledBox =
    "**********************************************\n"
    "***    WARNING !!! CRITICAL MEMORY LIMIT   ***\n"
    "***        USER CONNECTIONS DISABLED       ***\n"
    "**********************************************\n\n";
const char* kEnabledBox =
    "**********************************************\n"
    "***       MEMORY SAFE LIMIT AVAILABLE      ***\n"
    "***         USER CONNECTIONS ENABLED       ***\n"
    "**********************************************\n\n";
const char* kAppWarning = "*** APPLICATION MEMORY WARNING : MEMORY ALLOCATED CLOSER TO SAFE LIMIT.";

TEST_F(GlobalsTest, MemoryCheckSwitchesTheCriticalState) {
    for (const u32 limit : {100u, 5000u}) {
        SCOPED_TRACE(limit);
        tGMLGlobals& g = Make("MemLimit=" + std::to_string(limit) + "\n");
        PublishGlobals(&g);
        gmtest::FixedMemory memory;
        memory.system = {8192 * kMiB, 4096 * kMiB, 8192 * kMiB, 4096 * kMiB, kMiB, kMiB};
        const struct {
            u64 used;
            bool warning;
            const char* box;
            u8 flag;
        } steps[] = {
            {limit * kMiB * 95 / 100, true, nullptr, 0},  // warning; the flag stays clear
            {(limit + 1) * kMiB, false, kDisabledBox, 1},
            {(limit + 1) * kMiB, false, kDisabledBox, 1},  // still critical: the box again
            {limit * kMiB * 95 / 100, true, kEnabledBox, 0},
            {limit * kMiB / 2, false, nullptr, 0},
        };
        for (const auto& s : steps) {
            SCOPED_TRACE(s.used);
            memory.process = {s.used, 0};
            tString text;
            CheckMemoryStatus(text);
            const std::string t = text.GetText();
            EXPECT_EQ(g.IsCriticalMemory(), s.flag);
            EXPECT_EQ(t.find(kAppWarning) != std::string::npos, s.warning) << t;
            const bool anyBox =
                t.find("**********************************************\n") != std::string::npos;
            EXPECT_EQ(anyBox, s.box != nullptr) << t;
            if (s.box) {
                EXPECT_EQ(t.substr(t.size() - std::strlen(s.box)), s.box);
            }
        }
        PublishGlobals(nullptr);
    }
}

TEST_F(GlobalsTest, MetersWithFixedFigures) {
    tGMLGlobals& g = Make("");
    gmtest::FixedMemory memory;
    memory.system = {0, 0, 0, 0, 0x7ffffffff000ULL, 0x7ffffffff000ULL - 6 * 1024 * kMiB};
    memory.process = {2048 * kMiB, 3072 * kMiB};
    // Before the meters are set up, every figure is 0.
    EXPECT_EQ(g.GetProcessMemory(), 0);
    EXPECT_EQ(g.GetVirtualMemory(), 0);
    EXPECT_EQ(g.GetCpuUsage(), 0);
    g.InitProcessCounters();
    EXPECT_EQ(g.GetProcessMemory(), 3145728.0);  // 3 GiB in kilobytes, beyond 32-bit bytes
    EXPECT_EQ(g.GetVirtualMemory(), 6291456.0);
    memory.processReadable = false;
    EXPECT_EQ(g.GetProcessMemory(), 0);
}

TEST_F(GlobalsTest, UnreadableProcessLeavesEveryMeterOff) {
    tGMLGlobals& g = Make("");
    gmtest::FixedMemory memory;
    memory.processReadable = false;
    g.InitProcessCounters();
    memory.processReadable = true;
    memory.process = {kMiB, kMiB};
    memory.system.virtualTotal = 2 * kMiB;
    EXPECT_EQ(g.GetProcessMemory(), 0);
    EXPECT_EQ(g.GetVirtualMemory(), 0);
    EXPECT_EQ(g.GetCpuUsage(), 0);
}

TEST_F(GlobalsTest, RealMetersOfThisProcess) {
    tGMLGlobals& g = Make("");
    g.InitProcessCounters();
    EXPECT_GT(g.GetProcessMemory(), 0);
    EXPECT_GT(g.GetVirtualMemory(), 0);
    for (int i = 0; i < 3; ++i) {
        const f64 cpu = g.GetCpuUsage();
        EXPECT_GE(cpu, 0);
        EXPECT_LE(cpu, 100);
    }
}

}  // namespace
