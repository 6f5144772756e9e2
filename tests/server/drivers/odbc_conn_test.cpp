// The ODBC connection over the recording driver, in both ODBC modes: connecting, the error
// classification and texts of HandleError, commit control, disconnecting, the check-up and
// information queries, and a client library that lacks optional entry points.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/odbc.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testfile.h"
#include "tests/server/support/testsession.h"

namespace {

constexpr const char* kNoSession = "( DBSERVER NOT SET )";

class ODBCConnection : public gmtest::RecordedODBC {
protected:
    const char* AutocommitCall() const {
        return GetParam() ? "SQLSetConnectAttr" : "SQLSetConnectOption";
    }
    const char* EndTranCall() const { return GetParam() ? "SQLEndTran" : "SQLTransact"; }
};

TEST_P(ODBCConnection, ConnectsToTheAliasAndReadsTheDriverName) {
    auto conn = MakeConnection("MSSQL", false);
    EXPECT_STREQ(conn->GetDriverName(), "");
    ASSERT_TRUE(conn->Connect());
    EXPECT_TRUE(conn->IsConnected());
    EXPECT_STREQ(conn->GetDriverName(), "libgmrecodbc.so");
    const std::vector<std::string> calls = rec.CallLines();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(rec.CountCalls("SQLConnect"), 1);
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(ODBCConnection, ConnectWithInformationCountsAsConnectedAndLogsNothing) {
    auto conn = MakeConnection("MSSQL", false);
    rec.WarnNext("SQLConnect", "01000", 5701, "Changed database context to 'gm'.");
    EXPECT_TRUE(conn->Connect());
    EXPECT_TRUE(conn->IsConnected());
    EXPECT_EQ(LastError(*conn), "");
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(ODBCConnection, RefusedConnectRecordsTheLostLinkUnderConnect) {
    auto conn = MakeConnection("POSTGRES", false);
    rec.FailNext("SQLConnect", "08001", 101, "could not connect to server: Connection refused");
    EXPECT_FALSE(conn->Connect());
    EXPECT_FALSE(conn->IsConnected());
    EXPECT_TRUE(conn->IsConnectionLost());
    const std::string expected =
        std::string(
            "Error : 101 (08001) (RC=-1) - could not connect to server: Connection "
            "refused ( From tODBCConnection::Connect )\n") +
        kNoSession;
    EXPECT_EQ(LastError(*conn), expected);
    EXPECT_EQ(process.LogEntries(), std::vector<std::string>{expected});
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), 101);
}

TEST_P(ODBCConnection, WithoutItsLibraryConnectFailsSilentlyAndCallsNothing) {
    process.SetIni("ORACLE", "ClientLibrary", "/nonexistent/libnoodbc.so");
    tODBCLibrary missing;
    tODBCConnection conn("ORACLE", tString("RECDSN"), tString("gm"), tString("pw"), missing);
    process.ClearLog();
    EXPECT_FALSE(conn.Connect());
    EXPECT_FALSE(conn.IsLibraryLoaded());
    EXPECT_EQ(LastError(conn), "");
    EXPECT_TRUE(rec.CallLines().empty());
    EXPECT_TRUE(process.LogEntries().empty());
}

// One failed or warned execution per case; the statement text is the recorded SQL.
TEST_P(ODBCConnection, HandleErrorClassifiesByDatabaseTypeStateAndNativeCode) {
    const struct {
        const char* dbType;
        bool info;  // the call succeeds with information instead of failing
        const char* state;
        i32 native;
        bool warning;
        bool lost;
        i32 code;  // the last error code afterwards
    } cases[] = {
        {"MSSQL", false, "42S02", 208, false, false, 208},
        {"MSSQL", false, "HY000", 0, false, false, -19},
        {"MSSQL", false, "08S01", 10054, false, true, 10054},
        {"MSSQL", false, "01000", 5701, true, false, 5701},
        {"MSSQL", true, "01S02", 0, true, false, -19},
        {"MSSQL", true, "08S01", 0, false, true, -19},  // a lost link outranks the information
        {"postgres", false, "00000", -1, true, false, -1},
        {"POSTGRES", false, "00000", 7, false, false, 7},
        {"MSSQL", false, "00000", -1, false, false, -1},
        {"DB2", false, "42000", 598, true, false, 598},
        {"DB2", false, "57011", 437, true, false, 437},
        {"DB2", false, "42000", 513, true, false, 513},
        {"DB2", false, "08001", -30081, false, true, -30081},
        {"DB2", false, "HY000", -30081, false, true, -30081},
        {"MYSQL", false, "HY000", 1153, false, true, 1153},
        {"MSSQL", false, "HY000", 1153, false, false, 1153},
    };
    const char* sql = "UPDATE T SET A = 1";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.dbType) + " " + c.state + " " + std::to_string(c.native));
        auto conn = MakeConnection(c.dbType);
        tODBCStatement stmt(conn.get());
        process.ClearLog();
        const std::string message = std::string("message ") + c.state;
        (c.info ? rec.WarnNext : rec.FailNext)(sql, c.state, c.native, message.c_str());
        EXPECT_EQ(stmt.ExecDirect(sql, "tTest::Run", 1), c.info);
        const i32 rc = c.info ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
        const std::string text = std::string(c.warning ? "Warning : " : "Error : ") +
                                 std::to_string(c.native) + " (" + c.state +
                                 ") (RC=" + std::to_string(rc) + ") - " + message +
                                 " ( From tTest::Run )\n" + kNoSession + sql;
        EXPECT_EQ(process.LogEntries(), std::vector<std::string>{text});
        EXPECT_EQ(LastError(*conn), c.warning ? "" : text);
        tString ignored;
        EXPECT_EQ(conn->GetLastErrorInfo(ignored), c.code);
        EXPECT_EQ(conn->IsConnectionLost(), c.lost);
        EXPECT_STREQ(conn->GetSqlState(), c.state);
        EXPECT_EQ(stmt.GetRetCode(), c.native);
    }
}

