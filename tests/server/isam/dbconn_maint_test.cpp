// Connection services shared by the drivers: the query test of a text, the record-number key
// test of a duplicate-key error, row counts, work in record-number blocks, pack and trigger
// removal, as the SQL they run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testprocess.h"

namespace {

class DBConnectionMaint : public ::testing::Test {
protected:
    gmtest::TestDBProcess process;
    gmtest::TestConnection conn;
};

TEST_F(DBConnectionMaint, IsQueryStmtByTheFirstWordAndIntoOutsideQuotes) {
    const struct {
        const char* sql;
        bool query;
    } cases[] = {
        {"  (select * from t)", true},
        {"\t\r\nSELECT 1", true},
        {"SELECTX 1", false},
        {"SELECTXY 1", false},
        {"show tables", true},
        {"WITH x AS (SELECT 1) SELECT * FROM x", true},
        {"INSERT INTO t VALUES (1)", false},
        {"", false},
        {"  ( ", false},
        {"EXECUTE p", false},
        {"EXEC p", true},
        {"exec p into x", false},
        {"EXEC p 'a INTO b'", true},
        {"EXEC p  INTO x", true},  // a second blank breaks the match and starts none
        {"EXEC p ' x' INTO y", false},
        {"EXEC p INT O x", true},
        {"select * into T_BKP from T", false},
        {"SELECT A FROM T WHERE B = ' INTO '", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(conn.IsQueryStmt(c.sql), c.query);
    }
}

TEST_F(DBConnectionMaint, RecnoKeyErrorNamesTheTablesPrimaryOrRecnoKey) {
    tTableDefinition def("SA1010", "PRODUCAO");
    const struct {
        const char* error;
        bool recnoKey;
    } cases[] = {
        {"Violation of PRIMARY KEY constraint 'SA1010_PK'", true},
        {"duplicate key value violates unique constraint \"sa1010_pk\"", true},
        {"duplicate key on index SA1010_RECNO", true},
        {"duplicate key on index sa1010_recno", true},
        {"Violation of UNIQUE KEY constraint 'SA1010_UNQ'", false},
        {"duplicate key on index OTHER_PK", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        conn.SetLastError(c.error);
        EXPECT_EQ(conn.IsRecnoKeyError(def), c.recnoKey);
    }
}

TEST_F(DBConnectionMaint, TableCountRunsCountWithOwnerAndCondition) {
    conn.owner = "dbo.";
    conn.count = 42.0;
    EXPECT_EQ(conn.GetTableCount("SA1010", nullptr), 42.0);
    EXPECT_EQ(conn.GetTableCount("SA1010", "A1_COD > '0' AND D_E_L_E_T_ = ' '"), 42.0);
    EXPECT_EQ(conn.executed,
              (std::vector<std::string>{
                  "tDBConnection::GetTableCount: SELECT COUNT(*) AS TOTAL FROM dbo.SA1010",
                  "tDBConnection::GetTableCount: SELECT COUNT(*) AS TOTAL FROM dbo.SA1010 "
                  "WHERE A1_COD > '0' AND D_E_L_E_T_ = ' '"}));

    conn.failingExecs = {2};
    EXPECT_EQ(conn.GetTableCount("SA1010", nullptr), -1.0);
    conn.fetchFails = true;
    EXPECT_EQ(conn.GetTableCount("SA1010", nullptr), -1.0);
}

TEST_F(DBConnectionMaint, PackDeletesMarkedRowsInBlocksOf4096Recnos) {
    conn.recCount = 10000.0;
    EXPECT_TRUE(conn.PackTable("SA1010"));
    const std::string del = "tDBConnection::PackTable: DELETE FROM SA1010 WHERE D_E_L_E_T_ = '*'";
    EXPECT_EQ(conn.executed,
              (std::vector<std::string>{del + " AND R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
                                        del + " AND R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192",
                                        del + " AND R_E_C_N_O_ > 8192 AND R_E_C_N_O_ <= 12288"}));
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_F(DBConnectionMaint, PackOfAnEmptyOrUncountableTableRunsNothing) {
    conn.recCount = 0.0;
    EXPECT_TRUE(conn.PackTable("SA1010"));
    conn.recCount = -1.0;
    EXPECT_FALSE(conn.PackTable("SA1010"));
    EXPECT_TRUE(conn.executed.empty());
}

TEST_F(DBConnectionMaint, FailedBlockStopsTheWorkAndLogsHowFarItGot) {
    conn.failingExecs = {1};
    EXPECT_FALSE(conn.ExecInBlocks("UPDATE T SET X = 1", "tISAMFile::Clear", 10000.0, 0));
    EXPECT_EQ(
        conn.executed,
        (std::vector<std::string>{
            "tISAMFile::Clear: UPDATE T SET X = 1 WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
            "tISAMFile::Clear: UPDATE T SET X = 1 WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= "
            "8192"}));
    EXPECT_EQ(
        process.LogEntries(),
        std::vector<std::string>{"ExecInBlocks operation FAILED. Processed 4096 of 10000 "
                                 "record(s). ( From tISAMFile::Clear )\n( DBSERVER NOT SET )"});
}

TEST_F(DBConnectionMaint, DropTriggerRunsWithoutOwnerPrefix) {
    conn.owner = "dbo.";
    EXPECT_TRUE(conn.DropTrigger("TRG_SA1010"));
    conn.failingExecs = {1};
    EXPECT_FALSE(conn.DropTrigger("TRG_SA1010"));
    EXPECT_EQ(conn.executed[0], "tDBConnection::DropTrigger: DROP TRIGGER TRG_SA1010");
}

}  // namespace
