// The record-number cache: resets, loads in both directions with their shifts, empty current
// slots, empty loads, the end flags and the ends of the window; the locked-record list.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/isam/gatemill.h"
#include "tests/server/support/testisam.h"

namespace {

// A window as runs of consecutive record numbers: "460-499:6001" is slots 460..499 holding
// 6001, 6002, ... 6040.
std::string Runs(const tCache& cache) {
    const f64* w = cache.GetWindow();
    std::string out;
    for (i32 slot = 0; slot < tCache::kSlots;) {
        if (w[slot] == 0.0) {
            ++slot;
            continue;
        }
        i32 end = slot;
        while (end + 1 < tCache::kSlots && w[end + 1] == w[end] + 1.0) ++end;
        if (!out.empty()) out += " ";
        out += std::to_string(slot) + "-" + std::to_string(end) + ":" +
               std::to_string(static_cast<long long>(w[slot]));
        slot = end + 1;
    }
    return out;
}

std::vector<f64> Count(f64 from, i32 n, f64 step) {
    std::vector<f64> rows;
    for (i32 i = 0; i < n; ++i) rows.push_back(from + step * i);
    return rows;
}

class Cache : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    // Puts values at slots, leaving current at the last of them.
    void Put(tCache& cache, std::initializer_list<std::pair<i32, f64>> slots) {
        for (const auto& [slot, value] : slots) {
            cache.SetCurrent(slot);
            cache.SetCurrentRecno(value);
        }
    }
};

