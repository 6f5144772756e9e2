// The connection base: its error texts with and without a session, the configuration it reads,
// the statement trace and operation log, transactions and the audit sequence, and the base
// answers of the operations that drivers override.
#include "server/isam/dbconn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testfile.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"

namespace {

class DBConnection : public ::testing::Test {
protected:
    gmtest::TestDBProcess process;
    gmtest::TestSession session;
};

TEST_F(DBConnection, SetErrorTextCarriesRoutineAndSessionStateIntoLogAndTrace) {
    const std::string state = session.stateLine + "GMBuild [20110117]\t\n";
    const struct {
        const char* name;
        bool withSession;
        bool running;
        bool traced;
        const char* routine;
        std::string text;
    } cases[] = {
        {"no session", false, true, true, "R",
         "GML Error -19 - M ( From R )\n( DBSERVER NOT SET )"},
        {"null routine", false, true, true, nullptr, "GML Error -19 - M( DBSERVER NOT SET )"},
        {"session ended", true, false, true, "R",
         "GML Error -19 - M ( From R )\n( DBSERVER NOT ACTIVE )"},
        {"running, traced", true, true, true, "R", "GML Error -19 - M ( From R )\n" + state},
        {"running, untraced", true, true, false, "R", "GML Error -19 - M ( From R )\n" + state},
        {"running, null routine", true, true, true, nullptr, "GML Error -19 - M" + state},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        process.ClearLog();
        session.traces.clear();
        session.running = c.running;
        session.traceOn = c.traced;
        gmtest::TestConnection conn;
        if (c.withSession) conn.SetDBServer(&session);

        EXPECT_TRUE(conn.SetError(-19, c.routine, "M", nullptr));
        tString text;
        EXPECT_EQ(conn.GetLastErrorInfo(text), -19);
        EXPECT_EQ(std::string(text.GetText()), c.text);
        EXPECT_EQ(process.LogEntries(), std::vector<std::string>{c.text});

        const bool traced = c.withSession && c.traced;
        ASSERT_EQ(session.traces.empty(), !traced);
        if (traced) {
            EXPECT_EQ(session.traces[0].label, c.routine ? c.routine : "");
            EXPECT_EQ(session.traces[0].elapsed, 0.0);
            EXPECT_EQ(session.traces[0].text, c.text.substr(0, c.text.find('\n')));
        }
    }
}

TEST_F(DBConnection, AppendedTextAndClearError) {
    gmtest::TestConnection conn;
    conn.SetError(-27, "tISAMFile::Write", "Insert failed.", nullptr);
    conn.AppendErrorText("( SQL Statement : INSERT )");
    process.ClearLog();
    EXPECT_TRUE(conn.LogLastError("tISAMFile::Write", nullptr));
    const std::string expected =
        "GML Error -27 - Insert failed. ( From tISAMFile::Write )\n( DBSERVER NOT SET )"
        "( SQL Statement : INSERT ) ( From tISAMFile::Write )\n( DBSERVER NOT SET )";
    EXPECT_EQ(process.LogEntries(), std::vector<std::string>{expected});

    conn.ClearError();
    tString text("stale");
    EXPECT_EQ(conn.GetLastErrorInfo(text), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(DBConnection, FileDescribesItselfInTheErrorOnlyUnderLogFull) {
    gmtest::TestConnection conn;
    tCommBuffer reply;
    gmtest::TestFile file(&conn, nullptr, reply, 7);
    tString description;
    file.DumpInfo(description);
    ASSERT_NE(description.Find("[GENERIC FILE INFORMATION]"), -1);
    for (bool logFull : {false, true}) {
        SCOPED_TRACE(logFull);
        process.logFull = logFull;
        conn.SetError(-19, "R", "M", &file);
        tString text;
        conn.GetLastErrorInfo(text);
        EXPECT_EQ(std::string(text.GetText()),
                  std::string("GML Error -19 - M ( From R )\n( DBSERVER NOT SET )") +
                      (logFull ? description.GetText() : ""));
    }
}

TEST_F(DBConnection, SettingsComeThroughTheTypeAliasGeneralChain) {
    const struct {
        const char* section;
        const char* key;
        const char* value;
        bool isam, readOnly, prepared, indexTrace;
    } cases[] = {
        {nullptr, nullptr, nullptr, true, false, true, false},
        {"General", "ReadOnly", "1", true, true, true, false},
        {"MSSQL", "IsamConnection", "0", false, false, true, false},
        {"MSSQL/PRODUCAO", "PreparedStmt", "0", true, false, false, false},
        {"General", "TraceIndex", "1", true, false, true, true},
        {"MSSQL", "TraceIndex", "1", true, false, true, false},  // General only
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key ? std::string(c.section) + " " + c.key : "defaults");
        gmtest::TestDBProcess own;
        if (c.section) own.SetIni(c.section, c.key, c.value);
        gmtest::TestConnection conn;
        EXPECT_EQ(conn.IsIsamAllowed(), c.isam);
        EXPECT_EQ(conn.IsReadOnly(), c.readOnly);
        EXPECT_EQ(conn.UsePreparedStmt(), c.prepared);
        EXPECT_EQ(conn.IsIndexTraced(), c.indexTrace);
    }
}

TEST_F(DBConnection, UseAutoRecnoTakesTheTableKeyThenAutoRecnoThroughTheChain) {
    const struct {
        const char* name;
        std::vector<std::vector<const char*>> ini;  // section, key, value
        bool expected;
    } cases[] = {
        {"nothing set", {}, false},
        {"General for every table", {{"General", "AutoRecno", "1"}}, true},
        {"table key in the alias section overrides",
         {{"General", "AutoRecno", "1"}, {"MSSQL/PRODUCAO", "AutoRecnoCUST01", "0"}},
         false},
        {"table key in the type section", {{"MSSQL", "AutoRecnoCUST01", "1"}}, true},
        {"another table's key does not count", {{"General", "AutoRecnoCUST02", "1"}}, false},
        {"alias section beats General for AutoRecno",
         {{"General", "AutoRecno", "1"}, {"MSSQL/PRODUCAO", "AutoRecno", "0"}},
         false},
        {"other type's section ignored", {{"ORACLE", "AutoRecnoCUST01", "1"}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::TestDBProcess own;
        for (const auto& entry : c.ini) own.SetIni(entry[0], entry[1], entry[2]);
        gmtest::TestConnection conn;
        EXPECT_EQ(conn.UseAutoRecno("CUST01"), c.expected);
    }
}

TEST_F(DBConnection, TraceHooksAddLinesUnderTheStartedLabel) {
    gmtest::TestConnection conn;
    EXPECT_FALSE(conn.IsTraced());
    conn.TraceStart("tISAMFile::GoTop");  // no session: nothing happens
    conn.TraceEnd("SELECT 1");
    conn.SetDBServer(&session);
    session.traceOn = false;
    EXPECT_FALSE(conn.IsTraced());
    session.traceOn = true;
    EXPECT_TRUE(conn.IsTraced());

    conn.TraceStart("tISAMFile::GoTop");
    conn.TraceEnd("SELECT 1");
    conn.TraceRecno("SELECT * FROM T WHERE R_E_C_N_O_ = ?", 12345678901.0);
    conn.TraceResult("SELECT COUNT(*) FROM T", "17");
    conn.TraceStart("tISAMFile::Skip");
    conn.TraceEnd("SELECT 2");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"tISAMFile::GoTop", "SELECT 1"},
        {"tISAMFile::GoTop", "SELECT * FROM T WHERE R_E_C_N_O_ = ? -- ( R = 12345678901 )"},
        {"tISAMFile::GoTop", "SELECT COUNT(*) FROM T -- ( R = 17 )"},
        {"tISAMFile::Skip", "SELECT 2"},
    };
    ASSERT_EQ(session.traces.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(session.traces[i].label, expected[i].first);
        EXPECT_EQ(session.traces[i].text, expected[i].second);
        EXPECT_GE(session.traces[i].elapsed, 0.0);
    }
    EXPECT_LE(session.traces[0].elapsed, session.traces[2].elapsed);
}

TEST_F(DBConnection, OperationLogLinesNameTheSessionThread) {
    gmtest::ConsoleCapture console;
    gmtest::TestConnection conn;
    conn.OpLogStmt("tISAMFile::GoTop", "SELECT 1");  // no session: nothing
    conn.SetDBServer(&session);
    session.threadId = 777;
    conn.OpLogStmt("tISAMFile::GoTop", "SELECT 1");
    conn.OpLogMsg("tODBCStatement::Fetch", "Ret [100]");
    EXPECT_EQ(console.Get(),
              "[OPLOG] Thread (777)\tRoutine: tISAMFile::GoTop \tSTMT: SELECT 1\n"
              "[OPLOG] Thread (777)\tRoutine: tODBCStatement::Fetch \tMSG: Ret [100]\n");
}

TEST_F(DBConnection, UnitOfWorkCommitControlAndAuditSequence) {
    gmtest::TestConnection conn;
    EXPECT_EQ(conn.GetAuditSeq(), 1u);
    conn.EndTran();  // no unit of work: nothing
    EXPECT_EQ(conn.GetAuditSeq(), 1u);
    conn.BeginTran();
    conn.BeginTran();  // already in one: no new number
    EXPECT_TRUE(conn.InUnitOfWork());
    EXPECT_FALSE(conn.InTransaction());
    EXPECT_EQ(conn.GetAuditSeq(), 2u);
    conn.EndTran();
    EXPECT_EQ(conn.GetAuditSeq(), 3u);
    EXPECT_TRUE(conn.InUnitOfWork());

    ASSERT_EQ(conn.StrCmtCtl(), 0);
    EXPECT_TRUE(conn.InTransaction());
    conn.EndTran();  // inside commit control the block ends the unit
    EXPECT_EQ(conn.GetAuditSeq(), 3u);
    EXPECT_EQ(conn.Rollback(), RC_NOT_SUPPORTED);  // the base bookkeeping still runs
    EXPECT_EQ(conn.GetAuditSeq(), 4u);
    conn.EndCmtCtl();

    conn.AbortTran();
    EXPECT_FALSE(conn.InUnitOfWork());
    conn.BeginTran();
    EXPECT_EQ(conn.GetAuditSeq(), 5u);
}

TEST_F(DBConnection, BaseAnswersOfTheDriverOperations) {
    gmtest::TestConnection conn;
    tDBConnection& base = conn;
    EXPECT_EQ(base.tDBConnection::StrCmtCtl(), RC_NOT_SUPPORTED);
    EXPECT_EQ(base.tDBConnection::EndCmtCtl(), RC_NOT_SUPPORTED);
    EXPECT_EQ(base.Commit(), RC_NOT_SUPPORTED);
    EXPECT_EQ(base.HandleError(nullptr, "R", "SELECT 1", -1, 1), 0);
    EXPECT_EQ(base.GetErrorText(nullptr), 0);
    EXPECT_EQ(base.GetHandle(), nullptr);
    EXPECT_FALSE(base.IsConnected());
    EXPECT_TRUE(base.Connect());
    EXPECT_TRUE(base.IsConnected());
    EXPECT_FALSE(base.IsConnectionLost());
    EXPECT_FALSE(base.CanOpen("T", nullptr));
    EXPECT_FALSE(base.SPExist("P"));
    EXPECT_TRUE(base.SetParam("NAME", "VALUE"));
    EXPECT_EQ(base.tDBConnection::GetOwner(), nullptr);
    EXPECT_EQ(base.tDBConnection::GetRecCount("T"), -1.0);
    EXPECT_EQ(base.GetInsertedRecno(), -1.0);
    EXPECT_EQ(base.GetDBVersion(), 0);
    EXPECT_TRUE(base.IsUserError(50000));
    EXPECT_FALSE(base.IsUserError(50001));
    EXPECT_FALSE(base.IsDuplicateKey(2627));

    tString text("x");
    EXPECT_EQ(base.GetInfoString(1, text), -1);
    base.GetRecnoIndex("T", text);
    EXPECT_STREQ(text, "");
    base.DropIndex(text, "T", "T_IDX1");
    EXPECT_STREQ(text, "DROP INDEX T_IDX1");
    text = "(SPID:";
    base.GetSessionID(text);
    EXPECT_STREQ(text, "(SPID: ");

    EXPECT_EQ(base.GetRowCount(), 0);
    EXPECT_TRUE(base.SetRowCount(40));
    EXPECT_EQ(base.GetRowCount(), 40);

    conn.owner = "dbo.";
    EXPECT_STREQ(base.GetSchema(), "dbo.");
}

TEST_F(DBConnection, ExecSPRunsTheProcedureOnANewStatementWithTheOwnerPrefix) {
    gmtest::TestConnection conn;
    conn.owner = "dbo.";
    conn.spResult = -21;
    tArray<tDATAField> inputs;
    tArray<tDATAField> outputs;
    EXPECT_EQ(conn.ExecSP("SP_TOTAL", inputs, outputs), -21);
    EXPECT_EQ(conn.executed, std::vector<std::string>{"SPExec SP_TOTAL dbo. 0 0"});
}

TEST_F(DBConnection, PendingJoinsAreHandedOverOnce) {
    gmtest::TestConnection conn;
    EXPECT_EQ(conn.TakeJoinInfo(), nullptr);
    conn.AddJoinInfo(std::make_unique<tJoinInfo>("SA1", "A1_NOME|NOME", "A1_COD = C5_CLI", "S"));
    conn.AddJoinInfo(std::make_unique<tJoinInfo>("SB1", "B1_DESC", "B1_COD = C6_PROD", ""));
    std::unique_ptr<tAutoArray<tJoinInfo>> joins = conn.TakeJoinInfo();
    ASSERT_NE(joins, nullptr);
    ASSERT_EQ(joins->Count(), 2);
    EXPECT_STREQ(joins->Get(1)->table, "SB1");
    EXPECT_EQ(conn.TakeJoinInfo(), nullptr);
}

TEST(RecnoToStr, WritesWholeNumbersOfAnySize) {
    char text[kRecnoTextSize];
    EXPECT_STREQ(RecnoToStr(0.0, text), "0");
    EXPECT_STREQ(RecnoToStr(4096.0, text), "4096");
    EXPECT_STREQ(RecnoToStr(2.5, text), "2");  // round half to even
    EXPECT_STREQ(RecnoToStr(-7.0, text), "-7");
    EXPECT_EQ(std::string(RecnoToStr(-1.7976931348623157e308, text)).size(), 310u);
}

}  // namespace
