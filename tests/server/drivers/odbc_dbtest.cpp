// The ODBC layer against the private PostgreSQL (WIN1252) and MariaDB (latin1) servers, in both
// ODBC modes: connecting, the lost link of a closed port, the column types each database
// reports, 8-bit bytes both ways, long values cut to the buffer, record numbers as parameters,
// prepared statements run again, commit control, errors and the read-only refusal. Each test
// works in a table of its own, dropped whatever happens.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "server/drivers/odbc.h"
#include "tests/server/support/odbctargets.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"
#include "tests/support_db/db_env.h"

namespace {

class RealODBC : public ::testing::TestWithParam<gmtest::tOdbcTarget> {
protected:
    void SetUp() override {
        ASSERT_TRUE(gmtest::KeepDriverManagerLoaded());
        const gmtest::DbSettings& db = gmtest::DbEnv();
        process.SetIni("General", "ODBC30", GetParam().odbc3 ? "1" : "0");
        dsn = Postgres() ? db.pgDsn : db.mariaDsn;
        user = Postgres() ? db.pgUser : db.mariaUser;
        password = Postgres() ? db.pgPassword : db.mariaPassword;
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        table = std::string("gm_") + GetParam().name + "_" + test.substr(0, test.find('/'));
        table = table.substr(0, 60);  // within both databases' identifier limits
        for (char& c : table) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        conn = MakeConnection(dsn);
        ASSERT_TRUE(conn->Connect()) << LastError();
        ASSERT_TRUE(Run("DROP TABLE IF EXISTS " + table));
    }

    void TearDown() override {
        if (conn && conn->IsConnected()) {
            conn->EndCmtCtl();
            Run("DROP TABLE IF EXISTS " + table);
        }
    }

    bool Postgres() const { return GetParam().postgres; }

    std::unique_ptr<tODBCConnection> MakeConnection(const std::string& source) {
        return std::make_unique<tODBCConnection>(GetParam().dbType, tString(source.c_str()),
                                                 tString(user.c_str()), tString(password.c_str()),
                                                 loader);
    }

    std::string LastError() {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }

    bool Run(const std::string& sql) {
        tODBCStatement stmt(conn.get());
        const bool ok = stmt.ExecDirect(sql.c_str(), "tTest::Run", 1);
        EXPECT_TRUE(ok || !conn->IsConnected()) << sql << "\n" << LastError();
        return ok;
    }

    f64 CountRows() {
        tODBCStatement stmt(conn.get());
        const std::string sql = "SELECT COUNT(*) FROM " + table;
        EXPECT_TRUE(stmt.ExecDirect(sql.c_str(), "tTest::Count", 1)) << LastError();
        EXPECT_TRUE(stmt.Fetch());
        return stmt.FieldAsDouble(0);
    }

