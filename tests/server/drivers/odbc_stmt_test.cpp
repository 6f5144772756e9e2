// The ODBC statement's executions over the recording driver, in both ODBC modes: direct
// execution and its read-only refusal, quiet failures, prepared statements run again with the
// bindings of their first run, the record number as parameter, and the trace, operation log and
// thread information around an execution.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/drivers/odbc.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testsession.h"

namespace {

constexpr const char* kNoSession = "( DBSERVER NOT SET )";
constexpr const char* kByRecno = "SELECT NOME, VALOR FROM T WHERE R_E_C_N_O_ = ?";

class ODBCStatement : public gmtest::RecordedODBC {
protected:
    // A result of NOME CHAR(10) and VALOR DOUBLE with one row, for the next run of sql.
    void ScriptRow(const char* sql, const char* nome, const char* valor) {
        rec.AddResult(sql);
        rec.AddColumn("NOME", SQL_CHAR, 10, 0, SQL_NULLABLE);
        rec.AddColumn("VALOR", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue(nome);
        rec.AddValue(valor);
    }
    bool Called(const std::string& prefix) {
        for (const std::string& line : rec.CallLines()) {
            if (line.compare(0, prefix.size(), prefix) == 0) return true;
        }
        return false;
    }
};

TEST_P(ODBCStatement, WithoutConnectionNothingRuns) {
    auto conn = MakeConnection("MSSQL", false);
    tODBCStatement stmt(conn.get());
    rec.ClearLog();
    EXPECT_FALSE(stmt.ExecDirect("SELECT 1", "tTest::Run", 1));
    EXPECT_EQ(LastError(*conn),
              std::string("GML Error -19 - Invalid statement execute - NO DB CONNECTION. ( From "
                          "tTest::Run )\n") +
                  kNoSession);
    EXPECT_FALSE(stmt.Prepare(kByRecno, "tTest::Run"));
    EXPECT_FALSE(stmt.ExecRecnoStmt(kByRecno, 1.0, "tTest::Run"));
    EXPECT_FALSE(stmt.ExecSqlStmt("tTest::Run"));
    EXPECT_EQ(rec.CountCalls("SQLAllocHandle") + rec.CountCalls("SQLAllocStmt"), 0);
}

TEST_P(ODBCStatement, ReadOnlyConnectionRunsOnlySingleQueries) {
    process.SetIni("MSSQL", "ReadOnly", "1");
    auto conn = MakeConnection();
    const struct {
        const char* sql;
        bool refused;
    } cases[] = {
        {"INSERT INTO T VALUES (1)", true},
        {"SELECT 1; DELETE FROM T", true},
        {"SELECT 1;", true},
        {"SELECT * FROM T WHERE A = 'x;y'", false},
        {"SELECT 'it''s' FROM T", false},
        {"select a from t", false},
        {"EXEC SP_HELP", false},
        {"SELECT UPDATED_AT, INTO_DATE FROM T", false},
        {"SELECT 1 -- ends here; really\n FROM T", false},
        {"SELECT 1 /* ; */ FROM T", false},
        {"WITH D AS (DELETE FROM T RETURNING *) SELECT * FROM D", true},
        {"SELECT * INTO T2 FROM T", true},
        {"SELECT * FROM T FOR UPDATE", true},
        {"SELECT 2--1; DELETE FROM T", true},
        {"SELECT 1 /*! ; DELETE FROM T */", true},
        {"SELECT 1 # '\n; DELETE FROM T WHERE A = 'b\\''", true},
        {"SELECT 'a\\' x '; DELETE FROM T WHERE C = 'b\\''", true},
        {"SELECT $$ ' $$; DELETE FROM T; SELECT $$ ' $$", true},
        {"SELECT 'open", true},
        {"SELECT 1 /* open", true},
    };
    std::string sent;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        tODBCStatement stmt(conn.get());
        process.ClearLog();
        if (!c.refused) {
            rec.AddResult(c.sql);
            rec.AddColumn("A", SQL_INTEGER, 10, 0, SQL_NULLABLE);
            sent += std::string(c.sql) + "\n";
        }
        EXPECT_EQ(stmt.ExecDirect(c.sql, "tTest::Run", 1), !c.refused);
        if (c.refused) {
            const std::string text =
                std::string(
                    "GML Error -19 - Invalid statement execute due READONLY connection. "
                    "STMT (") +
                c.sql + ") ( From tTest::Run )\n" + kNoSession;
            EXPECT_EQ(LastError(*conn), text);
            EXPECT_EQ(process.LogEntries(), std::vector<std::string>{text});
        }
    }
    EXPECT_EQ(rec.Statements(), sent);  // nothing refused reached the driver
}

TEST_P(ODBCStatement, StatementOtherThanQueryRunsWithoutDataRetrievalOrColumns) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    rec.ClearLog();
    EXPECT_TRUE(stmt.ExecDirect("UPDATE T SET A = 1", "tTest::Run", 1));
    EXPECT_TRUE(Called(GetParam() ? "SQLSetStmtAttr(11,0," : "SQLSetStmtOption(11,0)"));
    EXPECT_TRUE(Called("SQLSetStmtOption(3,1048576)"));
    EXPECT_FALSE(Called("SQLNumResultCols"));
    EXPECT_EQ(stmt.GetColumnCount(), 0);
    EXPECT_EQ(stmt.GetRetCode(), 0);

