// The statement base: column descriptors and the typed readers of a fetched value with their
// warnings and operation-log lines, the base executions, and the connection pool's clean-up.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"

namespace {

// A statement whose columns a test fills as a driver's BindCols and Fetch would.
class BoundStatement : public tStatement {
public:
    explicit BoundStatement(tDBConnection* conn) : tStatement(conn) {}

    // Column 0: NOME CHAR(10) in the row buffer; column 1: VALOR as a number in place.
    void BindTwoColumns() {
        AllocColumns(2);
        columnCount = 2;
        rowBuffer.SetSize(11);
        tColumnDesc& name = GetColumns()[0];
        std::strcpy(name.name, "NOME");
        name.type = 'C';
        name.bufferLength = 11;
        name.value.text = rowBuffer.GetText();
        tColumnDesc& value = GetColumns()[1];
        std::strcpy(value.name, "VALOR");
        value.type = 'N';
        value.bufferLength = 8;
    }
    void FetchRow(const char* name, i64 nameLength, f64 value, i64 valueLength) {
        std::memset(rowBuffer.GetText(), 'x', 11);  // what a previous row left
        std::strcpy(rowBuffer.GetText(), name);
        GetColumns()[0].returnedLength = nameLength;
        GetColumns()[1].value.number = value;
        GetColumns()[1].returnedLength = valueLength;
    }
    const u8* Indicators() const { return indicators.get(); }
};

class Statement : public ::testing::Test {
protected:
    gmtest::TestDBProcess process;
    gmtest::TestSession session;
    gmtest::TestConnection conn;
    // Held by pointer: the statement's row buffer may throw from its destructor.
    std::unique_ptr<BoundStatement> owned = std::make_unique<BoundStatement>(&conn);
    BoundStatement& stmt = *owned;
};

TEST_F(Statement, FreshStatementHasNoColumnsAndItsExecutionsRunNothing) {
    tStatement& base = stmt;
    EXPECT_EQ(base.GetColumns(), nullptr);
    EXPECT_EQ(base.GetColumnCount(), 0);
    EXPECT_EQ(base.GetRetCode(), 0);
    EXPECT_FALSE(base.IsOpened());
    EXPECT_EQ(base.GetHandle(), nullptr);
    EXPECT_FALSE(base.tStatement::ExecDirect("SELECT 1", "R", 1));
    EXPECT_FALSE(base.Prepare("SELECT ?", "R"));
    EXPECT_FALSE(base.ExecRecnoStmt("SELECT ?", 1.0, "R"));
    EXPECT_FALSE(base.ExecSqlStmt("R"));
    EXPECT_FALSE(base.ExecWithRecno("SELECT ?", 1.0, "R"));
    EXPECT_FALSE(base.ReleasePreparedStmt());
    EXPECT_FALSE(base.BindParam(nullptr));
    EXPECT_FALSE(base.BindResult(1));
    EXPECT_FALSE(base.BindCols(2));
    EXPECT_FALSE(base.tStatement::Fetch());
    i32 length = 10;
    EXPECT_FALSE(base.GetBlob("SELECT MEMO FROM T", nullptr, length));
    EXPECT_FALSE(base.ExecParam("UPDATE T SET M = ?", "abc", 3, 10));
    tArray<tDATAField> none;
    EXPECT_EQ(base.tStatement::SPExec("P", nullptr, none, none), -1);
    EXPECT_TRUE(base.IsSelect(" (SELECT 1)"));
    EXPECT_FALSE(base.IsSelect("DELETE FROM T"));
}

TEST_F(Statement, AllocatedColumnsStartZeroedAndFreeingTwiceIsHarmless) {
    stmt.AllocColumns(3);
    ASSERT_NE(stmt.GetColumns(), nullptr);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(stmt.GetColumns()[i].type, 0);
        EXPECT_EQ(stmt.GetColumns()[i].value.text, nullptr);
        EXPECT_EQ(stmt.GetColumns()[i].returnedLength, 0);
        EXPECT_EQ(stmt.Indicators()[i], 0);
    }
    EXPECT_EQ(stmt.FieldAsDouble(2), 0.0);  // nothing fetched yet
    stmt.FreeColumns();
    stmt.FreeColumns();
    EXPECT_EQ(stmt.GetColumns(), nullptr);
    EXPECT_EQ(stmt.Indicators(), nullptr);
    stmt.AllocColumns(0);
    EXPECT_EQ(stmt.GetColumns(), nullptr);
    EXPECT_EQ(stmt.Indicators(), nullptr);
    EXPECT_EQ(gmtest::AssertText([&] { stmt.FieldAsDouble(0); }), "column outside the result");
}

