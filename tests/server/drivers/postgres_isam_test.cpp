// The PostgreSQL table file's hooks: key cursors with LIMIT, literals with CHR() calls for the
// characters that would end them, and the record fetch prepared with a parameter marker.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "server/drivers/postgres.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"

namespace {

class PostgresFile : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    std::unique_ptr<tPostgresISAMFile> MakePostgresFile() {
        auto file = std::make_unique<tPostgresISAMFile>(&conn, def, reply, session.threadId);
        file->SetDBServer(&session);
        return file;
    }
};

TEST_F(PostgresFile, KeyCursorsEndWithTheRowLimit) {
    conn.SetRowCount(7);
    auto file = MakePostgresFile();
    EXPECT_EQ(conn.GetRowCount(), 40) << "a new file sets a key cursor's row count";
    file->BuildPrevSelect(-1);
    file->AddRowLimit();
    EXPECT_STREQ(conn.GetSqlBuffer().GetText(),
                 "SELECT R_E_C_N_O_ FROM CLIENTES ORDER BY R_E_C_N_O_ DESC LIMIT 40");
}

TEST_F(PostgresFile, QuotesAndBackslashesBecomeChrCalls) {
    auto file = MakePostgresFile();
    const struct {
        std::string value;  // NOME, C 10
        bool pad;
        std::string sql;
    } cases[] = {
        {"D'AVILA", true, "'D' || CHR(39) || 'AVILA   '"},
        {"C:\\X", false, "'C:' || CHR(92) || 'X'"},
        {"'AB", false, " CHR(39) || 'AB'"},
        {"AB'", false, "'AB' || CHR(39)"},
        {"A''B", false, "'A' || CHR(39) ||  CHR(39) || 'B'"},
        {"ABCDEFGHI'", true, "'ABCDEFGHI' || CHR(39)"},
        {"A\nB\xE7", false, "'A\nB\xE7'"},  // control and 8-bit bytes stay inside
        {"", true, "'          '"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::vector<char> record(36, 0);
        std::memcpy(record.data(), c.value.data(), c.value.size());
        tString out;
        EXPECT_TRUE(file->ValueToSql(0, out, record.data(), c.pad, true, true));
        EXPECT_EQ(std::string(out.GetText()), c.sql);
    }
}

// The record fetch over the recording driver: prepared with " = ?" when the connection
// prepares, written with the number otherwise.
class PostgresFetch : public gmtest::RecordedODBC {};

TEST_P(PostgresFetch, RecordFetchIsPreparedWithAMarkerOnlyWhenTheConnectionPrepares) {
    for (const char* prepared : {"1", "0"}) {
        SCOPED_TRACE(prepared);
        process.SetIni("POSTGRES", "PreparedStmt", prepared);
        tPostgresConnection conn("POSTGRES", tString("RECDSN"), tString("gm"), tString("pw"));
        ASSERT_TRUE(conn.Connect());
        tCommBuffer reply;
        std::unique_ptr<tGenericFile> file(
            conn.NewISAMFile(reply, gmtest::ClientesDefinition(), 1));
        rec.ClearLog();
        file->GoTo(12, false);
        EXPECT_EQ(std::string(rec.Statements()),
                  *prepared == '1'
                      ? "SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = ? [1='12']\n"
                      : "SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 12\n");
    }
}

INSTANTIATE_TEST_SUITE_P(BothModes, PostgresFetch, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
