// The record lock server: the cover rule, releases, record-number counters, openings, the lock
// listing, holder information and the counters.
#include "server/locks/recordlockserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib_base/stringz.h"
#include "tests/support/gmtest.h"

namespace {

enum class Op { RLock, RUnLock, FLock, FUnLock, IsLocked };

struct Step {
    Op op;
    u32 owner;
    u32 location;
    const char* table;
    f64 recno;
    bool expect;
};

constexpr i32 kBucket = 17;

class RecordLockServer : public ::testing::Test {
protected:
    bool Run(const Step& s) {
        switch (s.op) {
            case Op::RLock:
                return server.RLock(s.owner, kBucket, s.table, s.recno, s.location);
            case Op::RUnLock:
                return server.RUnLock(s.owner, kBucket, s.table, s.recno, s.location);
            case Op::FLock:
                return server.FLock(s.owner, kBucket, s.table, s.location);
            case Op::FUnLock:
                return server.FUnLock(s.owner, kBucket, s.table, s.location);
            case Op::IsLocked:
                return server.IsLocked(s.owner, kBucket, s.table, s.recno, s.location);
        }
        return false;
    }
    void RunAll(const Step* steps, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(testing::Message() << "step " << i);
            EXPECT_EQ(Run(steps[i]), steps[i].expect);
        }
    }
    std::string Listing(u32 ownerFilter = 0) {
        tString text("stale");
        server.InspectLocks(text, ownerFilter);
        return text.GetText();
    }

    tRecordLockServer server;
};

// Holders: A = owner 1 at location 10, B = owner 2 at location 10, A2 = owner 1 at location 11.
TEST_F(RecordLockServer, CoverRuleDecidesWhoHoldsARecord) {
    const Step steps[] = {
        {Op::RLock, 1, 10, "T1", 5, true},   // A locks record 5 ...
        {Op::RLock, 1, 10, "T1", 5, true},   // ... and again: one node (see the listing)
        {Op::RLock, 2, 10, "T1", 5, false},  // B is refused
        {Op::RLock, 1, 11, "T1", 5, false},  // A2: same owner, other location, another holder
        {Op::IsLocked, 1, 11, "T1", 5, false},
        {Op::IsLocked, 1, 10, "T1", 5, true},
        {Op::FLock, 1, 10, "T1", 0, true},   // only A has locks in T1
        {Op::RLock, 1, 10, "T1", 9, true},   // covered by A's table lock, nothing added
        {Op::RLock, 2, 10, "T1", 9, false},  // refused by A's table lock
        {Op::IsLocked, 2, 10, "T1", 9, false},
        {Op::IsLocked, 1, 10, "T1", 9, true},
        {Op::IsLocked, 1, 10, "T9", 1, false},  // a table never seen
        {Op::FLock, 1, 10, "T1", 0, true},      // A's own table lock: nothing added
        // T2: B holds one record, so A's table lock waits until B lets go.
        {Op::RLock, 2, 10, "T2", 3, true},
        {Op::FLock, 1, 10, "T2", 0, false},
        {Op::FLock, 1, 11, "T2", 0, false},
        {Op::RUnLock, 2, 10, "T2", 3, true},
        {Op::FLock, 1, 10, "T2", 0, true},
        {Op::RLock, 2, 10, "T2", 3, false},
        // T3: record 0 taken while others hold records is granted and then covers the table.
        {Op::RLock, 2, 10, "T3", 4, true},
        {Op::RLock, 1, 10, "T3", 0, true},
        {Op::RLock, 2, 10, "T3", 4, true},  // B's own node comes first in T3
        {Op::RLock, 2, 10, "T3", 6, false},
        {Op::IsLocked, 1, 10, "T3", 6, true},
    };
    RunAll(steps, std::size(steps));
    EXPECT_EQ(Listing(),
              "ID: 1\tTable: T1\tRecno: 5\n"
              "ID: 1\tTable: T1\tRecno: 0\n"
              "ID: 1\tTable: T2\tRecno: 0\n"
              "ID: 2\tTable: T3\tRecno: 4\n"
              "ID: 1\tTable: T3\tRecno: 0\n");
}

