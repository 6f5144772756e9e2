// A definition handed out by the cache stays whole and alive while other threads remove,
// clean, re-add and update it.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "server/tables/dbtable.h"
#include "tests/support/gmtest.h"

namespace {

constexpr const char* kEnv = "MSSQL/ERP";
constexpr int kRounds = 20000;

// Layouts of 2 or 4 fields of C 4: offsets 0, 4, 8, 12.
std::unique_ptr<tTableDefinitionShared> MakeDef(i32 fields) {
    std::unique_ptr<tTableDefinitionShared> def(new tTableDefinitionShared("sa1010", kEnv));
    const char* names[] = {"A", "B", "C", "D"};
    for (i32 i = 0; i < fields; ++i) def->AddField(names[i], 'C', 4, 0, true, true);
    return def;
}

// A copy is one whole layout, never a mix of two.
bool IsWholeLayout(const tTableDefinition& def) {
    const i32 count = def.GetFieldCount();
    if (count != 2 && count != 4) return false;
    if (def.GetRecLen() != static_cast<u32>(count) * 4) return false;
    for (i32 i = 0; i < count; ++i) {
        if (def.GetField(i)->GetOffset() != static_cast<u32>(i) * 4) return false;
    }
    return def.GetFieldNo("A") == 0;
}

TEST(TableCacheThreads, HandedOutDefinitionSurvivesRemoveCleanAndUpdate) {
    gmtest::ConsoleCapture quiet;  // Clean reports every round
    tTableCache cache;
    const std::shared_ptr<tTableDefinitionShared> held = cache.Add(MakeDef(2), kEnv);
    plat::ManualResetEvent start;
    std::atomic<int> broken{0};
    std::atomic<int> readsAfterRemoval{0};

    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        const auto two = MakeDef(2);
        const auto four = MakeDef(4);
        start.Wait(-1);
        for (int i = 0; i < kRounds; ++i) cache.Update(i % 2 ? *two : *four, kEnv);
    });
    threads.emplace_back([&] {
        start.Wait(-1);
        for (int i = 0; i < kRounds; ++i) {
            cache.Remove("SA1010", kEnv);
            cache.Add(MakeDef(i % 2 ? 2 : 4), kEnv);
        }
    });
    threads.emplace_back([&] {
        start.Wait(-1);
        for (int i = 0; i < kRounds / 10; ++i) cache.Clean("ConnectUser");
    });
    for (int reader = 0; reader < 3; ++reader) {
        threads.emplace_back([&] {
            std::shared_ptr<tTableDefinitionShared> kept = held;  // a share kept across rounds
            start.Wait(-1);
            for (int i = 0; i < kRounds; ++i) {
                const std::shared_ptr<tTableDefinitionShared> found =
                    cache.Find("sa1010", "mssql/erp");
                if (found && i % 4 != 0) kept = found;
                if (kept != found) ++readsAfterRemoval;
                const tTableDefinitionExclusive copy(*kept);
                if (!IsWholeLayout(copy)) ++broken;
                if (CompareText(kept->GetFullName(), "MSSQL/ERP|SA1010") != 0) ++broken;
                if (kept->GetLockBucket() != 204) ++broken;
            }
        });
    }
    start.Set();
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(broken.load(), 0);
    EXPECT_GT(readsAfterRemoval.load(), 0);
    EXPECT_STREQ(held->GetName(), "SA1010");
    EXPECT_TRUE(IsWholeLayout(*held));
}

}  // namespace
