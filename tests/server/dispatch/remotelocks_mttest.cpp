// The remote lock engines of a slave's client connection against a real master running in this
// process: each answer mapped from the master's reply code, the operations that stay local, and
// a link that breaks.
#include <gtest/gtest.h>

#include "lib_base/stringz.h"
#include "server/dispatch/remotelocks.h"
#include "server/runtime/globals.h"
#include "tests/server/process/support/lockmaster.h"

namespace {

constexpr i32 kHash = 11;
constexpr const char* kTable = "SA1010";

class RemoteLocks : public gmtest::LockMaster {
protected:
    void SetUp() override {
        LockMaster::SetUp();
        StartServer(kModeMaster);
        first = Client();
        second = Client();
    }

    GM_HANDLE first = 0;
    GM_HANDLE second = 0;
};

TEST_F(RemoteLocks, RecordEngineMapsTheMastersCodes) {
    tRecordLockClient a(first);
    tRecordLockClient b(second);
    // The location is never sent: equal owners on two links are two holders.
    EXPECT_TRUE(a.RLock(1, kHash, kTable, 5, 0));
    EXPECT_FALSE(b.RLock(1, kHash, kTable, 5, 0));
    EXPECT_TRUE(a.IsLocked(1, kHash, kTable, 5, 77));
    EXPECT_FALSE(b.IsLocked(1, kHash, kTable, 5, 0));
    EXPECT_TRUE(b.RUnLock(1, kHash, kTable, 5, 0));  // nothing held counts as done
    EXPECT_FALSE(b.RLock(2, kHash, kTable, 5, 0));

    a.SetOwnerInfo(1, "alice|pc01", 0);
    tString info("before");
    EXPECT_EQ(b.LockOwnerInfo(kHash, kTable, 5, info), 0);
    EXPECT_STREQ(info.GetText(), "alice|pc01");
    info = "before";
    EXPECT_EQ(b.LockOwnerInfo(kHash, kTable, 6, info), -25);
    EXPECT_STREQ(info.GetText(), "before");

    // What a remote engine does not forward leaves everything as it was.
    tString text("kept");
    a.InspectLocks(text, 0);
    a.Statistics(text, 1);
    EXPECT_STREQ(text.GetText(), "kept");
    a.UnLockLocation(0);
    EXPECT_FALSE(b.RLock(2, kHash, kTable, 5, 0));

    EXPECT_TRUE(a.FLock(1, kHash, "SB1010", 0));
    EXPECT_FALSE(b.FLock(2, kHash, "SB1010", 0));
    EXPECT_TRUE(a.FUnLock(1, 0, nullptr, 0));  // every table of the owner
    EXPECT_TRUE(b.RLock(2, kHash, kTable, 5, 0));
    EXPECT_TRUE(b.FLock(2, kHash, "SB1010", 0));

    a.SetRecCount(kHash, "SC1010", 41);
    EXPECT_EQ(b.RecCount(kHash, "SC1010"), 41.0);
    EXPECT_EQ(a.NextRecno(1, kHash, "SC1010", 0), 42.0);
    EXPECT_EQ(b.NextRecno(1, kHash, "SC1010", 0), 43.0);
    EXPECT_TRUE(a.SetOpen(1, kHash, "SC1010", 1, 0));
    EXPECT_FALSE(b.SetOpen(1, kHash, "SC1010", 0, 0));
    EXPECT_FALSE(b.SetClose(1, kHash, "SC1010", 0));
    EXPECT_TRUE(a.SetClose(1, kHash, "SC1010", 0));
    EXPECT_TRUE(a.IsConnected());
}

TEST_F(RemoteLocks, VirtualEngineNeverTouchesTheInformationText) {
    tVirtualLockClient a(first);
    tVirtualLockClient b(second);
    tString info("mine");
    EXPECT_TRUE(a.VLock(1, "SEQ", 0, "ERP", info));
    EXPECT_STREQ(info.GetText(), "mine");
    EXPECT_FALSE(b.VLock(2, "SEQ", 0, "ERP", info));
    EXPECT_STREQ(info.GetText(), "mine");
    EXPECT_FALSE(b.VUnLock(2, "SEQ", -1, "ERP"));
    a.UnLockLocation(0);
    EXPECT_FALSE(b.VLock(2, "SEQ", 0, "ERP", info));
    EXPECT_TRUE(a.VUnLock(1, "SEQ", 0, "ERP"));
    EXPECT_TRUE(b.VLock(2, "SEQ", 0, "ERP", info));
}

TEST_F(RemoteLocks, ALostMasterMakesEveryAnswerAFailure) {
    tRecordLockClient a(first);
    tVirtualLockClient v(first);
    ASSERT_TRUE(a.RLock(1, kHash, kTable, 5, 0));
    StopServer();
    EXPECT_FALSE(a.RLock(1, kHash, kTable, 6, 0));
    EXPECT_FALSE(a.IsConnected());
    tString info("kept");
    EXPECT_FALSE(v.VLock(1, "SEQ", 0, "ERP", info));
    EXPECT_LT(a.NextRecno(1, kHash, kTable, 0), 0.0);
    EXPECT_NE(a.LockOwnerInfo(kHash, kTable, 5, info), 0);
    EXPECT_STREQ(info.GetText(), "kept");
}

}  // namespace