TEST_F(RecordLockServer, UnlocksReleaseOnlyTheHoldersLocksInTheirScope) {
    const Step steps[] = {
        {Op::RLock, 1, 10, "T1", 1, true},   {Op::RLock, 1, 10, "T1", 2, true},
        {Op::RLock, 2, 10, "T1", 3, true},   {Op::RLock, 1, 10, "T2", 1, true},
        {Op::RLock, 1, 11, "T2", 2, true},   {Op::RUnLock, 1, 10, "T1", 2, true},
        {Op::RUnLock, 2, 10, "T1", 1, true},  // not B's: nothing happens
    };
    RunAll(steps, std::size(steps));
    EXPECT_TRUE(server.RLock(1, 300, "T4", 8, 10));  // another bucket
    EXPECT_EQ(Listing(),
              "ID: 1\tTable: T1\tRecno: 1\nID: 2\tTable: T1\tRecno: 3\n"
              "ID: 1\tTable: T2\tRecno: 1\nID: 1\tTable: T2\tRecno: 2\n"
              "ID: 1\tTable: T4\tRecno: 8\n");

    server.FUnLock(1, kBucket, "T1", 10);  // A's record locks in T1 go with it
    EXPECT_EQ(Listing(1), "T2|1\nT2|2\nT4|8\n");
    server.RUnLock(1, kBucket, nullptr, 5, 11);  // every table of the bucket, any record
    EXPECT_EQ(Listing(1), "T2|1\nT4|8\n");
    server.FUnLock(1, 0, nullptr, 10);  // every table of every bucket
    EXPECT_EQ(Listing(), "ID: 2\tTable: T1\tRecno: 3\n");
}

TEST_F(RecordLockServer, FUnLockOfEveryTableForgetsTheHoldersInformation) {
    server.SetOwnerInfo(1, "user one", 10);
    server.SetOwnerInfo(1, "user one elsewhere", 11);
    server.FUnLock(1, 0, nullptr, 10);
    server.RLock(1, kBucket, "T", 1, 10);
    server.RLock(1, kBucket, "T", 2, 11);
    tString info;
    EXPECT_EQ(server.LockOwnerInfo(kBucket, "T", 1, info), 1);
    EXPECT_STREQ(info.GetText(), "Internal|Lock owner not found.");
    EXPECT_EQ(server.LockOwnerInfo(kBucket, "T", 2, info), 1);
    EXPECT_STREQ(info.GetText(), "user one elsewhere");
}

TEST_F(RecordLockServer, UnLockLocationLeavesOtherLocationsAlone) {
    server.RLock(1, kBucket, "T", 1, 10);
    server.RLock(2, kBucket, "T", 2, 10);
    server.RLock(1, 400, "U", 3, 10);
    server.RLock(1, kBucket, "T", 4, 11);
    server.SetOpen(1, kBucket, "T", 0, 10);
    server.SetOpen(1, kBucket, "T", 0, 11);
    server.SetOwnerInfo(2, "two", 10);
    server.SetOwnerInfo(1, "one at 11", 11);

    server.UnLockLocation(10);
    EXPECT_EQ(Listing(), "ID: 1\tTable: T\tRecno: 4\n");
    gmtest::ConsoleCapture console;
    EXPECT_FALSE(server.SetClose(1, kBucket, "T", 10));
    EXPECT_TRUE(server.SetClose(1, kBucket, "T", 11));
    server.RLock(2, kBucket, "T", 2, 10);
    tString info;
    server.LockOwnerInfo(kBucket, "T", 2, info);
    EXPECT_STREQ(info.GetText(), "Internal|Lock owner not found.");
    server.LockOwnerInfo(kBucket, "T", 4, info);
    EXPECT_STREQ(info.GetText(), "one at 11");
}