TEST_P(ODBCConnection, WithoutDiagnosticTheRecoveryTextIsLoggedEvenUnreported) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    stmt.Open(0);
    rec.ClearLog();
    EXPECT_EQ(conn->HandleError(&stmt, "tTest::Run", "SELECT 1", SQL_ERROR, 0), 0);
    const std::string expected =
        std::string("Recovery Error Code 100 (RC=-1) ( From tTest::Run )\n") + kNoSession +
        "SELECT 1";
    EXPECT_EQ(LastError(*conn), expected);
    EXPECT_EQ(process.LogEntries(), std::vector<std::string>{expected});
    tString ignored;
    EXPECT_EQ(conn->GetLastErrorInfo(ignored), 0);
    // The statement, the connection and the environment are asked in turn; ODBC 1 asks once.
    const std::vector<std::string> odbc3 = {
        "SQLGetDiagRec(3,1,512)=100", "SQLGetDiagRec(2,1,512)=100", "SQLGetDiagRec(1,1,512)=100"};
    const std::vector<std::string> odbc1 = {"SQLError(511)=100"};
    EXPECT_EQ(rec.CallLines(), GetParam() ? odbc3 : odbc1);
}

TEST_P(ODBCConnection, LongDiagnosticMessageIsCutToTheBuffer) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    const std::string longMessage(700, 'x');
    rec.FailNext("SELECT 2", "42000", 102, longMessage.c_str());
    EXPECT_FALSE(stmt.ExecDirect("SELECT 2", "tTest::Run", 1));
    const size_t kept = GetParam() ? 511 : 510;  // the message buffer less its terminator
    const std::string expected = "Error : 102 (42000) (RC=-1) - " + std::string(kept, 'x') +
                                 " ( From tTest::Run )\n" + kNoSession + "SELECT 2";
    EXPECT_EQ(LastError(*conn), expected);
    EXPECT_EQ(stmt.GetRetCode(), 102);
}

