// MySQL column changes on the private MariaDB: what runs in place, what goes through the rebuild
// with every row kept, the backup that a failed rebuild leaves and that a retry must not drop,
// and index removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/mariadatabase.h"

namespace {

constexpr const char* kAlterTable = "tMySQLConnection::AlterTable";
constexpr const char* kRebuild = "tMySQLConnection::AlterStructure";

std::string Text(const tString& s) { return s.GetText(); }
std::string Blanks(size_t n) { return std::string(n, ' '); }

class MySQLDDL : public gmtest::MariaDatabase {
protected:
    void SetUp() override {
        gmtest::MariaDatabase::SetUp();
        if (HasFatalFailure()) return;
        tTableDefinition def("SA1010", dsn.c_str());
        def.AddField("CODE", 'C', 6, 0, true, true);
        def.AddField("NAME", 'C', 40, 0, true, true);
        def.AddField("VALOR", 'N', 12, 2, true, true);
        def.AddField("BORN", 'D', 8, 0, true, true);
        def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        tString sql;
        conn->CreateTable(def, sql);
        ASSERT_TRUE(Run(Text(sql)));
        ASSERT_TRUE(Run("ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)"));
    }

    // rows rows numbered from 1: CODE "C<n>", NAME "NAME <n>" padded with dots to 30
    // characters, VALOR n + 0.25, every tenth marked deleted.
    void Fill(int rows) {
        ASSERT_TRUE(Run("SET SESSION max_recursive_iterations = 100000"));
        ASSERT_TRUE(
            Run("INSERT INTO SA1010 (CODE, NAME, VALOR, BORN, D_E_L_E_T_, R_E_C_N_O_) WITH "
                "RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " +
                std::to_string(rows) +
                ") SELECT CONCAT('C', n), RPAD(CONCAT('NAME ', n), 30, '.'), n + 0.25, "
                "'20240131', IF(n % 10 = 0, '*', ' '), n FROM g"));
    }

    // The column list of a table as "NAME type", in order.
    std::vector<std::string> Columns(const std::string& table) {
        return Values(
            "select cast(concat(column_name, ' ', column_type) as char(100)) from "
            "information_schema.columns where "
            "table_schema = '" +
            dsn + "' and table_name = '" + table + "' order by ordinal_position");
    }

    std::string Codes(const std::string& table) {
        return Value("select cast(group_concat(CODE order by R_E_C_N_O_) as char(200)) from " +
                     table);
    }

    std::vector<std::string> Rebuilt() const { return Ran(kRebuild); }

    tAutoArray<tActionField> actions;

