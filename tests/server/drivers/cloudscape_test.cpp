// The CloudScape driver over the recording driver: the schema prefix and id, the catalogue
// probes, golden DDL texts, columns and indexes described from the sys. tables, alterations in
// place and through <table>_BKP, the statement's long values, and whole filters through the
// table file's hooks.
#include "server/drivers/cloudscape.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"

namespace {

using gmtest::ActionSpec;

constexpr const char* kAdminSchema =
    "select schemaid  from sys.sysschemas  where schemaname = 'ADMIN'";
constexpr const char* kColumns =
    "SELECT C.COLUMNNAME, C.COLUMNDATATYPE  FROM SYS.SYSCOLUMNS C, sys.systables T  WHERE "
    "referenceid = tableid  AND t.tablename = 'T1' and t.schemaid = 'S1' ORDER BY "
    "C.COLUMNNUMBER";
constexpr const char* kIndexes =
    "SELECT CONGLOMERATENAME, DESCRIPTOR  FROM SYS.SYSCONGLOMERATES C, SYS.SYSTABLES T  WHERE "
    "C.TABLEID = T.TABLEID  AND C.SCHEMAID = 'S1' AND T.TABLENAME = 'T1' AND ISINDEX = 1";
constexpr const char* kBackupProbe =
    "select tableid   from sys.systables   where tablename = 'T1_BKP' and schemaid = 'S1'";
constexpr const char* kAddRecnoKey = "ALTER TABLE T1 ADD PRIMARY KEY (R_E_C_N_O_)";

using gmtest::Lines;

class CloudScape : public gmtest::RecordedODBC {
protected:
    std::unique_ptr<tCloudScapeConnection> Connected(const char* user = "") {
        auto conn = std::make_unique<tCloudScapeConnection>("CLOUDSCAPE", tString("RECDSN"),
                                                            tString(user), tString("pw"), loader);
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    // A connection of the user ADMIN whose schema id S1 is known.
    std::unique_ptr<tCloudScapeConnection> InSchema() {
        auto conn = Connected();
        gmtest::ScriptRows(rec, kAdminSchema, {"SCHEMAID"}, {{"S1"}});
        EXPECT_STREQ(conn->GetSchemaID().GetText(), "S1");
        rec.ClearLog();
        return conn;
    }
    void Rows(const char* sql, const std::vector<const char*>& columns,
              const std::vector<std::vector<const char*>>& rows) {
        gmtest::ScriptRows(rec, sql, columns, rows);
    }
    // T1: CODE C 10, PRICE N, NAME C 20, R_E_C_N_O_, D_E_L_E_T_.
    void ScriptColumns() {
        Rows(kColumns, {"COLUMNNAME", "COLUMNDATATYPE"},
             {{"CODE", "VARCHAR(10) NOT NULL"},
              {"PRICE", "DOUBLE NOT NULL"},
              {"NAME", "VARCHAR(20) NOT NULL"},
              {"R_E_C_N_O_", "INTEGER NOT NULL"},
              {"D_E_L_E_T_", "VARCHAR(1) NOT NULL"}});
    }
    std::string Changes() {
        return gmtest::StatementsWithout(rec, {"select tableid ", "SELECT COUNT(*)"});
    }
};

TEST_P(CloudScape, SchemaComesFromTheUserAndItsIdIsAskedUntilFound) {
    auto anonymous = Connected("");
    EXPECT_STREQ(anonymous->GetOwner(), "ADMIN.");
    EXPECT_STREQ(anonymous->GetSchemaID().GetText(), "");  // not found: asked again
    gmtest::ScriptRows(rec, kAdminSchema, {"SCHEMAID"}, {{"S1"}});
    EXPECT_STREQ(anonymous->GetSchemaID().GetText(), "S1");
    EXPECT_STREQ(anonymous->GetSchemaID().GetText(), "S1");  // kept
    EXPECT_EQ(std::string(rec.Statements()), Lines({kAdminSchema, kAdminSchema}));

    auto joe = Connected("joe");
    EXPECT_STREQ(joe->GetOwner(), "JOE.");
    joe->GetSchemaID();
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({"select schemaid  from sys.sysschemas  where schemaname = 'JOE'"}));
}

TEST_P(CloudScape, ProbesCompareIndexNamesWithoutCaseAndLogNothing) {
    auto conn = InSchema();
    const char* indexes =
        "select conglomeratename   from sys.sysconglomerates c, sys.systables t  where c.tableid "
        "= t.tableid   and c.schemaid = 'S1' and t.tablename = 'Orders' and isindex = 1";
    Rows(indexes, {"CONGLOMERATENAME"}, {{"ORDERS_1"}, {"orders_2"}});
    EXPECT_TRUE(conn->CanOpen("Orders", "ORDERS_2"));
    Rows(indexes, {"CONGLOMERATENAME"}, {{"ORDERS_1"}});
    EXPECT_FALSE(conn->CanOpen("Orders", "ORDERS_9"));
    const char* table =
        "select tableid   from sys.systables   where tablename = 'Orders' and schemaid = 'S1'";
    Rows(table, {"TABLEID"}, {{"T-1"}});
    EXPECT_TRUE(conn->CanOpen("Orders", nullptr));
    EXPECT_FALSE(conn->CanOpen("Orders", ""));  // no row
    rec.FailNext(table, "42X05", 30000, "Table 'ORDERS' does not exist.");
    EXPECT_FALSE(conn->CanOpen("Orders", nullptr));
    EXPECT_EQ(std::string(rec.Statements()), Lines({indexes, indexes, table, table, table}));
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(CloudScape, DDLTexts) {
    auto conn = Connected();
    gmtest::ExpectDDLTexts(
        *conn, rec,
        {"CREATE TABLE ADMIN.T1(CODE VARCHAR(300) NOT NULL DEFAULT '" + std::string(252, ' ') +
             "',NOTE LONG VARCHAR,PRICE FLOAT NOT NULL DEFAULT 0.0,OK VARCHAR(1) NOT NULL "
             "DEFAULT 'F',DT VARCHAR(8) NOT NULL DEFAULT '        ',ODD,R_E_C_N_O_ INTEGER NOT "
             "NULL DEFAULT 0)",
         kAddRecnoKey, "DROP INDEX T1_2 ON T1", "select tablename from sys.systables",
         "SELECT MAX(R_E_C_N_O_) FROM ADMIN.T1", "DELETE FROM ADMIN.T1"});
}

TEST_P(CloudScape, DescribeTableMapsTheCatalogueTypes) {
    auto conn = InSchema();
    Rows(kColumns, {"COLUMNNAME", "COLUMNDATATYPE"},
         {{"code", "VARCHAR(10) NOT NULL"},
          {"QTY", "INTEGER"},
          {"PRICE", "DECIMAL(10,2)"},
          {"NOTE", "LONG VARCHAR"},
          {"DT", "VARCHAR(8) NOT NULL"},
          {"R_E_C_N_O_", "INTEGER NOT NULL"}});
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    gmtest::ExpectFields(def, {{"CODE", 'C', 10, 0, true},
                               {"QTY", 'N', 15, 6, true},
                               {"PRICE", 'X', 0, 0, false},
                               {"NOTE", 'M', 10, 0, true},
                               {"DT", 'C', 8, 0, true},
                               {"R_E_C_N_O_", 'N', 15, 6, false}});
    EXPECT_NE(console->Get().find("[WARNING] (tCloudScapeConnection::DescribeTable) Table [T1] "
                                  "unsupported field [PRICE] type [DECIMAL(10,2)].\n"),
              std::string::npos)
        << console->Get();
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(CloudScape, IndexesComeFromTheDescriptorsColumnNumbers) {
    auto conn = InSchema();
    ScriptColumns();
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    Rows(kIndexes, {"CONGLOMERATENAME", "DESCRIPTOR"},
         {{"t1_1", "BTREE (1, 5)"},    // D_E_L_E_T_ left out
          {"T1_2", "BTREE (3, 1)"},    // in the descriptor's order
          {"T1_REC", "BTREE (4)"},     // the record-number key
          {"T1_3", "BTREE (1, 9)"},    // no column 9
          {"T1_4", "BTREE (0)"},       // no column 0
          {"T1_5", "BTREE (x)"},       // no number
          {"T1_6", "UNIQUE BTREE"}});  // no list
    ASSERT_TRUE(conn->DescribeIndexes(def));
    ASSERT_EQ(def.GetIndexCount(), 2);
    const tIndexDefinition& first = *def.GetIndex(0);
    EXPECT_STREQ(first.GetName(), "T1_1");
    ASSERT_EQ(first.GetFieldCount(), 1);
    EXPECT_EQ(first.GetField(0), 0);
    const tIndexDefinition& second = *def.GetIndex(1);
    EXPECT_STREQ(second.GetName(), "T1_2");
    ASSERT_EQ(second.GetFieldCount(), 2);
    EXPECT_EQ(second.GetField(0), 2);
    EXPECT_EQ(second.GetField(1), 0);
    for (const char* skipped : {"T1_3", "T1_4", "T1_5", "T1_6"}) {
        EXPECT_NE(console->Get().find(std::string("index [") + skipped + "] skipped"),
                  std::string::npos)
            << skipped << "\n"
            << console->Get();
    }
    EXPECT_EQ(std::string(rec.Statements()), Lines({kColumns, kIndexes}));  // no key added
}

TEST_P(CloudScape, MissingRecordNumberKeyIsAdded) {
    auto conn = InSchema();
    ScriptColumns();
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    Rows(kIndexes, {"CONGLOMERATENAME", "DESCRIPTOR"}, {{"T1_1", "BTREE (1)"}});
    ASSERT_TRUE(conn->DescribeIndexes(def));
    EXPECT_EQ(def.GetIndexCount(), 1);
    // Also when the catalogue cannot be read.
    rec.FailNext(kIndexes, "42000", 30000, "no");
    EXPECT_FALSE(conn->DescribeIndexes(def));
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({kColumns, kIndexes, kAddRecnoKey, kIndexes, kAddRecnoKey}));
}

TEST_P(CloudScape, AlterTableAddsColumnsInPlaceUntilOneFails) {
    auto conn = InSchema();
    tAutoArray<tActionField> adds;
    gmtest::FillActions(adds, {{"A", 'C', 5, 0, 'C', 5, 0, tActionField::kAdd},
                               {"B", 'N', 10, 2, 'N', 10, 2, tActionField::kAdd},
                               {"C", 'M', 10, 0, 'M', 10, 0, tActionField::kAdd},
                               {"D", 'N', 10, 2, 'N', 12, 2, tActionField::kLengthChange}});
    ASSERT_TRUE(conn->AlterTable("T1", adds, 0));
    const std::string inPlace =
        Lines({"ALTER TABLE T1 ADD COLUMN A char(5) NOT NULL DEFAULT '     ' ",
               "ALTER TABLE T1 ADD COLUMN B double NOT NULL DEFAULT 0 ",
               "ALTER TABLE T1 ADD COLUMN C long varchar"});
    EXPECT_EQ(Changes(), inPlace);

    rec.ClearLog();
    tAutoArray<tActionField> two;
    gmtest::FillActions(two, {{"A", 'C', 5, 0, 'C', 5, 0, tActionField::kAdd},
                              {"B", 'N', 10, 2, 'N', 10, 2, tActionField::kAdd}});
    rec.FailNext("ALTER TABLE T1 ADD COLUMN B*", "42000", 30000, "no");
    ASSERT_TRUE(conn->AlterTable("T1", two, 0));
    EXPECT_EQ(Changes(), Lines({"ALTER TABLE T1 ADD COLUMN A char(5) NOT NULL DEFAULT '     ' ",
                                "ALTER TABLE T1 ADD COLUMN B double NOT NULL DEFAULT 0 ",
                                "ALTER TABLE T1 ADD (A char(5) DEFAULT '     ' NOT NULL , B "
                                "double DEFAULT 0 NOT NULL )"}));
}

TEST_P(CloudScape, RebuildCopiesTheChangedColumnsThroughTheBackup) {
    auto conn = InSchema();
    const std::string update = " FROM T1_BKP where T1_BKP.R_E_C_N_O_ = T1.R_E_C_N_O_)";
    const struct {
        const char* name;
        std::vector<ActionSpec> actions;
        std::vector<std::string> changes;  // up to the copy back
        std::string set;                   // the copy back's SET list; "" when none runs
    } cases[] = {
        {"a dropped field",
         {{"OLD", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop}},
         {"ALTER TABLE T1 DROP COLUMN OLD"},
         ""},
        {"N to C 5",
         {{"PRICE", 'N', 10, 2, 'C', 5, 0, tActionField::kTypeChange}},
         {"create table T1_BKP (PRICE double,R_E_C_N_O_ int ) select PRICE,R_E_C_N_O_ from T1",
          "CREATE INDEX T1_BKPIDX ON T1_BKP(R_E_C_N_O_)", "ALTER TABLE T1 DROP COLUMN PRICE",
          "ALTER TABLE T1 ADD (PRICE char(5) DEFAULT '     ' NOT NULL )"},
         "PRICE = ( select substring(cast(PRICE as char),1,5)"},
        {"C to N",
         {{"CODE", 'C', 5, 0, 'N', 10, 2, tActionField::kTypeChange}},
         {"create table T1_BKP (CODE char(5),R_E_C_N_O_ int ) select CODE,R_E_C_N_O_ from T1",
          "CREATE INDEX T1_BKPIDX ON T1_BKP(R_E_C_N_O_)", "ALTER TABLE T1 DROP COLUMN CODE",
          "ALTER TABLE T1 ADD (CODE double DEFAULT 0 NOT NULL )"},
         ""},
        {"a C shortened and one lengthened",
         {{"A", 'C', 10, 0, 'C', 4, 0, tActionField::kLengthChange},
          {"B", 'C', 4, 0, 'C', 6, 0, tActionField::kLengthChange}},
         {"create table T1_BKP (A char(10),B char(4),R_E_C_N_O_ int ) select A,B,R_E_C_N_O_ "
          "from T1",
          "CREATE INDEX T1_BKPIDX ON T1_BKP(R_E_C_N_O_)", "ALTER TABLE T1 DROP COLUMN A",
          "ALTER TABLE T1 DROP COLUMN B",
          "ALTER TABLE T1 ADD (A char(4) DEFAULT '    ' NOT NULL , B char(6) DEFAULT '      ' "
          "NOT NULL )"},
         "A = ( select substring(A,1,4)" + update + ", B = ( select B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.ClearLog();
        tAutoArray<tActionField> actions;
        gmtest::FillActions(actions, c.actions);
        if (!c.set.empty()) Rows("select max(R_E_C_N_O_) from T1_BKP", {"M"}, {{"1000"}});
        ASSERT_TRUE(conn->AlterTable("T1", actions, 1));
        std::string expected = Lines(c.changes);
        if (!c.set.empty()) {
            expected += "select max(R_E_C_N_O_) from T1_BKP\nUPDATE T1 SET " + c.set + update +
                        " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096\n";
        }
        EXPECT_EQ(Changes(), expected);
    }
}

TEST_P(CloudScape, BackupWithMoreRowsThanTheTableIsKept) {
    auto conn = InSchema();
    tAutoArray<tActionField> actions;
    gmtest::FillActions(actions, {{"OLD", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop}});
    for (const char* live : {"3", "9"}) {
        SCOPED_TRACE(live);
        rec.ClearLog();
        Rows(kBackupProbe, {"TABLEID"}, {{"B-1"}});
        Rows("SELECT COUNT(*) AS TOTAL FROM ADMIN.T1", {"N"}, {{live}});
        Rows("SELECT COUNT(*) AS TOTAL FROM ADMIN.T1_BKP", {"N"}, {{"5"}});
        const bool kept = std::string(live) == "3";
        EXPECT_EQ(conn->AlterStructure("T1", actions, 0), !kept);
        EXPECT_EQ(Changes(),
                  kept ? "" : Lines({"drop table T1_BKP", "ALTER TABLE T1 DROP COLUMN OLD"}));
        if (kept) {
            tString text;
            EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
            EXPECT_NE(std::string(text.GetText()).find("Backup table [T1_BKP] kept"),
                      std::string::npos)
                << text.GetText();
        }
    }
}

TEST_P(CloudScape, StatementBindsTextAndReadsWithinTheBuffer) {
    auto conn = Connected();
    tCloudScapeStmt stmt(conn.get());
    const char memo[] = "it's a memo";
    ASSERT_TRUE(stmt.ExecParam("UPDATE T1 SET NOTE = ? WHERE R_E_C_N_O_ = 3", memo, 11, 0));
    const std::vector<RecOdbcParam> params = rec.LastExecutedParams();
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(params[0].cType, SQL_C_CHAR);
    EXPECT_EQ(params[0].sqlType, SQL_CHAR);
    EXPECT_EQ(params[0].columnSize, 11u);
    EXPECT_EQ(params[0].bufferLength, 11);
    EXPECT_EQ(params[0].indicator, 11);
    EXPECT_EQ(std::string(params[0].bytes, 11), memo);
    rec.WarnNext("UPDATE T1 SET NOTE*", "01004", 0, "String data, right truncated");
    EXPECT_FALSE(stmt.ExecParam("UPDATE T1 SET NOTE = ? WHERE R_E_C_N_O_ = 3", memo, 11, 0));

    tCloudScapeStmt unopened(conn.get());
    char buffer[4] = "xyz";
    i32 length = 4;
    EXPECT_FALSE(unopened.GetData(1, buffer, length));
    EXPECT_EQ(length, 4);

    Rows("SELECT NOTE FROM T1", {"NOTE"}, {{"abcdefghij"}});
    stmt.SetRetrieveData(0);
    ASSERT_TRUE(stmt.ExecDirect("SELECT NOTE FROM T1", "test", 1));
    ASSERT_TRUE(stmt.Fetch());
    auto small = std::make_unique<char[]>(4);  // ASan sees a write past it
    length = 4;
    ASSERT_TRUE(stmt.GetData(1, small.get(), length));
    EXPECT_EQ(length, 3);
    EXPECT_STREQ(small.get(), "abc");
    EXPECT_TRUE(stmt.IsDataTruncated());
}

TEST_P(CloudScape, DuplicateKeysAndTheRecordNumberKey) {
    auto conn = Connected();
    EXPECT_TRUE(conn->IsDuplicateKey(-1));
    EXPECT_FALSE(conn->IsDuplicateKey(-17002));
    tTableDefinitionExclusive def("T1", "RECDSN");
    rec.FailNext("INSERT*", "23505", -1,
                 "The statement was aborted because it would have caused a duplicate key value "
                 "in a unique or primary key constraint for key 1");
    std::unique_ptr<tStatement> stmt(conn->NewStatement());
    EXPECT_FALSE(stmt->ExecDirect("INSERT INTO ADMIN.T1 VALUES (1)", "test", 1));
    EXPECT_TRUE(conn->IsRecnoKeyError(def));
    rec.FailNext("INSERT*", "23505", -1, "duplicate key value for key 2");
    EXPECT_FALSE(stmt->ExecDirect("INSERT INTO ADMIN.T1 VALUES (1)", "test", 1));
    EXPECT_FALSE(conn->IsRecnoKeyError(def));
}

INSTANTIATE_TEST_SUITE_P(Modes, CloudScape, ::testing::Bool(), gmtest::ODBCModeName);

class CloudScapeFilter : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    CloudScapeFilter() : file(&conn, def, reply, session.threadId) {}
    tCloudScapeISAMFile file;
};

TEST_F(CloudScapeFilter, WholeFiltersUseTheDialectsForms) {
    const struct {
        const char* filter;
        std::string sql;
    } cases[] = {
        {"NOME *EQ \"it's\"", "NOME = 'it' || CHAR(39) || 's'"},
        {"NOME *EQ \"'a\"", "NOME =  CHAR(39) || 'a'"},
        {"NOME *EQ \"a''\"", "NOME = 'a' || CHAR(39) ||  CHAR(39)"},
        // Control characters and high bytes stay in the literal.
        {"NOME *EQ \"a\x01\xe9"
         "b\"",
         "NOME = 'a\x01\xe9"
         "b'"},
        {"NOME *CT 'ab'", "LOCATE('ab',NOME)>0 "},
        {"'ab' *CT CIDADE", "LOCATE(CIDADE,'ab')>0 "},
        {"%SST(NOME 2 3) *EQ 'abc'", " SUBSTRING(NOME,2,3) = 'abc'"},
        {"%SST(NOME 3) *EQ 'ab'", " SUBSTRING(NOME,3,8) = 'ab'"},
        {"%SST(NOME 11) *EQ 'ab'", "(fallback)"},
        {"%SST('abc' 2) *EQ 'b'", "(fallback)"},
        {"LOWER(NOME) *EQ 'x'", "(fallback)"},
        {"TRIM(NOME) *EQ 'x'", "(fallback)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(gmtest::TranslateFilter(file, c.filter), c.sql);
    }
    EXPECT_EQ(conn.GetRowCount(), 40);
}

}  // namespace
