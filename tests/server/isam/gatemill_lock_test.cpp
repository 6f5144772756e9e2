// Record and table locks of a table file over the recording ODBC driver and a real in-process
// lock server: what the engine grants, what the file's locked list keeps, the record read again
// after a lock, and the holder's information of a refused lock.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "tests/server/support/recordedisam.h"

namespace {

constexpr const char* kTable = "PRODUCAO|CLIENTES";
constexpr u32 kOtherOwner = 777;

class Locks : public gmtest::RecordedTableFile {
protected:
    tRecordLockEngine& Engine() { return *session.GetRecordLockEngine(); }
    i32 Bucket() const { return static_cast<i32>(def->GetLockBucket()); }
    bool Mine(f64 recno) { return Engine().IsLocked(session.threadId, Bucket(), kTable, recno, 0); }
    std::vector<f64> Listed() {
        std::vector<f64> recnos;
        for (i32 i = 0; i < file->LockedList().Count(); ++i) {
            recnos.push_back(file->LockedList().Get(i));
        }
        return recnos;
    }
};

TEST_P(Locks, RecordLockReadsTheRecordAndListsItOnce) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ScriptRecord(5);
        EXPECT_EQ(file->Lock(0, 5), RC_OK);
        EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(5)}) << "read again every time";
        EXPECT_EQ(Name(), "C5");
    }
    EXPECT_EQ(Listed(), std::vector<f64>{5.0});
    EXPECT_TRUE(Mine(5));

    EXPECT_TRUE(file->Unlock(0, 5));
    EXPECT_EQ(Listed(), std::vector<f64>{});
    EXPECT_FALSE(Mine(5));
    EXPECT_TRUE(file->Unlock(0, 5)) << "a lock not held still asks the engine";
}

TEST_P(Locks, RefusedOrUnreadableRecordLeavesNothingBehind) {
    Engine().SetOwnerInfo(kOtherOwner, "maria|caixa 2", 0);
    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 5.0, 0));
    EXPECT_EQ(file->Lock(0, 5), RC_LOCKED);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    EXPECT_EQ(Listed(), std::vector<f64>{});
    tString holder;
    file->GetLockOwner(5, holder);
    EXPECT_STREQ(holder.GetText(), "maria|caixa 2");

    ScriptKeys(gmtest::kRecordFetch, {});  // no row 9
    EXPECT_EQ(file->Lock(0, 9), RC_NO_RECORD);
    EXPECT_EQ(Listed(), std::vector<f64>{});
    EXPECT_FALSE(Mine(9));
    EXPECT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 9.0, 0));
}

TEST_P(Locks, RecordLockedBeforeStaysLockedWhenItCannotBeReadAgain) {
    ScriptRecord(6);
    ASSERT_EQ(file->Lock(0, 6), RC_OK);
    ScriptKeys(gmtest::kRecordFetch, {});
    EXPECT_EQ(file->Lock(0, 6), RC_NO_RECORD);
    EXPECT_EQ(Listed(), std::vector<f64>{6.0});
    EXPECT_TRUE(Mine(6));
}

TEST_P(Locks, RecordNumberOfZeroOrLessIsNoRecordAndKeepsTheLocksHeld) {
    ScriptRecord(5);
    ASSERT_EQ(file->Lock(0, 5), RC_OK);
    Ran();
    for (const i32 recno : {0, -3}) {
        SCOPED_TRACE(recno);
        EXPECT_EQ(file->Lock(0, recno), RC_NO_RECORD);
        EXPECT_EQ(Ran(), std::vector<std::string>{});
        EXPECT_EQ(Listed(), std::vector<f64>{5.0});
        EXPECT_TRUE(Mine(5));
        EXPECT_FALSE(Engine().RLock(kOtherOwner, Bucket(), kTable, 5.0, 0));
        EXPECT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 8.0, 0)) << "no table lock";
        ASSERT_TRUE(Engine().RUnLock(kOtherOwner, Bucket(), kTable, 8.0, 0));
    }
}