    // Adds an action for the column with its old form and the flags given.
    tActionField& Action(const char* name, u8 type, u16 length, u16 decimals, u16 flags) {
        tActionField* a = new tActionField(name, type, length, decimals);
        a->actions = flags;
        actions.Add(a);
        return *a;
    }
    // Adds an action that changes the column to the new form.
    void Change(const char* name, u8 oldType, u16 oldLength, u16 oldDecimals, u8 newType,
                u16 newLength, u16 newDecimals) {
        u16 flags = 0;
        if (newType != oldType) flags |= tActionField::kTypeChange;
        if (newLength != oldLength) flags |= tActionField::kLengthChange;
        if (newDecimals != oldDecimals) flags |= tActionField::kDecimalsChange;
        tActionField& a = Action(name, oldType, oldLength, oldDecimals, flags);
        a.newType = newType;
        a.newLength = newLength;
        a.newDecimals = newDecimals;
    }
};

TEST_F(MySQLDDL, DecimalsOnlyChangeRunsNothing) {
    Fill(3);
    Change("VALOR", 'N', 12, 2, 'N', 12, 4);
    Action("NAME", 'C', 40, 0, 0);
    session.traces.clear();
    EXPECT_TRUE(conn->AlterTable("SA1010", actions, 0));
    EXPECT_TRUE(session.traces.empty());
    EXPECT_EQ(Value("select VALOR from SA1010 where R_E_C_N_O_ = 2"), "2.25");
}

TEST_F(MySQLDDL, AddedAndDroppedColumnsChangeInPlace) {
    Fill(3);
    Action("NEWC", 'C', 5, 0, tActionField::kAdd);
    Action("NEWN", 'N', 10, 2, tActionField::kAdd);
    Action("NEWL", 'L', 1, 0, tActionField::kAdd);
    Action("NEWM", 'M', 10, 0, tActionField::kAdd);
    Action("BORN", 'D', 8, 0, tActionField::kDrop);
    session.traces.clear();
    ASSERT_TRUE(conn->AlterTable("SA1010", actions, 0)) << LastError();
    EXPECT_EQ(Ran(kAlterTable),
              (std::vector<std::string>{
                  "ALTER TABLE SA1010 ADD (NEWC char(5) DEFAULT '     ' NOT NULL , NEWN double "
                  "DEFAULT 0 NOT NULL , NEWL char(1) DEFAULT ' ' NOT NULL , NEWM text )",
                  "ALTER TABLE SA1010 DROP COLUMN BORN"}));
    EXPECT_TRUE(Rebuilt().empty());
    EXPECT_EQ(Columns("SA1010"), (std::vector<std::string>{
                                     "CODE varchar(6)", "NAME varchar(40)", "VALOR double",
                                     "D_E_L_E_T_ varchar(1)", "R_E_C_N_O_ int(11)", "NEWC char(5)",
                                     "NEWN double", "NEWL char(1)", "NEWM text"}));
    EXPECT_EQ(Value("select cast(concat('[', NEWC, '|', NEWN, '|', NEWL, '|', coalesce(NEWM, "
                    "'null'), ']') as char(40)) from SA1010 where R_E_C_N_O_ = 3"),
              "[|0||null]");  // CHAR values come back without their blanks
    EXPECT_EQ(Value("select count(*) from SA1010"), "3");
}

TEST_F(MySQLDDL, LengthAndTypeChangesRebuildKeepingEveryRow) {
    Fill(5000);
    Change("CODE", 'C', 6, 0, 'C', 10, 0);    // lengthened
    Change("NAME", 'C', 40, 0, 'C', 20, 0);   // shortened
    Change("VALOR", 'N', 12, 2, 'C', 12, 0);  // number to text
    Action("BORN", 'D', 8, 0, tActionField::kDrop);
    Action("EXTRA", 'C', 3, 0, tActionField::kAdd);
    session.traces.clear();
    ASSERT_TRUE(conn->AlterTable("SA1010", actions, 0)) << LastError();
    EXPECT_TRUE(Ran(kAlterTable).empty());
    const std::string copy = " FROM SA1010_BKP where SA1010_BKP.R_E_C_N_O_ = SA1010.R_E_C_N_O_)";
    const std::string update = "UPDATE SA1010 SET CODE = ( select CODE" + copy +
                               ", NAME = ( select substring(NAME,1,20)" + copy +
                               ", VALOR = ( select substring(cast(VALOR as char),1,12)" + copy;
    EXPECT_EQ(Rebuilt(),
              (std::vector<std::string>{
                  "create table SA1010_BKP (CODE char(6),NAME char(40),VALOR double,R_E_C_N_O_ "
                  "int ) select CODE,NAME,VALOR,R_E_C_N_O_ from SA1010",
                  "ALTER TABLE SA1010 DROP COLUMN CODE", "ALTER TABLE SA1010 DROP COLUMN NAME",
                  "ALTER TABLE SA1010 DROP COLUMN VALOR", "ALTER TABLE SA1010 DROP COLUMN BORN",
                  "ALTER TABLE SA1010 ADD (CODE char(10) DEFAULT '          ' NOT NULL , NAME "
                  "char(20) DEFAULT '" +
                      Blanks(20) + "' NOT NULL , VALOR char(12) DEFAULT '" + Blanks(12) +
                      "' NOT NULL , EXTRA char(3) DEFAULT '   ' NOT NULL )",
                  "select max(R_E_C_N_O_) MAX from SA1010_BKP",
                  update + " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
                  update + " WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192"}));
    EXPECT_EQ(Ran("tMYSQLConnection::AlterStructure"),
              std::vector<std::string>{"CREATE INDEX SA1010_BKPIDX ON SA1010_BKP(R_E_C_N_O_)"});
    EXPECT_EQ(Value("select count(*) from SA1010"), "5000");
    // Every row holds its own values in the new forms.
    EXPECT_EQ(Value("select count(*) from SA1010 where CODE = concat('C', R_E_C_N_O_) and NAME "
                    "= left(rpad(concat('NAME ', R_E_C_N_O_), 30, '.'), 20) and VALOR = "
                    "concat(R_E_C_N_O_, '.25') and EXTRA = '' and D_E_L_E_T_ = if(R_E_C_N_O_ % "
                    "10 = 0, '*', ' ')"),
              "5000");
    EXPECT_EQ(Value("select NAME from SA1010 where R_E_C_N_O_ = 4097"), "NAME 4097...........");
    tTableDefinition def("SA1010", dsn.c_str());
    ASSERT_TRUE(conn->DescribeTable(def));
    EXPECT_EQ(def.GetField(def.GetFieldNo("NAME"))->GetLen(), 20);
    EXPECT_EQ(def.GetField(def.GetFieldNo("VALOR"))->GetType(), 'C');
}

TEST_F(MySQLDDL, TextLongerThanACharIsAddedAsVarchar) {
    Fill(2);
    Change("NAME", 'C', 40, 0, 'C', 300, 0);
    ASSERT_TRUE(conn->AlterTable("SA1010", actions, 0)) << LastError();
    EXPECT_EQ(Value("select cast(column_type as char(100)) from information_schema.columns where "
                    "table_schema = '" +
                    dsn + "' and table_name = 'SA1010' and column_name = 'NAME'"),
              "varchar(300)");
    EXPECT_EQ(Value("select NAME from SA1010 where R_E_C_N_O_ = 2"),
              "NAME 2........................");
}

TEST_F(MySQLDDL, FailedRebuildKeepsItsBackupAcrossARetry) {
    Fill(10);
    Change("CODE", 'C', 6, 0, 'C', 10, 0);
    Action("NAME", 'C', 40, 0, tActionField::kAdd);  // already there: the ADD fails
    ASSERT_FALSE(conn->AlterStructure("SA1010", actions, 0));
    // CODE was dropped; its values live only in the backup now.
    EXPECT_EQ(Value("select count(*) from SA1010_BKP where CODE = concat('C', R_E_C_N_O_)"), "10");
    EXPECT_EQ(Columns("SA1010"),
              (std::vector<std::string>{"NAME varchar(40)", "VALOR double", "BORN varchar(8)",
                                        "D_E_L_E_T_ varchar(1)", "R_E_C_N_O_ int(11)"}));

    actions.Clear();
    Change("CODE", 'C', 6, 0, 'C', 10, 0);
    session.traces.clear();
    EXPECT_FALSE(conn->AlterStructure("SA1010", actions, 0));
    tString error;
    EXPECT_EQ(conn->GetLastErrorInfo(error), RC_FAILED);
    EXPECT_NE(Text(error).find("Table [SA1010] Error - Backup table [SA1010_BKP] kept: the table "
                               "lacks its column [CODE]."),
              std::string::npos)
        << Text(error);
    EXPECT_EQ(Value("select count(*) from SA1010_BKP where CODE = concat('C', R_E_C_N_O_)"), "10");
    for (const std::string& sql : Rebuilt()) {
        EXPECT_EQ(sql.find("drop"), std::string::npos) << sql;
    }
}

TEST_F(MySQLDDL, BackupWithMoreRowsThanTheTableIsKept) {
    Fill(4);
    ASSERT_TRUE(Run("CREATE TABLE SA1010_BKP (CODE char(6), R_E_C_N_O_ int)"));
    ASSERT_TRUE(
        Run("INSERT INTO SA1010_BKP VALUES ('A', 1), ('B', 2), ('C', 3), ('D', 4), "
            "('E', 5)"));
    Change("CODE", 'C', 6, 0, 'C', 8, 0);
    EXPECT_FALSE(conn->AlterTable("SA1010", actions, 0));
    EXPECT_NE(LastError().find("Backup table [SA1010_BKP] kept: it holds 5 rows, the table 4."),
              std::string::npos)
        << LastError();
    EXPECT_EQ(Value("select count(*) from SA1010_BKP"), "5");
    EXPECT_EQ(Value("select CODE from SA1010 where R_E_C_N_O_ = 4"), "C4");

    // A backup the table covers is dropped and made again.
    ASSERT_TRUE(Run("DELETE FROM SA1010_BKP WHERE R_E_C_N_O_ = 5"));
    ASSERT_TRUE(conn->AlterTable("SA1010", actions, 0)) << LastError();
    const std::vector<std::string> rebuilt = Rebuilt();
    EXPECT_NE(std::find(rebuilt.begin(), rebuilt.end(), "drop table SA1010_BKP"), rebuilt.end());
    EXPECT_EQ(Codes("SA1010_BKP"), "C1,C2,C3,C4");
    EXPECT_EQ(Codes("SA1010"), "C1,C2,C3,C4");
}

TEST_F(MySQLDDL, DropIndexNamesItsTable) {
    ASSERT_TRUE(Run("CREATE INDEX SA1010_1 ON SA1010 (CODE)"));
    tString sql;
    conn->DropIndex(sql, "SA1010", "SA1010_1");
    EXPECT_EQ(Text(sql), "DROP INDEX SA1010_1 ON SA1010");
    ASSERT_TRUE(Run(Text(sql)));
    EXPECT_FALSE(conn->CanOpen("SA1010", "SA1010_1"));
}

}  // namespace