    // Rows R_E_C_N_O_ 1..5 named N1..N5.
    void MakeNumberedTable() {
        ASSERT_TRUE(Run("CREATE TABLE " + table + " (R_E_C_N_O_ INTEGER, NOME VARCHAR(20))"));
        for (int i = 1; i <= 5; ++i) {
            const std::string n = std::to_string(i);
            ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES (" + n + ", 'N" + n + "')"));
        }
    }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    tODBCLibrary loader;
    std::string dsn, user, password, table;
    std::unique_ptr<tODBCConnection> conn;
};

TEST_P(RealODBC, ConnectsAndNamesItsDriverAndServer) {
    EXPECT_STREQ(conn->GetDriverName(), Postgres() ? "psqlodbca.so" : "libmaodbc.so");
    // Without ISAM work the check-up leaves the catalogue tables alone.
    process.SetIni(GetParam().dbType, "IsamConnection", "0");
    auto checked = MakeConnection(dsn);
    ASSERT_TRUE(checked->Connect());
    tString report;
    EXPECT_TRUE(checked->InitialCheckUp(report));
    const std::string text = report.GetText();
    EXPECT_NE(text.find(std::string("ODBC Mapped Functions ......: ") +
                        (GetParam().odbc3 ? "3.0\n" : "1.0\n")),
              std::string::npos);
    EXPECT_NE(text.find(std::string("ODBC DBMS Name..............: ") +
                        (Postgres() ? "PostgreSQL\n" : "MariaDB\n")),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ODBC Data Source Name.......: " + dsn + "\n"), std::string::npos);
    EXPECT_NE(text.find("ISAM OPERATIONS NOT SUPPORTED"), std::string::npos) << text;
    tString server;
    EXPECT_TRUE(conn->GetServerName(server));
}

TEST_P(RealODBC, ClosedPortIsALostLinkReportedUnderConnect) {
    // A copy of the data sources with one more, on a port where nothing listens.
    gmtest::TempDir dir;
    const std::string ini = dir.File("odbc.ini");
    const char* original = std::getenv("ODBCINI");
    ASSERT_NE(original, nullptr);
    // Named for the target: unixODBC may keep data sources it has read before.
    const std::string source = std::string("gm_closed_") + GetParam().name;
    const std::string closed =
        "[" + source + "]\n" +
        (Postgres() ? "Driver=gm PostgreSQL\nServername=127.0.0.1\nPort=1\n"
                      "Database=gmtest\n"
                    : "Driver=gm MariaDB\nSERVER=127.0.0.1\nPORT=1\nDATABASE=gmtest\n");
    gmtest::WriteFileText(ini, gmtest::ReadFileText(original) + "\n" + closed);
    const std::string previous = original;
    setenv("ODBCINI", ini.c_str(), 1);
    auto lost = MakeConnection(source);
    const bool connected = lost->Connect();
    setenv("ODBCINI", previous.c_str(), 1);
    EXPECT_FALSE(connected);
    tString text;
    const i32 code = lost->GetLastErrorInfo(text);
    EXPECT_NE(std::string(text.GetText()).find("( From tODBCConnection::Connect )"),
              std::string::npos)
        << text.GetText();
    if (Postgres()) {
        EXPECT_TRUE(lost->IsConnectionLost());
        EXPECT_EQ(std::string(lost->GetSqlState()).substr(0, 2), "08");
    } else {
        // MariaDB Connector/ODBC 3.1 reports a refused connect as a general error (HY000, or
        // S1000 in ODBC 2 terms) with the client library's code 2002: not a link that was lost.
        EXPECT_FALSE(lost->IsConnectionLost());
        EXPECT_STREQ(lost->GetSqlState(), GetParam().odbc3 ? "HY000" : "S1000");
        EXPECT_EQ(code, 2002) << text.GetText();
    }
}

TEST_P(RealODBC, ColumnTypesAreBoundAsTheDatabaseDescribesThem) {
    ASSERT_TRUE(Run("CREATE TABLE " + table +
                    " (K INTEGER, I INTEGER, F FLOAT, C CHAR(10), T TEXT, D DATE)"));
    ASSERT_TRUE(
        Run("INSERT INTO " + table + " VALUES (1, 42, 2.5, 'caf\xe9', 'x\xe9y', '2010-12-25')"));
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES (2, NULL, NULL, NULL, NULL, NULL)"));
    tODBCStatement stmt(conn.get());
    const std::string sql = "SELECT K, I, F, C, T, D FROM " + table + " ORDER BY K";
    ASSERT_TRUE(stmt.ExecDirect(sql.c_str(), "tTest::Types", 1)) << LastError();

    // PostgreSQL describes TEXT as a long character column of 8190 bytes, MariaDB as 65535,
    // which is too big to bind. Dates are never bound.
    std::vector<std::string> columns;
    for (i16 k = 0; k < stmt.GetColumnCount(); ++k) {
        const tColumnDesc& d = stmt.GetColumns()[k];
        columns.push_back(std::string(d.name) + " " + static_cast<char>(d.type) + " " +
                          std::to_string(d.bufferLength));
    }
    std::vector<std::string> expected = {"K N 10", "I N 10", Postgres() ? "F N 17" : "F N 7",
                                         "C C 11"};
    if (Postgres()) expected.push_back("T C 8191");
    EXPECT_EQ(columns, expected);
    const std::string console = this->console.Get();
    // A date is SQL_TYPE_DATE to an ODBC 3 application and SQL_DATE to an ODBC 2 one.
    EXPECT_NE(console.find(GetParam().odbc3 ? "Unsupported column type [91] in field D"
                                            : "Unsupported column type [9] in field D"),
              std::string::npos);
    EXPECT_NE(console.find(Postgres() ? "Column [T] type [-1] bind using (8190) bytes"
                                      : "Column [T] type [-1] IGNORED : Precision (65535)"),
              std::string::npos)
        << console;

    ASSERT_TRUE(stmt.Fetch());
    tString text;
    EXPECT_EQ(stmt.FieldAsDouble(1), 42.0);
    EXPECT_EQ(stmt.FieldAsDouble(2), 2.5);
    // PostgreSQL pads a CHAR value to its length; MariaDB strips the padding.
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 3).GetText()),
              Postgres() ? "caf\xe9      " : "caf\xe9");
    if (Postgres()) {
        EXPECT_EQ(std::string(stmt.FieldAsString(text, 4).GetText()), "x\xe9y");
    }
    ASSERT_TRUE(stmt.Fetch());
    EXPECT_EQ(stmt.FieldAsDouble(0), 2.0);
    EXPECT_EQ(stmt.FieldAsDouble(1), 0.0);
    EXPECT_EQ(stmt.FieldAsDouble(2), 0.0);
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 3).GetText()), "");
    EXPECT_FALSE(stmt.Fetch());
}