TEST_F(Cache, ResetsLoadsAndEndsOfTheWindow) {
    using Setup = std::function<void(tCache&)>;
    using Action = std::function<i32(tCache&)>;
    const Action forward = [](tCache& c) { return c.LoadForward(0); };
    const Action backward = [](tCache& c) { return c.LoadBackward(0); };
    const struct {
        const char* name;
        i16 rowCount;
        std::vector<f64> rows;  // what the key cursor returns, to the setup or the action
        Setup setup;
        Action action;
        i32 loaded;
        std::string window;
        i32 current;
        bool firstRow;
        bool lastRow;
    } cases[] = {
        {"reset keeping the current record",
         40,
         {},
         [&](tCache& c) {
             Put(c, {{3, 77}, {36, 1233}, {37, 1234}});
             c.SetForwardComplete(true);
             c.SetBackwardComplete(true);
         },
         [](tCache& c) {
             c.Reset(true);
             return 0;
         },
         0,
         "250-250:1234",
         250,
         false,
         false},
        {"reset without keeping",
         40,
         {},
         [&](tCache& c) {
             Put(c, {{37, 1234}});
             c.SetBackwardComplete(true);
         },
         [](tCache& c) {
             c.Reset(false);
             return 0;
         },
         0,
         "",
         0,
         false,
         false},
        {"reset of a cache never positioned leaves the window",
         40,
         {1, 2, 3},
         [&](tCache& c) { c.LoadForward(0); },
         [](tCache& c) {
             c.Reset(true);
             return 0;
         },
         0,
         "0-2:1",
         0,
         false,
         false},
        {"forward load past the top shifts the window down", 40, Count(6001, 40, 1),
         [&](tCache& c) {
             Put(c, {{20, 666}, {21, 777}, {480, 5000}});
             c.SetForwardComplete(true);
         },
         forward, 40, "0-0:777 459-459:5000 460-499:6001", 459, false, false},
        {"forward load with room places the rows after the current slot",
         40,
         {9, 10, 11},
         [&](tCache& c) {
             Put(c, {{5, 8}});
             c.SetForwardComplete(true);
         },
         forward,
         3,
         "5-8:8",
         5,
         true,
         false},
        {"backward load past the bottom shifts the window up", 40, Count(4999, 40, -1),
         [&](tCache& c) {
             Put(c, {{470, 888}, {469, 999}, {11, 5001}, {10, 5000}});
             c.SetBackwardComplete(true);
         },
         backward, 40, "0-41:4960 499-499:999", 40, false, false},
        {"backward load with room places the rows below the current slot",
         40,
         {19, 18},
         [&](tCache& c) {
             Put(c, {{100, 20}});
             c.SetBackwardComplete(true);
         },
         backward,
         2,
         "98-100:18",
         100,
         false,
         true},
        {"forward load on an empty current slot fills from slot 0",
         40,
         {30, 31, 32},
         [&](tCache& c) { c.SetCurrent(7); },
         forward,
         3,
         "0-2:30",
         7,
         false,
         false},
        {"backward load on an empty current slot fills up to the last slot",
         40,
         {32, 31, 30},
         [&](tCache& c) { c.SetCurrent(7); },
         backward,
         3,
         "497-499:30",
         7,
         false,
         false},
        {"forward load of 500 rows moves to slot 0", 500, Count(1, 500, 1),
         [&](tCache& c) {
             Put(c, {{300, 9000}});
         },
         forward, 500, "0-499:1", 0, false, false},
        {"backward load of 500 rows moves to the last slot", 500, Count(500, 500, -1),
         [&](tCache& c) {
             Put(c, {{300, 9000}});
         },
         backward, 500, "0-499:1", 499, false, false},
        {"a load stores no more rows than the row count",
         2,
         {1, 2, 3, 4},
         [&](tCache& c) { c.SetCurrent(0); },
         forward,
         2,
         "0-1:1",
         0,
         false,
         false},
        {"a forward load of no row changes nothing",
         40,
         {},
         [&](tCache& c) {
             Put(c, {{480, 5000}});
             c.SetForwardComplete(true);
         },
         forward,
         0,
         "480-480:5000",
         480,
         true,
         false},
        {"a backward load of no row changes nothing",
         40,
         {},
         [&](tCache& c) {
             Put(c, {{10, 5000}});
             c.SetBackwardComplete(true);
         },
         backward,
         0,
         "10-10:5000",
         10,
         false,
         true},
        {"first on an empty window",
         40,
         {},
         [&](tCache& c) { c.SetCurrent(9); },
         [](tCache& c) {
             c.GoFirst();
             return 0;
         },
         0,
         "",
         0,
         false,
         false},
        {"last on an empty window",
         40,
         {},
         [&](tCache& c) { c.SetCurrent(9); },
         [](tCache& c) {
             c.GoLast();
             return 0;
         },
         0,
         "",
         tCache::kSlots - 1,
         false,
         false},
        {"first and last find the filled ends",
         40,
         {},
         [&](tCache& c) {
             Put(c, {{12, 4}, {13, 5}, {40, 9}});
         },
         [](tCache& c) {
             c.GoFirst();
             const i32 first = c.GetCurrent();
             c.GoLast();
             return first;
         },
         12,
         "12-13:4 40-40:9",
         40,
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = MakeFile();
        tCache& cache = file->GetCache();
        conn.SetRowCount(c.rowCount);
        ScriptRecnos(c.rows);
        ASSERT_TRUE(file->GetStatement().ExecDirect("SELECT R_E_C_N_O_", "test", 1));
        c.setup(cache);
        EXPECT_EQ(c.action(cache), c.loaded);
        EXPECT_EQ(Runs(cache), c.window);
        EXPECT_EQ(cache.GetCurrent(), c.current);
        EXPECT_EQ(cache.HasFirstRow(), c.firstRow);
        EXPECT_EQ(cache.IsBackwardComplete(), c.lastRow);
    }
}

TEST_F(Cache, EmptyWindowAndEndQuestions) {
    auto file = MakeFile();
    tCache& cache = file->GetCache();
    EXPECT_EQ(cache.GetCurrent(), -1);
    EXPECT_TRUE(cache.IsEmpty());
    EXPECT_EQ(cache.GetCurrentRecno(), 0.0);

    cache.SetCurrent(4);
    cache.SetCurrentRecno(44);
    cache.SetCurrent(5);
    cache.SetCurrentRecno(45);
    cache.SetForwardComplete(true);
    EXPECT_TRUE(cache.IsForwardComplete());
    EXPECT_EQ(cache.GetCurrentRecno(), 45.0);
    cache.SetCurrent(6);
    EXPECT_TRUE(cache.IsEmpty());
    EXPECT_FALSE(cache.IsForwardComplete()) << "the current slot holds no record";
    EXPECT_EQ(cache.GetCurrentRecno(), 0.0);

    EXPECT_FALSE(cache.IsPastEnd(6)) << "the window does not reach the last row";
    cache.SetBackwardComplete(true);
    EXPECT_TRUE(cache.IsPastEnd(6));
    EXPECT_FALSE(cache.IsPastEnd(5));
    EXPECT_TRUE(cache.IsPastEnd(tCache::kSlots));
    EXPECT_FALSE(cache.IsFilled(-1));
    EXPECT_FALSE(cache.IsFilled(tCache::kSlots));
}

TEST_F(Cache, ResetRemembersTheOrderAndForgetsTheLastSeek) {
    auto file = MakeFile();
    tCache& cache = file->GetCache();
    ASSERT_EQ(file->SetOrder(2), 0);
    file->GetSeekOptimizer().Store(0);
    cache.Reset(false);
    EXPECT_EQ(cache.GetOrder(), 2);
    EXPECT_FALSE(file->GetSeekOptimizer().IsValid());
}

TEST_F(Cache, RevalidateResetsOnlyOnAChangedOrderOrFilter) {
    auto file = MakeFile();
    tCache& cache = file->GetCache();
    cache.Reset(false);
    Put(cache, {{0, 10}, {1, 11}});

    cache.Revalidate(true);
    EXPECT_EQ(Runs(cache), "0-1:10") << "nothing changed";

    file->SetFilterChanged(true);
    cache.Revalidate(true);
    EXPECT_EQ(Runs(cache), "250-250:11");
    EXPECT_FALSE(file->IsFilterChanged());

    ASSERT_EQ(file->SetOrder(1), 0);
    cache.Revalidate(false);
    EXPECT_EQ(Runs(cache), "");
    EXPECT_EQ(cache.GetCurrent(), 0);
    EXPECT_EQ(cache.GetOrder(), 1);
}

TEST(RecnoList, KeepsAscendingUniqueNumbersAndZeroStandsForTheTable) {
    tRecnoList list;
    EXPECT_TRUE(list.Add(30));
    EXPECT_TRUE(list.Add(10));
    EXPECT_TRUE(list.Add(20));
    EXPECT_TRUE(list.Add(40));
    EXPECT_FALSE(list.Add(20)) << "already held";
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(std::vector<f64>({list.Get(0), list.Get(1), list.Get(2), list.Get(3)}),
              std::vector<f64>({10, 20, 30, 40}));
    EXPECT_TRUE(list.Find(30));
    EXPECT_FALSE(list.Find(25));

    EXPECT_TRUE(list.Remove(20));
    EXPECT_FALSE(list.Remove(20));
    EXPECT_FALSE(list.Find(20));
    EXPECT_EQ(list.Count(), 3);

    EXPECT_TRUE(list.Add(0));
    EXPECT_EQ(list.Get(0), 0.0);
    EXPECT_TRUE(list.Find(12345)) << "the table lock covers every record";
    EXPECT_TRUE(list.Remove(0));
    EXPECT_EQ(list.Count(), 0) << "removing the table lock empties the list";
    EXPECT_FALSE(list.Find(30));
}

}  // namespace
