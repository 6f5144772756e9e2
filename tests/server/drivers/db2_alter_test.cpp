// DB2 column changes over the recording driver: in place with the REORG, the fall-back to the
// rebuild, and the rebuild through <table>_BKP as golden texts with its stops and the backup
// guard.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/drivers/db2.h"
#include "tests/server/support/db2conn.h"
#include "tests/server/support/odbcdialect.h"

namespace {

using gmtest::ActionSpec;
using gmtest::FillActions;
using gmtest::Lines;

constexpr const char* kReorg = "CALL SYSPROC.ADMIN_CMD ('REORG TABLE ADMIN.T1')";
constexpr const char* kBackupProbe =
    "SELECT TABNAME FROM SYSCAT.TABLES WHERE TABNAME = 'T1_BKP' AND TABSCHEMA = 'ADMIN' FOR READ "
    "ONLY";
constexpr const char* kRecCount = "SELECT MAX(R_E_C_N_O_) FROM ADMIN.T1";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DB2Alter : public gmtest::RecordedDB2 {
protected:
    // The statements that change the table, without the catalogue's questions.
    std::string Changes() { return gmtest::StatementsWithout(rec, {"SELECT ", "select "}); }
    // T1 as the rebuild finds it: its columns, the index T1_1 on CODE and the record-number
    // index T1_PK, whose name is free to be moved; the highest record number is highest.
    void ScriptRebuild(const char* highest) {
        Rows(kRecCount, {"M"}, {{highest}});
        ScriptT1Columns();
        Rows(
            "SELECT COUNT(DISTINCT INDNAME) FROM SYSCAT.INDEXES WHERE TABNAME = 'T1' AND "
            "TABSCHEMA = 'ADMIN' FOR READ ONLY",
            {"N"}, {{"2"}});
        Rows(
            "SELECT INDNAME,IID,REVERSE_SCANS FROM SYSCAT.INDEXES WHERE TABNAME = 'T1' AND "
            "TABSCHEMA = 'ADMIN' FOR READ ONLY",
            {"INDNAME", "IID", "REVERSE_SCANS"}, {{"T1_1", "1", "Y"}, {"T1_PK", "2", "N"}});
        Rows(
            "SELECT COLNAME FROM SYSCAT.INDEXCOLUSE  WHERE INDSCHEMA = 'ADMIN' AND INDNAME = "
            "'T1_1' ORDER BY COLSEQ FOR READ ONLY",
            {"COLNAME"}, {{"CODE"}});
        Rows(
            "SELECT COLNAME FROM SYSCAT.INDEXCOLUSE  WHERE INDSCHEMA = 'ADMIN' AND INDNAME = "
            "'T1_PK' ORDER BY COLSEQ FOR READ ONLY",
            {"COLNAME"}, {{"R_E_C_N_O_"}});
        Rows(
            "SELECT INDNAME FROM SYSCAT.INDEXES WHERE TABSCHEMA = 'ADMIN' AND INDNAME = 'T1_PK' "
            "FOR READ ONLY",
            {"INDNAME"}, {{"T1_PK"}});
    }
    // What a rebuild runs up to the new table's creation.
    static std::vector<std::string> SetAside() {
        return {"DROP INDEX T1_1", "ALTER TABLE ADMIN.T1 DROP PRIMARY KEY",
                "RENAME INDEX T1_PK TO T1_PK_BKP", "RENAME TABLE ADMIN.T1 TO T1_BKP"};
    }
};

TEST_P(DB2Alter, ChangesInPlaceEndInAReorg) {
    auto conn = Connected();
    const struct {
        const char* name;
        std::vector<ActionSpec> actions;
        std::vector<std::string> changes;
    } cases[] = {
        {"a C widened",
         {{"A1", 'C', 10, 0, 'C', 20, 0, tActionField::kLengthChange}},
         {"ALTER TABLE ADMIN.T1 ALTER A1 SET DATA TYPE VARCHAR(20)", kReorg}},
        {"added and dropped columns",
         {{"B1", 'N', 12, 2, 'N', 12, 2, tActionField::kAdd},
          {"M1", 'M', 10, 0, 'M', 10, 0, tActionField::kAdd},
          {"C1", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop},
          {"A1", 'C', 10, 0, 'C', 10, 0, 0}},
         {"ALTER TABLE ADMIN.T1 ADD B1 DOUBLE NOT NULL  DEFAULT 0.0 ADD M1 BLOB DROP COLUMN C1",
          kReorg}},
        {"numbers' lengths and decimals",
         {{"N1", 'N', 10, 2, 'N', 12, 2, tActionField::kLengthChange},
          {"N2", 'N', 10, 2, 'N', 10, 4, tActionField::kDecimalsChange}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.ClearLog();
        tAutoArray<tActionField> actions;
        FillActions(actions, c.actions);
        EXPECT_TRUE(conn->AlterTable("T1", actions, 0));
        EXPECT_EQ(std::string(rec.Statements()), Lines(c.changes));
    }

    rec.ClearLog();
    tAutoArray<tActionField> widen;
    FillActions(widen, {{"A1", 'C', 10, 0, 'C', 20, 0, tActionField::kLengthChange}});
    rec.FailNext(kReorg, "42704", -204, "no ADMIN_CMD");
    EXPECT_FALSE(conn->AlterTable("T1", widen, 0));  // the ALTER stays
    EXPECT_EQ(Changes(),
              Lines({"ALTER TABLE ADMIN.T1 ALTER A1 SET DATA TYPE VARCHAR(20)", kReorg}));

    tAutoArray<tActionField> odd;
    FillActions(odd, {{"A1;X", 'C', 10, 0, 'C', 20, 0, tActionField::kLengthChange}});
    rec.ClearLog();
    EXPECT_FALSE(conn->AlterTable("T1", odd, 0));
    EXPECT_FALSE(conn->AlterStructure("T 1", widen, 0));
    EXPECT_EQ(std::string(rec.Statements()), "");
}

TEST_P(DB2Alter, FailedAlterIsLoggedAndRebuilds) {
    auto conn = Connected();
    tAutoArray<tActionField> actions;
    FillActions(actions, {{"CODE", 'C', 10, 0, 'C', 20, 0, tActionField::kLengthChange},
                          {"PRICE", 'N', 15, 2, 'N', 15, 2, 0},
                          {"NAME", 'C', 20, 0, 'C', 20, 0, 0}});
    rec.FailNext("ALTER TABLE ADMIN.T1 ALTER*", "42837", -190, "cannot be altered");
    ScriptRebuild("10");
    EXPECT_TRUE(conn->AlterTable("T1", actions, 0));
    std::vector<std::string> expected = {
        "ALTER TABLE ADMIN.T1 ALTER CODE SET DATA TYPE VARCHAR(20)"};
    for (const std::string& s : SetAside()) expected.push_back(s);
    expected.push_back(
        "CREATE TABLE ADMIN.T1(CODE VARCHAR(20) NOT NULL  DEFAULT '" + std::string(20, ' ') +
        "',PRICE DOUBLE NOT NULL  DEFAULT 0.0,NAME VARCHAR(20) NOT NULL  DEFAULT '" +
        std::string(20, ' ') +
        "',D_E_L_E_T_ VARCHAR(1) NOT NULL  DEFAULT ' ',R_E_C_N_O_ INTEGER NOT NULL  DEFAULT 0)");
    expected.push_back(
        "INSERT INTO T1(CODE,PRICE,NAME,D_E_L_E_T_,R_E_C_N_O_) SELECT "
        "CODE,PRICE,NAME,D_E_L_E_T_,R_E_C_N_O_ FROM T1_BKP WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ "
        "<= 4096");
    EXPECT_EQ(Changes(), Lines(expected));
    bool logged = false;
    for (const std::string& entry : process.LogEntries()) {
        logged =
            logged ||
            Contains(entry, "[DB2] AlterTable FAILED !!! Automatic Recover Using AlterStructure.");
    }
    EXPECT_TRUE(logged);
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(DB2Alter, RebuildCopiesTheKeptColumnsInBlocks) {
    auto conn = Connected();
    tAutoArray<tActionField> actions;
    FillActions(actions, {{"PRICE", 'N', 15, 2, 'C', 20, 0, tActionField::kTypeChange},
                          {"CODE", 'C', 10, 0, 'C', 4, 0, tActionField::kLengthChange},
                          {"NOTE", 'M', 10, 0, 'M', 10, 0, 0},
                          {"NAME", 'C', 20, 0, 'C', 20, 0, 0},
                          {"OLD", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop},
                          {"NEW1", 'C', 3, 0, 'C', 3, 0, tActionField::kAdd},
                          {"MEMO2", 'M', 10, 0, 'C', 10, 0, tActionField::kTypeChange},
                          {"QTY", 'C', 5, 0, 'N', 10, 0, tActionField::kTypeChange}});
    ScriptRebuild("5000");
    EXPECT_TRUE(conn->AlterTable("T1", actions, 1));  // a type change never runs in place
    std::vector<std::string> expected = SetAside();
    expected.push_back(
        "CREATE TABLE ADMIN.T1(PRICE VARCHAR(20) NOT NULL  DEFAULT '" + std::string(20, ' ') +
        "',CODE VARCHAR(4) NOT NULL  DEFAULT '    ',NOTE BLOB,NAME VARCHAR(20) NOT NULL  DEFAULT "
        "'" +
        std::string(20, ' ') +
        "',NEW1 VARCHAR(3) NOT NULL  DEFAULT '   ',MEMO2 VARCHAR(10) NOT NULL  DEFAULT '" +
        std::string(10, ' ') +
        "',QTY DOUBLE NOT NULL  DEFAULT 0.0,D_E_L_E_T_ VARCHAR(1) NOT NULL  DEFAULT ' ',R_E_C_N_O_ "
        "INTEGER NOT NULL  DEFAULT 0,R_E_C_D_E_L_ INTEGER NOT NULL  DEFAULT 0)");
    const std::string insert =
        "INSERT INTO T1(PRICE,CODE,NOTE,NAME,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_) SELECT "
        "cast(decimal(PRICE,15,2) as char(20)),left(CODE,4),blob(NOTE),NAME,D_E_L_E_T_,R_E_C_N_O_,"
        "R_E_C_D_E_L_ FROM T1_BKP";
    expected.push_back(insert + " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096");
    expected.push_back(insert + " WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192");
    EXPECT_EQ(Changes(), Lines(expected));
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(DB2Alter, RebuildWithoutKeptColumnsCopiesNothing) {
    auto conn = Connected();
    tAutoArray<tActionField> actions;
    FillActions(actions, {{"OLD", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop},
                          {"NEW1", 'N', 10, 0, 'N', 10, 0, tActionField::kAdd}});
    ScriptRebuild("10");
    EXPECT_TRUE(conn->AlterStructure("T1", actions, 0));
    EXPECT_FALSE(Contains(rec.Statements(), "INSERT"));
    EXPECT_TRUE(Contains(rec.Statements(), "CREATE TABLE ADMIN.T1(NEW1 DOUBLE"));
    EXPECT_TRUE(Contains(console->Get(),
                         "[WARNING] (tDB2Connection::AlterStructure) Structure too diferent. No "
                         "data restored from [T1_BKP]\n"))
        << console->Get();
}

TEST_P(DB2Alter, RebuildStopsBeforeTheRenameWithoutARecordCount) {
    auto conn = Connected();
    tAutoArray<tActionField> actions;
    FillActions(actions, {{"CODE", 'C', 10, 0, 'C', 4, 0, tActionField::kLengthChange}});
    rec.FailNext(kRecCount, "42704", -204, "ADMIN.T1 is an undefined name.");
    EXPECT_FALSE(conn->AlterStructure("T1", actions, 0));
    EXPECT_EQ(Changes(), "");
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
    EXPECT_TRUE(Contains(text.GetText(),
                         "Table [T1] Error - its highest record number cannot "
                         "be read"))
        << text.GetText();
}

TEST_P(DB2Alter, BackupWithMoreRowsThanTheTableIsKept) {
    auto conn = Connected();
    tAutoArray<tActionField> actions;
    FillActions(actions, {{"CODE", 'C', 10, 0, 'C', 4, 0, tActionField::kLengthChange}});
    for (const char* live : {"9", "3"}) {
        SCOPED_TRACE(live);
        rec.ClearLog();
        Rows(kBackupProbe, {"TABNAME"}, {{"T1_BKP"}});
        Rows("SELECT COUNT(*) AS TOTAL FROM ADMIN.T1", {"N"}, {{live}});
        Rows("SELECT COUNT(*) AS TOTAL FROM ADMIN.T1_BKP", {"N"}, {{"5"}});
        EXPECT_FALSE(conn->AlterStructure("T1", actions, 0));  // the first: no record count
        const bool kept = std::string(live) == "3";
        EXPECT_EQ(Changes(), kept ? "" : Lines({"drop table ADMIN.T1_BKP"}));
        tString text;
        EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
        EXPECT_TRUE(Contains(text.GetText(), kept ? "Backup table [T1_BKP] kept"
                                                  : "highest record number cannot be read"))
            << text.GetText();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DB2Alter, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