TEST_F(RecordLockServer, NextRecnoCountsOnUnlessAnotherHolderHasTheTable) {
    {
        gmtest::ConsoleCapture console;
        EXPECT_EQ(server.NextRecno(1, kBucket, "NEW", 10), 1.0);
        EXPECT_EQ(console.Get(),
                  "[WARNING] tLockServerNode::GetNextRecno build new tLockList on table [NEW].\n");
    }
    gmtest::ConsoleCapture console;
    EXPECT_EQ(server.NextRecno(1, kBucket, "NEW", 10), 2.0);
    EXPECT_EQ(server.RecCount(kBucket, "OTHER"), 0.0);  // made silently
    server.SetRecCount(kBucket, "OTHER", 500);
    EXPECT_EQ(server.NextRecno(1, kBucket, "OTHER", 10), 501.0);
    EXPECT_EQ(console.Get(), "");

    ASSERT_TRUE(server.FLock(2, kBucket, "OTHER", 10));
    EXPECT_EQ(server.NextRecno(1, kBucket, "OTHER", 10), -15.0);
    EXPECT_EQ(server.RecCount(kBucket, "OTHER"), 501.0);
    EXPECT_EQ(server.NextRecno(2, kBucket, "OTHER", 10), 502.0);  // the table lock's holder
    server.FUnLock(2, kBucket, "OTHER", 10);
    EXPECT_EQ(server.NextRecno(1, kBucket, "OTHER", 10), 503.0);
}

TEST_F(RecordLockServer, OpeningsExcludeAsExclusiveAndSharedRequire) {
    // A = owner 1 at 10, B = owner 2 at 10.
    const struct {
        bool open;
        u32 owner;
        u8 exclusive;
        bool expect;
    } steps[] = {
        {true, 1, 0, true},  {true, 1, 0, true},    // A twice: count 2
        {true, 2, 1, false},                        // exclusive while open: refused
        {true, 2, 0, true},  {false, 1, 0, true},   // B shares; A closes once
        {false, 2, 0, true}, {true, 2, 1, false},   // A still has one opening
        {false, 1, 0, true}, {false, 1, 0, false},  // A's second close, then none left
        {true, 2, 1, true},  {true, 1, 0, false},   // B exclusive; a shared open is refused
        {true, 2, 0, false},                        // even for B itself
        {false, 2, 0, true}, {true, 1, 1, true},
    };
    gmtest::ConsoleCapture console;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const auto& s = steps[i];
        const bool got = s.open ? server.SetOpen(s.owner, kBucket, "T", s.exclusive, 10)
                                : server.SetClose(s.owner, kBucket, "T", 10);
        EXPECT_EQ(got, s.expect);
    }
    EXPECT_EQ(console.Get(),
              "[WARNING] OCNode not found for Owner 1 Location 10 (tLockList::SetClose)\n");
}

TEST_F(RecordLockServer, CloseWithoutTheTableWarns) {
    gmtest::ConsoleCapture console;
    EXPECT_FALSE(server.SetClose(3, kBucket, "NOWHERE", static_cast<u32>(-5)));
    EXPECT_EQ(console.Get(),
              "[LOCKSERVERNODE] SetClose List NOT FOUND on table NOWHERE Owner 3 Location -5\n");
}

TEST_F(RecordLockServer, InspectLocksListsEveryLockOrOneOwnersLocks) {
    server.RLock(7, 3, "ENV|CUSTOMER", 123456789012.0, 10);
    server.FLock(8, 3, "ENV|ORDERS", 10);
    server.RLock(7, 500, "ENV|ITEMS", 2, 10);
    EXPECT_EQ(Listing(),
              "ID: 7\tTable: ENV|CUSTOMER\tRecno: 123456789012\n"
              "ID: 8\tTable: ENV|ORDERS\tRecno: 0\n"
              "ID: 7\tTable: ENV|ITEMS\tRecno: 2\n");
    EXPECT_EQ(Listing(7), "ENV|CUSTOMER|123456789012\nENV|ITEMS|2\n");
    EXPECT_EQ(Listing(8), "ENV|ORDERS|0\n");
    EXPECT_EQ(Listing(9), "");
}