    // The next query of the same statement retrieves its data again.
    rec.ClearLog();
    ScriptRow("SELECT NOME, VALOR FROM T", "ANA", "1");
    EXPECT_TRUE(stmt.ExecDirect("SELECT NOME, VALOR FROM T", "tTest::Run", 1));
    EXPECT_FALSE(Called(GetParam() ? "SQLSetStmtAttr(11," : "SQLSetStmtOption(11,"));
    EXPECT_EQ(stmt.GetColumnCount(), 2);
}

TEST_P(ODBCStatement, UnreportedFailureSetsTheErrorTextWithoutLogging) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    rec.FailNext("SELECT * FROM GML_FIELD", "42S02", 208, "Invalid object name 'GML_FIELD'.");
    EXPECT_FALSE(stmt.ExecDirect("SELECT * FROM GML_FIELD", "tTest::Probe", 0));
    EXPECT_EQ(LastError(*conn), "Error : 208 (42S02) - Invalid object name 'GML_FIELD'.");
    EXPECT_EQ(stmt.GetRetCode(), 208);
    EXPECT_STREQ(conn->GetSqlState(), "42S02");
    EXPECT_EQ(stmt.GetHandle(), nullptr);
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(ODBCStatement, PreparedStatementRunsAgainWithoutDescribingOrBinding) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    ScriptRow(kByRecno, "ANA", "10.5");
    ScriptRow(kByRecno, "BETO", "20.25");
    ASSERT_TRUE(stmt.Prepare(kByRecno, "tTest::Read"));
    ASSERT_TRUE(stmt.ExecRecnoStmt(kByRecno, 123.0, "tTest::Read"));
    EXPECT_TRUE(Called("SQLBindParameter(1,1,1,12,"));  // the text of the number, as VARCHAR
    ASSERT_TRUE(stmt.Fetch());
    tString nome;
    EXPECT_EQ(std::string(stmt.FieldAsString(nome, 0).GetText()), "ANA");
    EXPECT_EQ(stmt.FieldAsDouble(1), 10.5);
    ASSERT_TRUE(stmt.ReleasePreparedStmt());

    rec.ClearLog();
    ASSERT_TRUE(stmt.ExecRecnoStmt(kByRecno, 124.0, "tTest::Read"));
    ASSERT_TRUE(stmt.Fetch());
    EXPECT_EQ(std::string(stmt.FieldAsString(nome, 0).GetText()), "BETO");
    EXPECT_EQ(stmt.FieldAsDouble(1), 20.25);
    EXPECT_FALSE(stmt.Fetch());
    EXPECT_EQ(rec.Statements(), std::string(kByRecno) + " [1='124']\n");
    for (const char* call :
         {"SQLDescribeCol", "SQLBindCol", "SQLNumResultCols", "SQLBindParameter", "SQLPrepare"}) {
        EXPECT_EQ(rec.CountCalls(call), 0) << call;
    }
}

