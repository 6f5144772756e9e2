// The ODBC loader under a race: threads making their first connections at once bind the library
// once, print one console line, and all see it bound.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "server/drivers/odbc_entry.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(ODBCLoaderRace, EightFirstConnectionsBindOnceAndPrintOneLine) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    tODBCLibrary loader;
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> bound{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            if (loader.Load("MSSQL", tString("RACE")) && loader.Entries().SQLConnect) {
                bound.fetch_add(1);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(bound.load(), kThreads);
    EXPECT_EQ(Count(console.Get(), "[INFO] Connection [MSSQL/RACE] using client library"), 1u);
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()),
              "[INFO] Connection [MSSQL/RACE] using client library [ODBC32.DLL] (ODBC10)\n");
    EXPECT_TRUE(process.LogEntries().empty());
}

}  // namespace
