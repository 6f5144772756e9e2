// Deletion marks of a table file over the recording ODBC driver: the UPDATE texts of delete and
// recall, the mark in the record buffer, the record they act on, their codes and locks, and the
// switch that hides marked rows.
#include <gtest/gtest.h>

#include <functional>
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
constexpr const char* kDelete5 =
    "UPDATE CLIENTES SET D_E_L_E_T_ = '*' ,R_E_C_D_E_L_ = R_E_C_N_O_ WHERE R_E_C_N_O_ = 5";
constexpr const char* kRecall5 =
    "UPDATE CLIENTES SET D_E_L_E_T_ = ' ' ,R_E_C_D_E_L_ = 0 WHERE R_E_C_N_O_ = 5";

class DeletionMarks : public gmtest::RecordedTableFile {
protected:
    void SetUp() override {
        RecordedTableFile::SetUp();
        ScriptKeys("SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 0 ORDER BY R_E_C_N_O_",
                   {5, 7});
        ScriptRecord(5);
        ASSERT_TRUE(file->GoTop());
        Ran();
    }
    tRecordLockEngine& Engine() { return *session.GetRecordLockEngine(); }
    i32 Bucket() const { return static_cast<i32>(def->GetLockBucket()); }
    char Mark() { return file->CurrentRecord()[35]; }
};