TEST_P(ODBCConnection, ErrorIsTracedAndCarriesTheSessionStateAndTheOwnerFile) {
    auto conn = MakeConnection();
    gmtest::TestSession session;
    conn->SetDBServer(&session);
    tCommBuffer reply;
    auto def = std::make_shared<tTableDefinition>("CLIENTES", "RECDSN");
    gmtest::TestFile file(conn.get(), def, reply, 7);
    tODBCStatement stmt(conn.get());
    stmt.SetOwnerFile(&file);
    rec.FailNext("DELETE FROM CLIENTES", "23000", 547, "conflicted with the REFERENCE constraint");
    EXPECT_FALSE(stmt.ExecDirect("DELETE FROM CLIENTES", "tISAMFile::Zap", 1));
    const std::string text = LastError(*conn);
    const std::string head =
        "Error : 547 (23000) (RC=-1) - conflicted with the REFERENCE constraint ( From "
        "tISAMFile::Zap )\n" +
        session.stateLine +
        "GMBuild [20110117]\t\nDELETE FROM CLIENTES\n[GENERIC FILE INFORMATION]\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    ASSERT_GE(session.traces.size(), 3u);
    EXPECT_EQ(session.traces[0].label, "tISAMFile::Zap");
    EXPECT_EQ(session.traces[0].elapsed, 0.0);
    EXPECT_EQ(session.traces[0].text,
              "Error : 547 (23000) (RC=-1) - conflicted with the REFERENCE constraint ( From "
              "tISAMFile::Zap )");
    EXPECT_EQ(session.traces[1].label, "...");
}

TEST_P(ODBCConnection, CommitAndRollbackActOnlyInsideCommitControl) {
    auto conn = MakeConnection();
    rec.ClearLog();
    EXPECT_EQ(conn->Commit(), 0);
    const u32 seq = conn->GetAuditSeq();
    EXPECT_EQ(conn->Rollback(), 0);
    EXPECT_EQ(conn->GetAuditSeq(), seq + 1);  // a rollback always ends the unit's audit id
    EXPECT_EQ(rec.CountCalls(EndTranCall()), 0);
    EXPECT_TRUE(rec.CallLines().empty());

    ASSERT_EQ(conn->StrCmtCtl(), 0);
    EXPECT_TRUE(conn->InTransaction());
    EXPECT_EQ(rec.CallLines(),
              std::vector<std::string>{std::string(AutocommitCall()) +
                                       (GetParam() ? "(102,0,0)=0" : "(102,0)=0")});
    EXPECT_EQ(conn->Commit(), 0);
    EXPECT_EQ(conn->Rollback(), 0);
    EXPECT_EQ(rec.CountCalls(EndTranCall()), 2);
}

TEST_P(ODBCConnection, FailedTransactionCallsAnswerMinus13AndKeepTheState) {
    auto conn = MakeConnection();
    rec.FailNext(AutocommitCall(), "HY011", 0, "attribute cannot be set now");
    EXPECT_EQ(conn->StrCmtCtl(), -13);
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(LastError(*conn),
              std::string("Error : 0 (HY011) (RC=-1) - attribute cannot be set now ( From "
                          "tODBCConnection::StrCmtCtl )\n") +
                  kNoSession);

    ASSERT_EQ(conn->StrCmtCtl(), 0);
    rec.FailNext(EndTranCall(), "40001", 1205, "deadlock victim");
    EXPECT_EQ(conn->Commit(), -13);
    EXPECT_TRUE(conn->InTransaction());
    rec.FailNext(EndTranCall(), "08S01", 0, "link failure");
    EXPECT_EQ(conn->Rollback(), -13);
    EXPECT_TRUE(conn->InTransaction());
    EXPECT_TRUE(conn->IsConnectionLost());

    rec.FailNext(AutocommitCall(), "HY000", 0, "cannot switch");
    EXPECT_EQ(conn->EndCmtCtl(), -13);
    EXPECT_TRUE(conn->InTransaction());
    EXPECT_EQ(conn->EndCmtCtl(), 0);
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(process.LogEntries().size(), 4u);
}

TEST_P(ODBCConnection, DisconnectRollsBackAndRetriesOnce) {
    auto conn = MakeConnection();
    rec.ClearLog();
    rec.FailNext("SQLDisconnect", "25000", 0, "transaction still active");
    conn->Disconnect();
    EXPECT_FALSE(conn->IsConnected());
    const std::vector<std::string> calls = rec.CallLines();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], "SQLDisconnect()=-1");
    EXPECT_EQ(calls[1].substr(0, calls[1].find('(')), EndTranCall());
    EXPECT_EQ(calls[2], "SQLDisconnect()=0");

    ASSERT_TRUE(conn->Connect());
    rec.FailNext("SQLDisconnect", "25000", 0, "transaction still active");
    rec.FailNext("SQLDisconnect", "25000", 0, "transaction still active");
    conn->Disconnect();
    EXPECT_TRUE(conn->IsConnected());
    conn->Disconnect();
    EXPECT_FALSE(conn->IsConnected());
}