TEST_P(RealODBC, EveryHighByteComesBackUnchanged) {
    std::string bytes;
    for (int b = 0x80; b <= 0xFF; ++b) bytes += static_cast<char>(b);
    ASSERT_TRUE(Run("CREATE TABLE " + table + " (V VARCHAR(200))"));
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES ('" + bytes + "')"));
    tODBCStatement stmt(conn.get());
    const std::string sql = "SELECT V FROM " + table;
    ASSERT_TRUE(stmt.ExecDirect(sql.c_str(), "tTest::Bytes", 1)) << LastError();
    ASSERT_TRUE(stmt.Fetch());
    tString text;
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 0).GetText()), bytes);

    char buffer[200];
    i32 length = sizeof buffer;
    ASSERT_TRUE(stmt.GetBlob(sql.c_str(), buffer, length)) << LastError();
    ASSERT_EQ(length, static_cast<i32>(bytes.size()) + 1);
    EXPECT_EQ(std::string(buffer, bytes.size()), bytes);
    // The length that the database counts is in characters: one byte each.
    EXPECT_TRUE(stmt.ExecDirect(("SELECT LENGTH(V) FROM " + table).c_str(), "tTest::Bytes", 1));
    ASSERT_TRUE(stmt.Fetch());
    EXPECT_EQ(stmt.FieldAsDouble(0), 128.0);
}

TEST_P(RealODBC, LongValueIsCutToTheBufferAndSaysSo) {
    ASSERT_TRUE(Run("CREATE TABLE " + table + " (V VARCHAR(200))"));
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES ('abcdefgh')"));
    tODBCStatement stmt(conn.get());
    const std::string sql = "SELECT V FROM " + table;
    std::unique_ptr<char[]> small(new char[4]);
    i32 length = 4;
    ASSERT_TRUE(stmt.GetBlob(sql.c_str(), small.get(), length)) << LastError();
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::string(small.get(), 4), std::string("abc\0", 4));
    EXPECT_TRUE(stmt.IsDataTruncated());

    std::unique_ptr<char[]> exact(new char[9]);
    length = 9;
    ASSERT_TRUE(stmt.GetBlob(sql.c_str(), exact.get(), length));
    EXPECT_EQ(length, 9);
    EXPECT_STREQ(exact.get(), "abcdefgh");
    EXPECT_FALSE(stmt.IsDataTruncated());
}

TEST_P(RealODBC, RecordNumberParameterFindsItsRow) {
    MakeNumberedTable();
    tODBCStatement stmt(conn.get());
    const std::string sql = "SELECT NOME FROM " + table + " WHERE R_E_C_N_O_ = ?";
    for (f64 recno : {3.0, 5.0}) {
        ASSERT_TRUE(stmt.ExecWithRecno(sql.c_str(), recno, "tTest::GoTo")) << LastError();
        ASSERT_TRUE(stmt.Fetch());
        tString nome;
        EXPECT_EQ(std::string(stmt.FieldAsString(nome, 0).GetText()),
                  "N" + std::to_string(static_cast<int>(recno)));
        EXPECT_FALSE(stmt.Fetch());
    }
    ASSERT_TRUE(stmt.ExecWithRecno(sql.c_str(), 9.0, "tTest::GoTo"));
    EXPECT_FALSE(stmt.Fetch());
    EXPECT_EQ(LastError(), "");
}