TEST_P(DeletionMarks, DeleteAndRecallMarkTheRecordAndItsBuffer) {
    EXPECT_EQ(file->DeleteR(5), RC_OK);
    EXPECT_EQ(Ran(), std::vector<std::string>{kDelete5});
    EXPECT_EQ(Mark(), '*') << "the reply of the same position shows the mark without a read";
    EXPECT_FALSE(file->IsHeld(5)) << "the row is read again at the next synchronisation";
    EXPECT_EQ(file->RecallR(0), RC_OK) << "0 is the current record";
    EXPECT_EQ(Ran(), std::vector<std::string>{kRecall5});
    EXPECT_EQ(Mark(), ' ');
    EXPECT_FALSE(Engine().IsLocked(session.threadId, Bucket(), kTable, 5.0, 0))
        << "the lock taken for the change is given back";

    auto noRecDel = std::make_shared<tTableDefinitionShared>("CLIENTES", "PRODUCAO");
    noRecDel->AddField("NOME", 'C', 10, 0, true, true);
    noRecDel->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    noRecDel->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    file = MakeFile(noRecDel);
    rec.AddResult(gmtest::kRecordFetch);
    rec.AddColumn("NOME", SQL_CHAR, 10, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("ANA");
    EXPECT_EQ(file->DeleteR(8), RC_OK);
    EXPECT_EQ(Ran(), (std::vector<std::string>{
                         Fetched(8), "UPDATE CLIENTES SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 8"}));
    EXPECT_EQ(file->CurrentRecord()[10], '*');
}

TEST_P(DeletionMarks, AnotherRecordIsReadBeforeItIsMarked) {
    ScriptRecord(7);
    EXPECT_EQ(file->DeleteR(7), RC_OK);
    EXPECT_EQ(Ran(),
              (std::vector<std::string>{Fetched(7),
                                        "UPDATE CLIENTES SET D_E_L_E_T_ = '*' ,R_E_C_D_E_L_ = "
                                        "R_E_C_N_O_ WHERE R_E_C_N_O_ = 7"}));
    EXPECT_EQ(file->GetRecno(), 7.0);
    EXPECT_EQ(Name(), "C7") << "the mark went into record 7's own buffer";
    EXPECT_EQ(Mark(), '*');
    EXPECT_NE(console->Get().find(
                  "[WARNING] OP_DELETE Without Lock in Table [PRODUCAO|CLIENTES] Recno [7]\n"),
              std::string::npos);
}

TEST_P(DeletionMarks, CodesOfRefusedAndFailedMarks) {
    const struct {
        const char* name;
        bool deleting;
        f64 recno;
        std::function<void()> prepare;
        i16 code;
        std::vector<std::string> ran;
    } cases[] = {
        {"a record without a row: delete",
         true,
         9,
         [&] { ScriptKeys(gmtest::kRecordFetch, {}); },
         RC_NO_DELETE,
         {Fetched(9)}},
        {"a record without a row: recall",
         false,
         9,
         [&] { ScriptKeys(gmtest::kRecordFetch, {}); },
         RC_NO_UPDATE,
         {Fetched(9)}},
        {"locked by another owner",
         true,
         5,
         [&] { ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 5.0, 0)); },
         RC_LOCKED,
         {}},
        {"a user error of the database",
         true,
         5,
         [&] { rec.FailNext("UPDATE*", "23000", 50000, "user error"); },
         RC_DUPLICATE_KEY,
         {kDelete5}},
        {"another failure: delete",
         true,
         5,
         [&] { rec.FailNext("UPDATE*", "42P01", 1, "no such table"); },
         RC_NO_DELETE,
         {kDelete5}},
        {"another failure: recall",
         false,
         5,
         [&] { rec.FailNext("UPDATE*", "42P01", 1, "no such table"); },
         RC_NO_UPDATE,
         {kRecall5}},
        {"read-only: delete", true, 5, [&] { file->SetReadOnly(true); }, RC_NO_DELETE, {}},
        {"read-only: recall", false, 5, [&] { file->SetReadOnly(true); }, RC_NO_UPDATE, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine().FUnLock(kOtherOwner, Bucket(), kTable, 0);
        file = MakeFile(def);
        ScriptRecord(5);
        ASSERT_TRUE(file->GoTo(5, false));
        Ran();
        c.prepare();
        EXPECT_EQ(c.deleting ? file->DeleteR(c.recno) : file->RecallR(c.recno), c.code);
        EXPECT_EQ(Ran(), c.ran);
        EXPECT_FALSE(Engine().IsLocked(session.threadId, Bucket(), kTable, c.recno, 0));
    }
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(DeletionMarks, RecordLockedByTheClientStaysLockedAfterTheMark) {
    ScriptRecord(5);
    ASSERT_EQ(file->Lock(0, 5), RC_OK);
    Ran();
    console.reset();
    console = std::make_unique<gmtest::ConsoleCapture>();
    EXPECT_EQ(file->DeleteR(5), RC_OK);
    EXPECT_TRUE(Engine().IsLocked(session.threadId, Bucket(), kTable, 5.0, 0));
    EXPECT_EQ(console->Get().find("Without Lock"), std::string::npos);

    // Another file of the same owner that changes the record keeps that lock too.
    auto second = MakeFile(def);
    ScriptRecord(5);
    EXPECT_EQ(second->RecallR(5), RC_OK);
    EXPECT_NE(console->Get().find(
                  "[WARNING] OP_RECALL Without Lock in Table [PRODUCAO|CLIENTES] Recno [5]"),
              std::string::npos);
    EXPECT_TRUE(Engine().IsLocked(session.threadId, Bucket(), kTable, 5.0, 0));
}

TEST_P(DeletionMarks, DeletedFilterRestartsTheWindowAroundTheCurrentRecord) {
    for (u8 on : {1, 0}) {
        SCOPED_TRACE(static_cast<int>(on));
        file->GetSeekOptimizer().Store(RC_OK);
        EXPECT_EQ(file->SetDeletedFilter(on), RC_OK);
        EXPECT_EQ(file->GetCache().GetCurrent(), tCache::kMiddleSlot);
        EXPECT_EQ(file->GetRecno(), 5.0);
        EXPECT_FALSE(file->GetCache().IsFilled(tCache::kMiddleSlot + 1));
        EXPECT_FALSE(file->GetSeekOptimizer().IsValid());
    }
    file->SetDeletedFilter(1);
    const std::string next =
        "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 5 AND D_E_L_E_T_ = ' ' ORDER BY "
        "R_E_C_N_O_";
    ScriptKeys(next, {7});
    ScriptRecord(7);
    ASSERT_TRUE(file->Skip(1));
    EXPECT_EQ(Ran(), (std::vector<std::string>{next, Fetched(7)}));
}

INSTANTIATE_TEST_SUITE_P(BothModes, DeletionMarks, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
