// The record lock server: the cover rule, releases, record-number counters, openings, the lock
// listing, holder information and the counters.
#include "server/locks/recordlockserver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

TEST(RecordLockEngine, DeletingThroughTheInterfaceFreesTheServer) {
    std::unique_ptr<tRecordLockEngine> engine(new tRecordLockServer);
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_TRUE(engine->FLock(1, 0, "T", 10));  // left held: the destructor frees it
}

}  // namespace