TEST_F(RecordLockServer, InspectLocksStopsAfterTheLineThatPassesTheLimit) {
    const std::string table(1000, 'T');  // each line: 1000 + "ID: 1\tTable: \tRecno: N\n"
    const int locks = 1000;
    for (int r = 1; r <= locks; ++r) server.RLock(1, 9, table.c_str(), r, 10);
    server.RLock(1, 10, "LATER", 1, 10);  // a later bucket is not listed any more

    gmtest::ConsoleCapture console;
    const std::string text = Listing();
    EXPECT_EQ(console.Get(), "[WARNING] (tLockServerNode::InspectLocks) : TOO MANY LOCKS !!!\n");
    ASSERT_GT(text.size(), 786432u);
    ASSERT_EQ(text.back(), '\n');
    const size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    EXPECT_LE(lastLine, 786432u);
    EXPECT_EQ(text.find("LATER"), std::string::npos);
    const std::string last = "ID: 1\tTable: " + table + "\tRecno: ";
    EXPECT_EQ(text.compare(lastLine, last.size(), last), 0);
}

TEST_F(RecordLockServer, LockOwnerInfoNamesTheHolder) {
    server.SetOwnerInfo(4, "first text", 10);
    server.SetOwnerInfo(4, "user4|host", 10);  // replaces
    server.SetOwnerInfo(3, "user3", 10);
    server.SetOwnerInfo(4, "user4 at 9", 9);
    server.RLock(4, kBucket, "T", 1, 10);
    server.FLock(5, kBucket, "U", 10);
    const struct {
        const char* table;
        f64 recno;
        i32 owner;
        const char* info;
    } cases[] = {
        {"T", 1, 4, "user4|host"},
        {"U", 77, 5, "Internal|Lock owner not found."},  // the table lock covers 77
        {"T", 2, 0, "unchanged"},                        // free record
        {"V", 1, 0, "unchanged"},                        // unknown table
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        tString info("unchanged");
        EXPECT_EQ(server.LockOwnerInfo(kBucket, c.table, c.recno, info), c.owner);
        EXPECT_STREQ(info.GetText(), c.info);
    }
}

TEST_F(RecordLockServer, StatisticsCountsAndResets) {
    server.RLock(1, kBucket, "T", 1, 10);
    server.RLock(1, kBucket, "T", 2, 10);
    server.RLock(2, kBucket, "T", 1, 10);
    server.RLock(2, 300, "U", 1, 10);  // counts from every bucket add up
    server.IsLocked(1, kBucket, "T", 1, 10);
    server.IsLocked(2, kBucket, "T", 1, 10);
    server.IsLocked(2, kBucket, "T", 9, 10);
    server.RUnLock(1, kBucket, "T", 1, 10);
    tString text("before\n");
    server.Statistics(text, 1);
    EXPECT_STREQ(text.GetText(),
                 "before\n"
                 "Record  Lock OK ..............: 3\n"
                 "Record  Lock Failed ..........: 1\n"
                 "Record  IsLock OK ............: 1\n"
                 "Record  IsLock Failed ........: 2\n"
                 "Record  UnLock Op.............: 1\n");
    tString after;
    server.Statistics(after, 0);
    EXPECT_STREQ(after.GetText(),
                 "Record  Lock OK ..............: 0\n"
                 "Record  Lock Failed ..........: 0\n"
                 "Record  IsLock OK ............: 0\n"
                 "Record  IsLock Failed ........: 0\n"
                 "Record  UnLock Op.............: 0\n");
}

TEST_F(RecordLockServer, BucketOutsideTheServerIsACallerError) {
    for (const i32 hash : {-1, 512, 100000}) {
        SCOPED_TRACE(hash);
        EXPECT_EQ(gmtest::AssertText([&] { server.RLock(1, hash, "T", 1, 10); }),
                  "lock bucket out of range");
    }
    EXPECT_TRUE(server.RLock(1, 511, "T", 1, 10));
}