TEST_P(ODBCConnection, CheckUpListsTheAnsweredInformation) {
    process.SetIni("MSSQL", "IsamConnection", "0");  // the catalogue part stays out
    auto conn = MakeConnection("MSSQL", false);
    tString report;
    EXPECT_FALSE(conn->InitialCheckUp(report));
    const char* warning = "[WARNING] tODBCConnection::InitialCheckUp() NOT CONNECTED\n";
    EXPECT_EQ(std::string(report.GetText()), warning);
    EXPECT_EQ(console->Get(), warning);

    ASSERT_TRUE(conn->Connect());
    report.Clear();
    EXPECT_TRUE(conn->InitialCheckUp(report));
    const std::string expected =
        std::string("--------------- ODBC Connection Check-Up ------------------\n") +
        "ODBC Mapped Functions ......: " + (GetParam() ? "3.0" : "1.0") +
        "\n"
        "ODBC DBMS Name..............: RECODBC\n"
        "ODBC DBMS Version...........: 01.00.0000\n"
        "ODBC Data Source Name.......: RECDSN\n"
        "ODBC Driver Name............: libgmrecodbc.so\n"
        "ODBC Driver Version ........: 01.00.0000\n"
        "ODBC Support ODBC Version...: 03.00\n"
        "-----------------------------------------------------------\n\n";
    EXPECT_EQ(std::string(report.GetText()).substr(0, expected.size()), expected);
}

TEST_P(ODBCConnection, InformationQueriesGiveTheDriversTextsOrItsError) {
    auto conn = MakeConnection();
    tString name;
    EXPECT_FALSE(conn->GetServerName(name));
    rec.SetInfoText(SQL_SERVER_NAME, "DBHOST01");
    EXPECT_TRUE(conn->GetServerName(name));
    EXPECT_EQ(std::string(name.GetText()), "DBHOST01");

    tString value("unchanged");
    EXPECT_EQ(conn->GetInfoString(SQL_DBMS_NAME, value), SQL_SUCCESS);
    EXPECT_EQ(std::string(value.GetText()), "RECODBC");
    value = "unchanged";
    EXPECT_EQ(conn->GetInfoString(SQL_KEYWORDS, value), SQL_ERROR);
    EXPECT_EQ(std::string(value.GetText()), "unchanged");
    EXPECT_EQ(LastError(*conn).substr(0, 20), "Error : 0 (HY096) - ");
    EXPECT_TRUE(process.LogEntries().empty());  // the error text only, no log
}

INSTANTIATE_TEST_SUITE_P(Modes, ODBCConnection, ::testing::Bool(), gmtest::ODBCModeName);

// A client library with only the two required entry points: every other call is refused as a
// failure with one log line, never called through a null pointer.
TEST(ODBCConnectionLibrary, MissingEntryPointsFailWithOneLogLineEach) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    process.SetIni("MINIMAL", "ClientLibrary", GM_ODBC1ONLY_PATH);
    tODBCLibrary loader;
    tODBCConnection conn("MINIMAL", tString("NODSN"), tString("gm"), tString("pw"), loader);
    ASSERT_TRUE(conn.IsLibraryLoaded());
    EXPECT_FALSE(conn.Connect());
    conn.SetIsolation();
    const std::string missing =
        "[ERROR] SQLError NOT FOUND - The client library of [MINIMAL/NODSN] lacks this ODBC "
        "function.";
    const std::string tail = std::string(" )\n") + kNoSession;
    const std::vector<std::string> expected = {
        missing,  // the library's SQLAllocEnv fails: its diagnostics cannot be read either
        "Recovery Error Code -1 (RC=-1) ( From tODBCConnection::tODBCConnection" + tail,
        missing,
        "Recovery Error Code -1 (RC=-1) ( From tODBCConnection::Connect" + tail,
        "[ERROR] SQLSetConnectOption NOT FOUND - The client library of [MINIMAL/NODSN] lacks "
        "this ODBC function.",
        missing,
        "Recovery Error Code -1 (RC=-1) ( From tODBCConnection::SetIsolation" + tail,
    };
    EXPECT_EQ(process.LogEntries(), expected);
}

}  // namespace