TEST_F(Statement, ReadersGiveCharacterAndNumberValuesEitherWay) {
    stmt.BindTwoColumns();
    stmt.FetchRow("MARIA", 5, 1234.5, 8);
    tString text;
    EXPECT_STREQ(stmt.FieldAsPChar(0), "MARIA");
    EXPECT_STREQ(stmt.FieldAsString(text, 0), "MARIA");
    EXPECT_EQ(stmt.FieldAsDouble(1), 1234.5);
    EXPECT_STREQ(stmt.FieldAsPChar(1), "1234.5");
    EXPECT_STREQ(stmt.FieldAsString(text, 1), "1234.5");

    stmt.FetchRow("  17.25", 7, 0.1, 8);
    EXPECT_EQ(stmt.FieldAsDouble(0), 17.25);
    EXPECT_STREQ(stmt.FieldAsPChar(1), "0.1");
}

TEST_F(Statement, NullAndEmptyValuesReadAsZeroAndEmptyText) {
    stmt.BindTwoColumns();
    const i64 kNullData = -1;
    stmt.FetchRow("JOSE", kNullData, 99.0, kNullData);
    EXPECT_EQ(stmt.FieldAsDouble(1), 0.0);
    EXPECT_EQ(stmt.GetColumns()[1].value.number, 0.0);  // left in the descriptor
    EXPECT_EQ(stmt.FieldAsDouble(0), 0.0);
    char* text = stmt.FieldAsPChar(0);
    EXPECT_EQ(text, stmt.GetColumns()[0].value.text);
    EXPECT_EQ(std::string(text, 11), std::string(11, '\0'));  // the whole buffer cleared
    EXPECT_STREQ(stmt.FieldAsPChar(1), "");

    stmt.FetchRow("ANA", 3, 5.0, 8);
    stmt.GetColumns()[1].nullMarker = -1;
    EXPECT_EQ(stmt.FieldAsDouble(1), 0.0);
}

TEST_F(Statement, MissingValueWarnsAndGivesNullOrEmpty) {
    gmtest::ConsoleCapture console;
    stmt.AllocColumns(2);
    stmt.GetColumns()[1].type = 'C';
    tString text("old");
    EXPECT_EQ(stmt.FieldAsPChar(1), nullptr);
    EXPECT_STREQ(stmt.FieldAsString(text, 1), "");
    EXPECT_EQ(console.Get(),
              "[WARNING] FieldAsPChar 1 NOT FOUND.\n[WARNING] FieldAsString 1 NOT FOUND.\n");
}

TEST_F(Statement, OperationLogShowsEachValueRead) {
    gmtest::ConsoleCapture console;
    stmt.BindTwoColumns();
    stmt.FetchRow("MARIA", 5, 1234.5, 8);
    stmt.FieldAsPChar(0);  // no log while the switch is off
    conn.SetDBServer(&session);
    conn.SetOpLog(true);
    session.threadId = 31;
    tString text;
    stmt.FieldAsPChar(0);
    stmt.FieldAsString(text, 0);
    stmt.FieldAsDouble(1);
    EXPECT_EQ(console.Get(),
              "[OPLOG] Thread (31)\tRoutine: tStatement::FieldAsPChar \tMSG: Fld 0 Name NOME Ret "
              "[MARIA]\n"
              "[OPLOG] Thread (31)\tRoutine: tStatement::FieldAsString \tMSG: Fld 0 Name NOME Ret "
              "[MARIA]\n"
              "[OPLOG] Thread (31)\tRoutine: tStatement::FieldAsDouble \tMSG: Fld 1 Name VALOR Ret "
              "[      1234.5000]\n");
}

TEST(ConnectionPool, ConnectedMembersRollBackAndEndCommitControlBeforeTheyGo) {
    gmtest::TestDBProcess process;
    std::vector<std::string> calls;
    {
        tConnectionPool pool;
        pool.Add(new gmtest::TestConnection(&calls, "first"));
        auto* second = new gmtest::TestConnection(&calls, "second");
        pool.Add(second);
        second->Connect();
        pool.Add(new gmtest::TestConnection(&calls, "third"));
        EXPECT_STREQ(pool.GetName(), "tConnectionPool");
    }
    EXPECT_EQ(calls,
              (std::vector<std::string>{"first deleted", "second Rollback", "second EndCmtCtl",
                                        "second deleted", "third deleted"}));
}

}  // namespace