// Four holders take turns over 100,000 records of one table: record r is held by holders[(r - 1)
// % 4]. Owner 1 holds at two locations, which are two holders.
class RecordLockServerManyLocks : public RecordLockServer {
protected:
    static constexpr int kLocks = 100000;
    struct Holder {
        u32 owner;
        u32 location;
    };
    static constexpr Holder holders[4] = {{1, 10}, {2, 10}, {3, 10}, {1, 11}};
    static int HolderOf(int r) { return (r - 1) % 4; }

    void SetUp() override {
        for (int r = 1; r <= kLocks; ++r) {
            const Holder& h = holders[HolderOf(r)];
            ASSERT_TRUE(server.RLock(h.owner, kBucket, "BIG", r, h.location)) << r;
        }
    }
    // The filtered listing of the records r in [1, kLocks] for which keep(r) holds, in order.
    template <class Keep>
    static std::string Records(Keep keep) {
        std::string text;
        for (int r = 1; r <= kLocks; ++r) {
            if (keep(r)) text += "BIG|" + std::to_string(r) + "\n";
        }
        return text;
    }
};

TEST_F(RecordLockServerManyLocks, EveryRecordRefusesTheOtherHolders) {
    for (const int r : {1, 2, 3, 4, 5, 50000, 99999, kLocks}) {
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE(testing::Message() << "record " << r << " holder " << k);
            const bool own = k == HolderOf(r);
            EXPECT_EQ(server.RLock(holders[k].owner, kBucket, "BIG", r, holders[k].location), own);
            EXPECT_EQ(server.IsLocked(holders[k].owner, kBucket, "BIG", r, holders[k].location),
                      own);
        }
    }
    for (const Holder& h : holders) EXPECT_FALSE(server.FLock(h.owner, kBucket, "BIG", h.location));
    EXPECT_FALSE(server.IsLocked(1, kBucket, "BIG", kLocks + 1, 10));  // free
    EXPECT_TRUE(server.RLock(2, kBucket, "BIG", kLocks + 1, 10));
    EXPECT_FALSE(server.RLock(3, kBucket, "BIG", kLocks + 1, 10));
    server.RUnLock(2, kBucket, "BIG", kLocks + 1, 10);
    EXPECT_TRUE(server.RLock(3, kBucket, "BIG", kLocks + 1, 10));
    server.RUnLock(3, kBucket, "BIG", kLocks + 1, 10);
    tString info("unchanged");
    EXPECT_EQ(server.LockOwnerInfo(kBucket, "BIG", 77777, info), 1);  // 77777 = 4 * 19444 + 1
    EXPECT_EQ(server.NextRecno(2, kBucket, "BIG", 10), 1.0);          // record locks never stop it

    tString text;
    server.Statistics(text, 0);
    EXPECT_STREQ(text.GetText(),  // 100,000 + 8 own + 2 free; 24 others' + 1
                 "Record  Lock OK ..............: 100010\n"
                 "Record  Lock Failed ..........: 25\n"
                 "Record  IsLock OK ............: 8\n"
                 "Record  IsLock Failed ........: 25\n"
                 "Record  UnLock Op.............: 2\n");
}

