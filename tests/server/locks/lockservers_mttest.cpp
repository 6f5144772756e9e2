// Both lock servers under many threads: locks never overlap between holders and no record
// number is handed out twice, whether the tables share a bucket or not.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/stringz.h"
#include "server/locks/recordlockserver.h"
#include "server/locks/virtuallockserver.h"

namespace {

constexpr int kThreads = 16;
constexpr int kTables = 4;
constexpr int kRecords = 4;
constexpr int kRounds = 1500;

struct Layout {
    const char* name;
    i32 bucketStep;  // bucket of table t: 5 + t * bucketStep
};
void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

class RecordLockThreads : public ::testing::TestWithParam<Layout> {
protected:
    i32 BucketOf(int t) const { return 5 + t * GetParam().bucketStep; }
    static std::string TableName(int t) { return "ENV|TABLE" + std::to_string(t); }
};

// Every thread is its own holder (owner t + 1 at location 100 + t). A holder that was granted a
// record counts itself in; a holder of the table lock checks that no record is counted in.
TEST_P(RecordLockThreads, HoldersNeverOverlap) {
    tRecordLockServer server;
    std::atomic<int> inside[kTables][kRecords] = {};
    std::atomic<int> tableHeld[kTables] = {};
    std::atomic<int> overlaps{0};
    std::atomic<int> granted{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const u32 owner = t + 1;
            const u32 location = 100 + t;
            for (int i = 0; i < kRounds; ++i) {
                const int table = (t + i) % kTables;
                const std::string name = TableName(table);
                const i32 bucket = BucketOf(table);
                if (i % 7 == 0) {
                    if (!server.FLock(owner, bucket, name.c_str(), location)) continue;
                    if (tableHeld[table].fetch_add(1) != 0) overlaps.fetch_add(1);
                    for (auto& r : inside[table]) {
                        if (r.load() != 0) overlaps.fetch_add(1);
                    }
                    tableHeld[table].fetch_sub(1);
                    server.FUnLock(owner, bucket, name.c_str(), location);
                    continue;
                }
                const int record = (i * 5 + t) % kRecords;
                if (!server.RLock(owner, bucket, name.c_str(), record + 1, location)) continue;
                granted.fetch_add(1);
                if (inside[table][record].fetch_add(1) != 0) overlaps.fetch_add(1);
                if (tableHeld[table].load() != 0) overlaps.fetch_add(1);
                if (!server.IsLocked(owner, bucket, name.c_str(), record + 1, location)) {
                    overlaps.fetch_add(1);
                }
                inside[table][record].fetch_sub(1);
                server.RUnLock(owner, bucket, name.c_str(), record + 1, location);
            }
        });
    }
    // Listings, statistics and the release of an unused location walk every bucket meanwhile.
    std::thread walker([&] {
        tString text;
        while (!done.load()) {
            server.InspectLocks(text, 0);
            server.Statistics(text, 0);
            server.UnLockLocation(999);
        }
    });
    for (auto& th : threads) th.join();
    done.store(true);
    walker.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(granted.load(), 0);
    tString listing("stale");
    server.InspectLocks(listing, 0);
    EXPECT_STREQ(listing.GetText(), "");  // every holder released what it took
}

// All threads draw numbers from one table: together they get 1..N, each number once.
TEST_P(RecordLockThreads, NextRecnoHandsOutEveryNumberOnce) {
    tRecordLockServer server;
    std::vector<std::vector<f64>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                // Threads also count on tables of their own, in the layout's buckets.
                const int own = t % kTables;
                server.NextRecno(t + 1, BucketOf(own), TableName(own).c_str(), 100 + t);
                drawn[t].push_back(server.NextRecno(t + 1, BucketOf(0), "ENV|SHARED", 100 + t));
            }
        });
    }
    for (auto& th : threads) th.join();
    std::vector<f64> all;
    for (const auto& d : drawn) all.insert(all.end(), d.begin(), d.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kRounds));
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<f64>(i + 1));
    for (int table = 0; table < kTables; ++table) {
        EXPECT_EQ(server.RecCount(BucketOf(table), TableName(table).c_str()),
                  static_cast<f64>(kThreads / kTables * kRounds));
    }
}

// Counters read without the bucket's lock, while writers count on and make new tables in the
// same buckets: a reader never sees a counter go back, nor past what the writers drew, and a
// table's counter reads as it was set right away.
TEST_P(RecordLockThreads, CountersReadWithoutTheLockNeverGoBack) {
    tRecordLockServer server;
    std::atomic<int> writersLeft{kThreads / 2};
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads / 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const int table = i % kTables;
                server.NextRecno(t + 1, BucketOf(table), TableName(table).c_str(), 100 + t);
                if (i % 10 != 0) continue;
                const std::string fresh = "ENV|NEW" + std::to_string(t) + "_" + std::to_string(i);
                server.SetRecCount(BucketOf(table), fresh.c_str(), i + 1);
                if (server.RecCount(BucketOf(table), fresh.c_str()) != i + 1) faults.fetch_add(1);
            }
            writersLeft.fetch_sub(1);
        });
    }
    const f64 total = static_cast<f64>(kThreads / 2 * kRounds / kTables);
    for (int t = 0; t < kThreads / 2; ++t) {
        threads.emplace_back([&] {
            f64 seen[kTables] = {};
            while (writersLeft.load() > 0) {
                for (int table = 0; table < kTables; ++table) {
                    const f64 now = server.RecCount(BucketOf(table), TableName(table).c_str());
                    if (now < seen[table] || now > total) faults.fetch_add(1);
                    seen[table] = now;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(faults.load(), 0);
    for (int table = 0; table < kTables; ++table) {
        EXPECT_EQ(server.RecCount(BucketOf(table), TableName(table).c_str()), total);
    }
}

INSTANTIATE_TEST_SUITE_P(Buckets, RecordLockThreads,
                         ::testing::Values(Layout{"OneBucket", 0}, Layout{"ManyBuckets", 97}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualLockThreads, HoldersOfOneKeyNeverOverlap) {
    tVirtualLockServer server;
    const char* keys[] = {"K0", "K1", "K2"};
    std::atomic<int> inside[3] = {};
    std::atomic<int> overlaps{0};
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            tString info;
            for (int i = 0; i < kRounds; ++i) {
                const int k = (t + i) % 3;
                info.Assign(("thread " + std::to_string(t)).c_str());
                if (!server.VLock(t + 1, keys[k], 100 + t, "ENV", info)) continue;
                granted.fetch_add(1);
                if (inside[k].fetch_add(1) != 0) overlaps.fetch_add(1);
                inside[k].fetch_sub(1);
                if (!server.VUnLock(t + 1, keys[k], 100 + t, "ENV")) overlaps.fetch_add(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(granted.load(), 0);
}

}  // namespace