TEST_P(Locks, TableLockCoversEveryRecordUntilTheTableUnlock) {
    ScriptRecord(5);
    ASSERT_TRUE(file->GoTo(5, false));
    ScriptRecord(7);
    ASSERT_EQ(file->Lock(0, 7), RC_OK);
    EXPECT_EQ(file->Lock(1, 0), RC_OK);
    EXPECT_EQ(Listed(), (std::vector<f64>{0.0, 7.0}));
    EXPECT_TRUE(file->LockedList().Find(123.0));
    EXPECT_FALSE(Engine().RLock(kOtherOwner, Bucket(), kTable, 123.0, 0));

    EXPECT_TRUE(file->Unlock(1, 0));
    EXPECT_EQ(Listed(), std::vector<f64>{}) << "the record locks went with the table lock";
    EXPECT_FALSE(Mine(7));
    EXPECT_TRUE(Engine().FLock(kOtherOwner, Bucket(), kTable, 0));
}

TEST_P(Locks, TableLockRefusals) {
    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 3.0, 0));
    ScriptRecord(5);
    ASSERT_TRUE(file->GoTo(5, false));
    EXPECT_EQ(file->Lock(1, 0), RC_LOCKED) << "another owner holds a record";
    EXPECT_EQ(Listed(), std::vector<f64>{});
    ASSERT_TRUE(Engine().RUnLock(kOtherOwner, Bucket(), kTable, 3.0, 0));

    // A record that this owner locked through another file stays locked.
    file = MakeFile(def);  // stands nowhere
    auto other = MakeFile(def);
    ScriptRecord(7);
    ASSERT_EQ(other->Lock(0, 7), RC_OK);
    Ran();
    EXPECT_EQ(file->Lock(1, 0), RC_NO_RECORD);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    EXPECT_EQ(Listed(), std::vector<f64>{});
    EXPECT_TRUE(Mine(7));
    EXPECT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 8.0, 0)) << "no table lock is left";
}

TEST_P(Locks, ClosingAFileGivesBackOnlyTheLocksTakenThroughIt) {
    auto first = MakeFile(def);
    auto second = MakeFile(def);
    ScriptRecord(5);
    ASSERT_EQ(first->Lock(0, 5), RC_OK);
    ScriptRecord(7);
    ASSERT_EQ(second->Lock(0, 7), RC_OK);
    ScriptRecord(8);
    ASSERT_EQ(second->Lock(0, 8), RC_OK);
    first.reset();
    EXPECT_FALSE(Mine(5));
    EXPECT_TRUE(Mine(7) && Mine(8));

    // A table lock goes with its file, and the record locks with it.
    EXPECT_EQ(second->Lock(1, 0), RC_OK);
    second.reset();
    EXPECT_FALSE(Mine(7) || Mine(8));
    EXPECT_TRUE(Engine().FLock(kOtherOwner, Bucket(), kTable, 0));
}

TEST_P(Locks, ExclusiveFileLocksNothingButStillReadsTheRecord) {
    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 5.0, 0));
    file->SetExclusive(true);
    ScriptRecord(5);
    EXPECT_EQ(file->Lock(0, 5), RC_OK);
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(5)});
    EXPECT_EQ(file->GetRecno(), 5.0);
    EXPECT_NE(
        console->Get().find("[WARNING] OP_LOCK in Exclusive Table [PRODUCAO|CLIENTES] Recno [5]"),
        std::string::npos);
    EXPECT_EQ(Listed(), std::vector<f64>{});

    ScriptKeys(gmtest::kRecordFetch, {});
    EXPECT_EQ(file->Lock(0, 9), RC_NO_RECORD);
}

TEST_P(Locks, KeyFieldsAreThoseOfTheWindowsIndex) {
    EXPECT_FALSE(file->IsKeyField(0)) << "record-number order";
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    ScriptKeys("*", {});
    file->GoTop();  // the window takes the order
    const struct {
        i16 field;
        bool key;
    } cases[] = {{0, true}, {1, true}, {2, false}, {5, true}, {6, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(file->IsKeyField(c.field), c.key);
    }
}

INSTANTIATE_TEST_SUITE_P(BothModes, Locks, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