TEST_F(RecordLockServerManyLocks, EachReleaseFreesExactlyItsOwnLocks) {
    // Owner 1's listing holds both of its locations' locks, in order of locking.
    EXPECT_EQ(Listing(1), Records([](int r) { return r % 4 == 1 || r % 4 == 0; }));
    EXPECT_EQ(Listing(2), Records([](int r) { return r % 4 == 2; }));

    server.RUnLock(2, kBucket, "BIG", 6, 10);
    server.RUnLock(2, kBucket, "BIG", 7, 10);  // holder 3's: stays
    EXPECT_EQ(Listing(2), Records([](int r) { return r % 4 == 2 && r != 6; }));
    EXPECT_TRUE(server.RLock(3, kBucket, "BIG", 6, 10));

    server.FUnLock(1, kBucket, "BIG", 11);  // owner 1 at 11 only
    EXPECT_EQ(Listing(1), Records([](int r) { return r % 4 == 1; }));
    EXPECT_EQ(Listing(3), Records([](int r) { return r % 4 == 3; }) + "BIG|6\n");
    EXPECT_TRUE(server.RLock(2, kBucket, "BIG", 8, 10));  // was owner 1's at 11
    EXPECT_FALSE(server.FLock(1, kBucket, "BIG", 10));

    server.RUnLock(2, kBucket, "BIG", 0, 10);  // all of holder 2's
    server.UnLockLocation(11);                 // nothing left there
    EXPECT_EQ(Listing(2), "");
    EXPECT_FALSE(server.FLock(1, kBucket, "BIG", 10));  // holder 3 still holds records
    server.FUnLock(3, 0, nullptr, 10);

    // Only owner 1 at 10 is left: its table lock is granted and covers every record.
    EXPECT_FALSE(server.FLock(1, kBucket, "BIG", 11));
    EXPECT_TRUE(server.FLock(1, kBucket, "BIG", 10));
    EXPECT_EQ(Listing(1), Records([](int r) { return r % 4 == 1; }) + "BIG|0\n");
    EXPECT_FALSE(server.RLock(2, kBucket, "BIG", 8, 10));
    EXPECT_TRUE(server.IsLocked(1, kBucket, "BIG", 8, 10));
    EXPECT_EQ(server.NextRecno(2, kBucket, "BIG", 10), -15.0);
    EXPECT_EQ(server.NextRecno(1, kBucket, "BIG", 10), 1.0);

    server.FUnLock(1, kBucket, "BIG", 10);
    EXPECT_EQ(Listing(), "");
    EXPECT_TRUE(server.FLock(2, kBucket, "BIG", 10));
}

TEST_F(RecordLockServerManyLocks, FullListingStopsAtTheLimitInOrderOfLocking) {
    std::string all;
    for (int r = 1; r <= kLocks; ++r) {
        all += "ID: " + std::to_string(holders[HolderOf(r)].owner) +
               "\tTable: BIG\tRecno: " + std::to_string(r) + "\n";
    }
    gmtest::ConsoleCapture console;
    EXPECT_EQ(Listing(), all.substr(0, all.find('\n', 786432) + 1));
    EXPECT_EQ(console.Get(), "[WARNING] (tLockServerNode::InspectLocks) : TOO MANY LOCKS !!!\n");
}

// Random requests of five holders on two tables of one bucket, each answered as a plain list of
// locks in order of locking answers it, the covering lock found by walking the list.
class LockListModel {
public:
    struct Node {
        u32 owner;
        u32 location;
        f64 recno;
        std::string table;
    };
    const Node* Cover(const std::string& table, f64 recno) const {
        for (const Node& n : nodes) {
            if (n.table == table && (n.recno == 0.0 || n.recno == recno)) return &n;
        }
        return nullptr;
    }
    bool RLock(u32 owner, const std::string& table, f64 recno, u32 location) {
        const Node* cover = Cover(table, recno);
        if (!cover) nodes.push_back({owner, location, recno, table});
        return !cover || (cover->owner == owner && cover->location == location);
    }
    bool FLock(u32 owner, const std::string& table, u32 location) {
        for (const Node& n : nodes) {
            if (n.table != table) continue;
            if (n.owner != owner || n.location != location) return false;
            if (n.recno == 0.0) return true;
        }
        nodes.push_back({owner, location, 0.0, table});
        return true;
    }
    // A null table: every table.
    void RUnLock(u32 owner, const char* table, f64 recno, u32 location) {
        Erase([&](const Node& n) {
            return n.owner == owner && n.location == location && (!table || n.table == table) &&
                   (!table || recno == 0.0 || n.recno == recno);
        });
    }
    void UnLockLocation(u32 location) {
        Erase([&](const Node& n) { return n.location == location; });
    }
    std::string Listing() const {
        std::string text;
        for (const char* table : {"T1", "T2"}) {  // the server lists tables in order of making
            for (const Node& n : nodes) {
                if (n.table != table) continue;
                char recno[64];
                std::snprintf(recno, sizeof recno, "%.0f", n.recno);
                text += "ID: " + std::to_string(n.owner) + "\tTable: " + table +
                        "\tRecno: " + recno + "\n";
            }
        }
        return text;
    }

private:
    template <class Pred>
    void Erase(Pred pred) {
        nodes.erase(std::remove_if(nodes.begin(), nodes.end(), pred), nodes.end());
    }
    std::vector<Node> nodes;
};