TEST_P(RealODBC, PreparedStatementRunsAgainForAnotherRecordNumber) {
    MakeNumberedTable();
    tODBCStatement stmt(conn.get());
    const std::string sql = "SELECT R_E_C_N_O_, NOME FROM " + table + " WHERE R_E_C_N_O_ = ?";
    ASSERT_TRUE(stmt.Prepare(sql.c_str(), "tTest::Read")) << LastError();
    for (f64 recno : {2.0, 4.0, 1.0}) {
        ASSERT_TRUE(stmt.ExecRecnoStmt(sql.c_str(), recno, "tTest::Read")) << LastError();
        ASSERT_TRUE(stmt.Fetch());
        EXPECT_EQ(stmt.FieldAsDouble(0), recno);
        tString nome;
        EXPECT_EQ(std::string(stmt.FieldAsString(nome, 1).GetText()),
                  "N" + std::to_string(static_cast<int>(recno)));
        EXPECT_FALSE(stmt.Fetch());
        ASSERT_TRUE(stmt.ReleasePreparedStmt());
    }
}

TEST_P(RealODBC, CommitControlRollsBackAndCommits) {
    ASSERT_TRUE(Run("CREATE TABLE " + table + " (A INTEGER)"));
    ASSERT_EQ(conn->StrCmtCtl(), 0);
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES (1)"));
    EXPECT_EQ(conn->Rollback(), 0);
    EXPECT_EQ(CountRows(), 0.0);
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES (2)"));
    EXPECT_EQ(conn->Commit(), 0);
    EXPECT_EQ(conn->EndCmtCtl(), 0);
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(CountRows(), 1.0);
}

TEST_P(RealODBC, FailedQueryKeepsTheDatabasesStateAndCode) {
    tODBCStatement stmt(conn.get());
    process.ClearLog();
    EXPECT_FALSE(stmt.ExecDirect("SELECT * FROM gm_no_such_table", "tTest::Probe", 1));
    EXPECT_STREQ(conn->GetSqlState(), Postgres() ? "42P01" : GetParam().odbc3 ? "42S02" : "S0002");
    tString text;
    const i32 code = conn->GetLastErrorInfo(text);
    EXPECT_EQ(code, stmt.GetRetCode() ? stmt.GetRetCode() : -19);
    if (!Postgres()) {
        EXPECT_EQ(code, 1146);
    }
    EXPECT_NE(std::string(text.GetText()).find("( From tTest::Probe )"), std::string::npos);
    EXPECT_FALSE(conn->IsConnectionLost());
    EXPECT_EQ(process.LogEntries().size(), 1u);
    EXPECT_EQ(stmt.GetHandle(), nullptr);
}

TEST_P(RealODBC, ReadOnlyConnectionRefusesWritesAndRunsQueries) {
    ASSERT_TRUE(Run("CREATE TABLE " + table + " (A INTEGER)"));
    process.SetIni(GetParam().dbType, "ReadOnly", "1");
    auto reader = MakeConnection(dsn);
    ASSERT_TRUE(reader->Connect());
    tODBCStatement stmt(reader.get());
    EXPECT_FALSE(stmt.ExecDirect(("INSERT INTO " + table + " VALUES (1)").c_str(), "tTest::W", 1));
    EXPECT_FALSE(stmt.ExecDirect(("SELECT 1; DELETE FROM " + table).c_str(), "tTest::W", 1));
    EXPECT_TRUE(stmt.ExecDirect(("SELECT COUNT(*) FROM " + table).c_str(), "tTest::R", 1));
    ASSERT_TRUE(stmt.Fetch());
    EXPECT_EQ(stmt.FieldAsDouble(0), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Databases, RealODBC, ::testing::ValuesIn(gmtest::kOdbcTargets),
                         gmtest::OdbcTargetName);

}  // namespace
