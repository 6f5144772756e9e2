// The index-use trace from many sessions at once: the shared definition of GML_IDXSTATS is made
// once, and every trace row draws a record number of its own.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/catalogconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"

namespace {

TEST(IndexTraceThreads, SharedDefinitionIsMadeOnceAndRecnosNeverRepeat) {
    gmtest::TestDBProcess process;
    process.SetIni("General", "TraceIndex", "1");
    gmtest::TestSession session;
    session.traceOn = false;
    tDBConnection::ForgetIndexTraceDefinition();
    tTableDefinition def("SA1010", "PRODUCAO");
    def.AddField("A1_COD", 'C', 6, 0, true, true);
    std::unique_ptr<tIndexDefinition> index(new tIndexDefinition("SA1010_1", false));
    index->AddField(0);
    def.AddIndex(std::move(index));

    constexpr int kThreads = 8;
    constexpr int kUses = 50;
    std::vector<std::unique_ptr<gmtest::CatalogConnection>> conns;
    for (int t = 0; t < kThreads; ++t) {
        conns.push_back(std::make_unique<gmtest::CatalogConnection>());
        conns.back()->SetDBServer(&session);
        conns.back()->recCount = 100.0;
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kUses; ++i) conns[t]->TraceIndex(def, *def.GetIndex(0));
        });
    }
    for (std::thread& thread : threads) thread.join();

    size_t described = 0;
    std::set<std::string> recnos;
    for (const auto& conn : conns) {
        described += conn->described.size();
        ASSERT_EQ(conn->executed.size(), static_cast<size_t>(kUses));
        for (const std::string& sql : conn->executed) {
            const size_t comma = sql.rfind(',');
            recnos.insert(sql.substr(comma + 1, sql.size() - comma - 2));
        }
    }
    EXPECT_EQ(described, 1u);
    EXPECT_EQ(recnos.size(), static_cast<size_t>(kThreads * kUses));
    EXPECT_EQ(*recnos.begin(), "101");
    tDBConnection::ForgetIndexTraceDefinition();
}

}  // namespace