TEST_F(RecordLockServer, RandomRequestsAnswerAsAListWalkedInOrderAnswers) {
    LockListModel model;
    server.RLock(1, kBucket, "T1", 1, 1);  // the tables are made in this order
    server.RLock(1, kBucket, "T2", 1, 1);
    model.RLock(1, "T1", 1, 1);
    model.RLock(1, "T2", 1, 1);
    std::mt19937 random(55);
    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    for (int i = 0; i < 30000; ++i) {
        SCOPED_TRACE(i);
        const u32 owner = 1 + pick(3);
        const u32 at = owner == 3 ? 1 : 1 + pick(2);  // five holders: owner 3 only at 1
        const std::string table = pick(4) == 0 ? "T2" : "T1";
        // Record 0 now and then, a NaN rarely, else one of 300 records.
        const int kind = pick(200);
        const f64 recno = kind == 0 ? 0.0 : kind == 1 ? std::nan("") : 1 + pick(300);
        switch (pick(20)) {
            case 0:
                ASSERT_EQ(server.FLock(owner, kBucket, table.c_str(), at),
                          model.FLock(owner, table, at));
                break;
            case 1:
                server.FUnLock(owner, kBucket, table.c_str(), at);
                model.RUnLock(owner, table.c_str(), 0.0, at);
                break;
            case 2:
                server.RUnLock(owner, kBucket, nullptr, recno, at);
                model.RUnLock(owner, nullptr, 0.0, at);
                break;
            case 3:
                if (pick(20) == 0) {
                    server.UnLockLocation(at);
                    model.UnLockLocation(at);
                }
                break;
            case 4:
            case 5: {
                const LockListModel::Node* cover = model.Cover(table, recno);
                ASSERT_EQ(server.IsLocked(owner, kBucket, table.c_str(), recno, at),
                          cover && cover->owner == owner && cover->location == at);
                tString info;
                ASSERT_EQ(server.LockOwnerInfo(kBucket, table.c_str(), recno, info),
                          cover ? static_cast<i32>(cover->owner) : 0);
                break;
            }
            case 6: {
                const LockListModel::Node* tableLock = model.Cover(table, 0.0);
                ASSERT_EQ(server.NextRecno(owner, kBucket, table.c_str(), at) < 0,
                          tableLock && !(tableLock->owner == owner && tableLock->location == at));
                break;
            }
            case 7:
            case 8:
            case 9:
            case 10:
                server.RUnLock(owner, kBucket, table.c_str(), recno, at);
                model.RUnLock(owner, table.c_str(), recno, at);
                break;
            default:
                ASSERT_EQ(server.RLock(owner, kBucket, table.c_str(), recno, at),
                          model.RLock(owner, table, recno, at));
        }
        if (i % 1000 == 0) {
            ASSERT_EQ(Listing(), model.Listing());
        }
    }
    EXPECT_EQ(Listing(), model.Listing());
}

TEST(RecordLockEngine, DeletingThroughTheInterfaceFreesTheServer) {
    std::unique_ptr<tRecordLockEngine> engine(new tRecordLockServer);
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_TRUE(engine->FLock(1, 0, "T", 10));  // left held: the destructor frees it
}

}  // namespace