TEST_P(ODBCStatement, ExecutionErrorLeavesTheStatementUnprepared) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    ASSERT_TRUE(stmt.Prepare(kByRecno, "tTest::Read"));
    rec.FailNext(kByRecno, "40001", 1205, "deadlock victim");
    EXPECT_FALSE(stmt.ExecRecnoStmt(kByRecno, 5.0, "tTest::Read"));
    EXPECT_EQ(stmt.GetRetCode(), 1205);
    EXPECT_EQ(stmt.GetHandle(), nullptr);
    EXPECT_EQ(LastError(*conn), std::string("Error : 1205 (40001) (RC=-1) - deadlock victim ( From "
                                            "tTest::Read )\n") +
                                    kNoSession + kByRecno);
    EXPECT_FALSE(stmt.ExecRecnoStmt(kByRecno, 6.0, "tTest::Read"));
    EXPECT_FALSE(stmt.ExecSqlStmt("tTest::Read"));
    EXPECT_EQ(gmtest::WithoutLogEcho(console->Get()),
              "tODBCStatement::ExecRecnoStmt ERROR : Cannot execute non-prepared Statement\n"
              "tODBCStatement::ExecSqlStmt ERROR : Cannot execute non-prepared Statement\n");
    EXPECT_EQ(rec.Statements(), std::string(kByRecno) + " [1='5']\n");
}

TEST_P(ODBCStatement, PreparedStatementWithoutRecnoRunsAndNamesItselfInErrors) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    const char* sql = "DELETE FROM T WHERE R_E_C_DEL_ > 0";
    ASSERT_TRUE(stmt.Prepare(sql, "tTest::Pack"));
    EXPECT_TRUE(stmt.ExecSqlStmt("tTest::Pack"));
    EXPECT_EQ(stmt.GetColumnCount(), 0);
    rec.FailNext(sql, "HY000", 0, "disk full");
    EXPECT_FALSE(stmt.ExecSqlStmt("tTest::Pack"));
    EXPECT_EQ(LastError(*conn), std::string("Error : 0 (HY000) (RC=-1) - disk full ( From "
                                            "tTest::Pack )\n") +
                                    kNoSession + "#EXEC_PREPARED_STMT#");
    tString ignored;
    EXPECT_EQ(conn->GetLastErrorInfo(ignored), -19);
}

TEST_P(ODBCStatement, RecordNumberIsBoundAsItsText) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    const char* sql = "SELECT NOME, VALOR FROM T WHERE R_E_C_N_O_ = ?";
    ScriptRow(sql, "CARLA", "3");
    ScriptRow(sql, "DORA", "4");
    ASSERT_TRUE(stmt.ExecWithRecno(sql, 123.0, "tTest::GoTo"));
    ASSERT_TRUE(stmt.Fetch());
    tString nome;
    EXPECT_EQ(std::string(stmt.FieldAsString(nome, 0).GetText()), "CARLA");
    ASSERT_TRUE(stmt.ExecWithRecno(sql, 1e20, "tTest::GoTo"));  // wider than any i64
    EXPECT_EQ(rec.Statements(),
              std::string(sql) + " [1='123']\n" + sql + " [1='100000000000000000000']\n");
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(ODBCStatement, ExecutionIsTracedLoggedAndNotedInTheSession) {
    process.threadInfo = true;
    auto conn = MakeConnection();
    gmtest::TestSession session;
    conn->SetDBServer(&session);
    conn->SetOpLog(true);
    const char* sql = "SELECT NOME, VALOR FROM T";
    ScriptRow(sql, "ANA", "1");
    {
        tODBCStatement stmt(conn.get());
        ASSERT_TRUE(stmt.ExecDirect(sql, "tTest::Run", 1));
        EXPECT_EQ(session.lastStatement, std::string("tTest::Run - ") + sql);
        ASSERT_TRUE(stmt.Fetch());
        EXPECT_FALSE(stmt.Fetch());
    }
    EXPECT_EQ(session.lastStatement, "");  // the closed statement runs nothing any more
    ASSERT_EQ(session.traces.size(), 1u);
    EXPECT_EQ(session.traces[0].label, "tTest::Run");
    EXPECT_EQ(session.traces[0].text, sql);
    EXPECT_EQ(gmtest::WithoutLogEcho(console->Get()),
              std::string("[OPLOG] Thread (4242)\tRoutine: tTest::Run \tSTMT: ") + sql +
                  "\n"
                  "[OPLOG] Thread (4242)\tRoutine: tODBCStatement::Fetch \tMSG: Ret [0]\n"
                  "[OPLOG] Thread (4242)\tRoutine: tODBCStatement::Fetch \tMSG: Ret [100]\n");
}

INSTANTIATE_TEST_SUITE_P(Modes, ODBCStatement, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
