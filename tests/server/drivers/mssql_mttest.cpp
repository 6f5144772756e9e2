// The SQL Server driver's process-wide list of data sources under a race: threads that check and
// add names at once lose none of them, and each removal edits the registry file whole.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "server/drivers/mssql.h"
#include "tests/support/tempdir.h"

namespace {

TEST(MSSQLDataSourceListRace, ConcurrentFirstConnectsLoseNoDataSource) {
    gmtest::TempDir dir;
    const std::string registry = dir.File("registry.ini");
    constexpr int kThreads = 8;
    constexpr int kNames = 40;
    std::string text;
    for (int t = 0; t < kThreads; ++t) {
        text += "[SOFTWARE\\ODBC\\ODBC.INI\\RACE" + std::to_string(t) + "_0]\r\nAnsiNPW=Yes\r\n";
    }
    gmtest::WriteFileText(registry, text);
    plat::SetRegistryFile(registry);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int n = 0; n < kNames; ++n) {
                const std::string name = "RACE" + std::to_string(t) + "_" + std::to_string(n);
                if (!tMSSQLConnection::IsDSNChecked(name.c_str())) {
                    tMSSQLConnection::RemoveAnsiNPW(name.c_str());
                }
                tMSSQLConnection::IsDSNChecked("SHARED");  // readers beside the writers
            }
        });
    }
    for (std::thread& th : threads) th.join();
    plat::SetRegistryFile("");
    for (int t = 0; t < kThreads; ++t) {
        for (int n = 0; n < kNames; ++n) {
            const std::string name = "race" + std::to_string(t) + "_" + std::to_string(n);
            ASSERT_TRUE(tMSSQLConnection::IsDSNChecked(name.c_str())) << name;
        }
    }
    EXPECT_EQ(gmtest::ReadFileText(registry).find("AnsiNPW"), std::string::npos);
}

}  // namespace
