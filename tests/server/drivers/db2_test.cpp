// The DB2 connection over the recording driver: the connect with the DBMS version and the
// application id, the session's GML_PARAM rows, the catalogue texts upper-cased with the user as
// schema, columns and indexes described from SYSCAT, and the DDL texts with their storage
// clauses.
#include "server/drivers/db2.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/tables/dbtable.h"
#include "tests/server/support/db2conn.h"
#include "tests/server/support/odbcdialect.h"

namespace {

using gmtest::Lines;

constexpr const char* kCount =
    "SELECT COUNT(COLNAME) FROM SYSCAT.COLUMNS WHERE (TABSCHEMA = 'ADMIN' AND TABNAME = 'T1')";
constexpr const char* kColumns =
    "SELECT COLNAME,TYPENAME,LENGTH FROM SYSCAT.COLUMNS WHERE (TABSCHEMA = 'ADMIN' AND TABNAME "
    "= 'T1') ORDER BY COLNO FOR READ ONLY";
constexpr const char* kIndexCount =
    "SELECT COUNT(DISTINCT INDNAME) FROM SYSCAT.INDEXES WHERE TABNAME = 'T1' AND TABSCHEMA = "
    "'ADMIN' FOR READ ONLY";
constexpr const char* kRecnoIndex =
    "CREATE UNIQUE INDEX T1_PK ON T1(R_E_C_N_O_ ASC)  PCTFREE 10 MINPCTUSED 10 ALLOW REVERSE "
    "SCANS";
constexpr const char* kPrimaryKey = "ALTER TABLE ADMIN.T1 ADD PRIMARY KEY (R_E_C_N_O_)";

std::string IndexRows(bool colNames) {
    return std::string("SELECT INDNAME,IID,REVERSE_SCANS") + (colNames ? ",COLNAMES" : "") +
           " FROM SYSCAT.INDEXES WHERE TABNAME = 'T1' AND TABSCHEMA = 'ADMIN' FOR READ ONLY";
}

std::string IndexColumns(const char* index) {
    return std::string(
               "SELECT COLNAME FROM SYSCAT.INDEXCOLUSE  WHERE INDSCHEMA = 'ADMIN' AND INDNAME = "
               "'") +
           index + "' ORDER BY COLSEQ FOR READ ONLY";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using DB2 = gmtest::RecordedDB2;

TEST_P(DB2, ConnectReadsTheVersionAndTheApplicationId) {
    auto conn = Connected("09.07.0000");
    EXPECT_DOUBLE_EQ(conn->GetDBMSVersion(), 9.07);
    EXPECT_STREQ(conn->GetOwner(), "ADMIN.");
    tString session;
    conn->GetSessionID(session);
    EXPECT_STREQ(session.GetText(), "(DB2ID: *LOCAL.DB2.1) ");

    rec.SetInfoText(SQL_DBMS_VER, nullptr);  // unanswered: the version stays 0
    auto unversioned = Connected(nullptr);
    EXPECT_EQ(unversioned->GetDBMSVersion(), 0.0);
}

TEST_P(DB2, ConnectWithoutAnApplicationIdDisconnectsAndFails) {
    auto conn = Make();
    EXPECT_FALSE(conn->Connect());
    EXPECT_FALSE(conn->IsConnected());
    EXPECT_EQ(rec.CountCalls("SQLDisconnect"), 1);
    const std::vector<std::string> log = process.LogEntries();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(
        Contains(log.back(), "[ERROR] DB2 - RECDSN - Unable to get APPLICATION_ID() value."))
        << log.back();
}

TEST_P(DB2, ProbesAreUpperCasedWholeAndQuiet) {
    auto conn = Connected();
    const char* table =
        "SELECT TABNAME FROM SYSCAT.TABLES WHERE TABNAME = 'ORDERS' AND TABSCHEMA = 'ADMIN' FOR "
        "READ ONLY";
    const char* index =
        "SELECT INDNAME FROM SYSCAT.INDEXES WHERE TABSCHEMA = 'ADMIN' AND INDNAME = 'ORDERS_1' FOR "
        "READ ONLY";
    const char* routine =
        "SELECT ROUTINENAME FROM SYSIBM.SYSROUTINES WHERE ROUTINESCHEMA = 'ADMIN' AND ROUTINENAME "
        "= 'MSCALC' FOR READ ONLY";
    const char* quoted =
        "SELECT TABNAME FROM SYSCAT.TABLES WHERE TABNAME = 'O''X' AND TABSCHEMA = 'ADMIN' FOR READ "
        "ONLY";
    Rows(table, {"TABNAME"}, {{"ORDERS"}});
    EXPECT_TRUE(conn->CanOpen("orders", nullptr));
    Rows(index, {"INDNAME"}, {{"ORDERS_1"}});
    EXPECT_TRUE(conn->CanOpen("orders", "orders_1"));
    Rows(routine, {"ROUTINENAME"}, {{"MSCALC"}});
    EXPECT_TRUE(conn->SPExist("msCalc"));
    EXPECT_FALSE(conn->CanOpen("o'x", ""));  // no row
    rec.FailNext(table, "42704", -204, "ADMIN.ORDERS is an undefined name.");
    EXPECT_FALSE(conn->CanOpen("Orders", nullptr));
    EXPECT_EQ(std::string(rec.Statements()), Lines({table, index, routine, quoted, table}));
    EXPECT_TRUE(process.LogEntries().empty());

    tString sql;
    conn->ListTables(sql);
    EXPECT_STREQ(sql.GetText(),
                 "SELECT TABNAME FNAMF1 FROM SYSCAT.TABLES WHERE (TYPE = 'T' AND TABSCHEMA = "
                 "'ADMIN' AND TABNAME NOT LIKE '%FK' ) ORDER BY TABNAME FOR READ ONLY");
}

TEST_P(DB2, RecnoAcceptNullComparesTheNameAsGiven) {
    auto conn = Connected();
    const char* upper =
        "select nulls from sysibm.syscolumns where tbname = 'T1' and name = 'R_E_C_N_O_'";
    Rows(upper, {"NULLS"}, {{"y"}});
    EXPECT_TRUE(conn->RecnoAcceptNull("T1"));
    Rows(upper, {"NULLS"}, {{"N"}});
    EXPECT_FALSE(conn->RecnoAcceptNull("T1"));
    Rows(upper, {"NULLS"}, {{"Y"}});
    EXPECT_FALSE(conn->RecnoAcceptNull("t1"));  // its own text, not scripted: no row
    EXPECT_EQ(rec.Pending(), 1);
    EXPECT_TRUE(Contains(rec.Statements(), "where tbname = 't1'"));
}

TEST_P(DB2, DescribeTableMapsTheTypeNames) {
    auto conn = Connected();
    Rows(kCount, {"N"}, {{"9"}});
    Rows(kColumns, {"COLNAME", "TYPENAME", "LENGTH"},
         {{"CODE", "VARCHAR", "10"},
          {"NOTE", "LONG VARCHAR", "32700"},
          {"PIC", "BLOB", "1048576"},
          {"TEXT", "CLOB", "1048576"},
          {"PRICE", "DOUBLE", "8"},
          {"QTY", "INTEGER", "4"},
          {"WHEN", "TIMESTAMP", "10"},
          {"R_E_C_N_O_", "INTEGER", "4"},
          {"R_E_C_D_E_L_", "INTEGER", "4"}});
    tTableDefinitionExclusive def("t1", "RECDSN");  // the catalogue text is upper-cased
    ASSERT_TRUE(conn->DescribeTable(def));
    gmtest::ExpectFields(def, {{"CODE", 'C', 10, 0, true},
                               {"NOTE", 'M', 10, 0, true},
                               {"PIC", 'M', 10, 0, true},
                               {"TEXT", 'M', 11, 0, true},
                               {"PRICE", 'N', 15, 6, true},
                               {"QTY", 'N', 15, 6, true},
                               {"WHEN", 'X', 0, 0, false},
                               {"R_E_C_N_O_", 'N', 15, 6, false},
                               {"R_E_C_D_E_L_", 'N', 15, 6, false}});
    EXPECT_TRUE(Contains(console->Get(),
                         "[WARNING] (tDB2Connection::DescribeTable) Table [T1] unsupported field "
                         "[WHEN] type [TIMESTAMP].\n"))
        << console->Get();
    EXPECT_EQ(rec.Pending(), 0);

    for (const char* count :
         {static_cast<const char*>("0"),
          static_cast<const char*>(nullptr)}) {  // no column, and a failed count
        if (count) {
            Rows(kCount, {"N"}, {{count}});
        } else {
            rec.FailNext(kCount, "42000", -104, "no");
        }
        tTableDefinitionExclusive none("T1", "RECDSN");
        EXPECT_FALSE(conn->DescribeTable(none));
    }
}

TEST_P(DB2, IndexesReadTheirKeysByVersion) {
    for (const bool old : {true, false}) {
        SCOPED_TRACE(old ? "08.02" : "09.01");
        rec.Reset();
        auto conn = Connected(old ? "08.02.0000" : "09.01.0000");
        tTableDefinitionExclusive def("T1", "RECDSN");
        ScriptT1(*conn, def);
        Rows(kIndexCount, {"N"}, {{"3"}});
        if (old) {
            Rows(IndexRows(true).c_str(), {"INDNAME", "IID", "REVERSE_SCANS", "COLNAMES"},
                 {{"T1_1", "1", "Y", "+CODE+NAME+D_E_L_E_T_"},
                  {"T1_PK", "7", "N", "+R_E_C_N_O_+D_E_L_E_T_"},
                  {"T1_2", "2", "N", "+NAME"}});
        } else {
            Rows(IndexRows(false).c_str(), {"INDNAME", "IID", "REVERSE_SCANS"},
                 {{"T1_1", "1", "Y"}, {"T1_PK", "7", "N"}, {"T1_2", "2", "N"}});
            Rows(IndexColumns("T1_1").c_str(), {"COLNAME"}, {{"CODE"}, {"NAME"}, {"D_E_L_E_T_"}});
            Rows(IndexColumns("T1_PK").c_str(), {"COLNAME"}, {{"R_E_C_N_O_"}, {"D_E_L_E_T_"}});
            Rows(IndexColumns("T1_2").c_str(), {"COLNAME"}, {{"NAME"}});
        }
        ASSERT_TRUE(conn->DescribeIndexes(def));
        ASSERT_EQ(def.GetIndexCount(), 2);
        const tIndexDefinition& first = *def.GetIndex(0);
        EXPECT_STREQ(first.GetName(), "T1_1");
        EXPECT_TRUE(first.IsReverse());
        ASSERT_EQ(first.GetFieldCount(), 2);
        EXPECT_EQ(first.GetField(0), 0);
        EXPECT_EQ(first.GetField(1), 2);
        EXPECT_FALSE(def.GetIndex(1)->IsReverse());
        EXPECT_EQ(def.GetRecnoIndexID(), 7);
        EXPECT_EQ(rec.Pending(), 0);
        EXPECT_FALSE(Contains(rec.Statements(), "CREATE UNIQUE INDEX"));  // the key exists
        EXPECT_EQ(Contains(rec.Statements(), "INDEXCOLUSE"), !old);

        // A duplicate on the record-number index names its IID.
        std::unique_ptr<tStatement> stmt(conn->NewStatement());
        rec.FailNext("INSERT*", "23505", -803,
                     "One or more values in the INSERT statement are not valid because the "
                     "primary key, unique constraint or unique index identified by \"7\" "
                     "constrains table \"ADMIN.T1\" from having duplicate values.");
        EXPECT_FALSE(stmt->ExecDirect("INSERT INTO ADMIN.T1 VALUES (1)", "test", 1));
        EXPECT_TRUE(conn->IsRecnoKeyError(def));
        rec.FailNext("INSERT*", "23505", -803, "... identified by \"1\" constrains ...");
        EXPECT_FALSE(stmt->ExecDirect("INSERT INTO ADMIN.T1 VALUES (1)", "test", 1));
        EXPECT_FALSE(conn->IsRecnoKeyError(def));
    }
}

TEST_P(DB2, KeysNamingNoFieldLeaveTheirIndexOut) {
    auto conn = Connected("08.02.0000");
    tTableDefinitionExclusive def("T1", "RECDSN");
    ScriptT1(*conn, def);
    Rows(kIndexCount, {"N"}, {{"3"}});
    Rows(IndexRows(true).c_str(), {"INDNAME", "IID", "REVERSE_SCANS", "COLNAMES"},
         {{"T1_1", "1", "N", "+CODE-NAME"},  // descending part
          {"T1_2", "2", "N", "+CODE+GONE"},  // no such field
          {"T1_3", "3", "N", "+NAME+CODE"}});
    ASSERT_TRUE(conn->DescribeIndexes(def));
    ASSERT_EQ(def.GetIndexCount(), 1);
    EXPECT_STREQ(def.GetIndex(0)->GetName(), "T1_3");
    for (const char* skipped : {"index [T1_1] skipped", "index [T1_2] skipped"}) {
        EXPECT_TRUE(Contains(console->Get(), skipped)) << console->Get();
    }
    // No record-number index: it is made, with the primary key.
    EXPECT_TRUE(Contains(rec.Statements(), Lines({kRecnoIndex, kPrimaryKey}))) << rec.Statements();
}

TEST_P(DB2, TableWithoutIndexesGetsTheRecordNumberKey) {
    auto conn = Connected();
    tTableDefinitionExclusive def("T1", "RECDSN");
    Rows(kIndexCount, {"N"}, {{"0"}});
    EXPECT_TRUE(conn->DescribeIndexes(def));
    rec.FailNext(kIndexCount, "42000", -104, "no");
    EXPECT_FALSE(conn->DescribeIndexes(def));  // and still made
    EXPECT_EQ(std::string(rec.Statements()), Lines({kIndexCount, kRecnoIndex, kPrimaryKey,
                                                    kIndexCount, kRecnoIndex, kPrimaryKey}));
    EXPECT_EQ(def.GetIndexCount(), 0);
}

TEST_P(DB2, SessionParametersAreKeyedByTheApplicationId) {
    auto conn = Connected();
    const char* probe =
        "SELECT PARAM_NAME FROM GML_PARAM WHERE PARAM_NAME = 'ALIAS' AND PARAM_SESSION = "
        "'*LOCAL.DB2.1'";
    Rows(probe, {"PARAM_NAME"}, {{"ALIAS"}});
    EXPECT_TRUE(conn->SetParam("ALIAS", "o'neil"));
    EXPECT_TRUE(conn->SetParam("ALIAS", "x"));
    rec.FailNext("INSERT*", "42704", -204, "GML_PARAM is an undefined name.");
    EXPECT_FALSE(conn->SetParam("ALIAS", "y"));
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({probe,
                     "UPDATE GML_PARAM SET PARAM_VALUE = 'o''neil' WHERE PARAM_NAME = 'ALIAS' AND "
                     "PARAM_SESSION = '*LOCAL.DB2.1'",
                     probe,
                     "INSERT INTO GML_PARAM(PARAM_NAME,PARAM_VALUE,PARAM_SESSION) "
                     "VALUES('ALIAS','x','*LOCAL.DB2.1')",
                     probe,
                     "INSERT INTO GML_PARAM(PARAM_NAME,PARAM_VALUE,PARAM_SESSION) "
                     "VALUES('ALIAS','y','*LOCAL.DB2.1')"}));
    EXPECT_TRUE(process.LogEntries().empty());  // quiet

    EXPECT_TRUE(conn->IsDuplicateKey(-803));
    EXPECT_FALSE(conn->IsDuplicateKey(-1));
    EXPECT_TRUE(conn->IsMemoAsBlob());
}

TEST_P(DB2, DestructorDeletesTheSessionRowsOfAConnectedIsamConnection) {
    const char* deleteRows = "DELETE FROM GML_PARAM WHERE PARAM_SESSION = '*LOCAL.DB2.1'";
    const struct {
        const char* name;
        bool isam;
        bool connected;
        bool deletes;
    } cases[] = {
        {"connected", true, true, true},
        {"not an ISAM connection", false, true, false},
        {"disconnected", true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        process.SetIni("DB2", "IsamConnection", c.isam ? "1" : "0");
        auto conn = Connected();
        if (!c.connected) conn->Disconnect();
        rec.ClearLog();
        rec.FailNext(deleteRows, "42704", -204, "GML_PARAM is an undefined name.");
        conn.reset();
        EXPECT_EQ(Contains(rec.Statements(), deleteRows), c.deletes);
        EXPECT_EQ(rec.CountCalls("SQLDisconnect"), c.connected ? 1 : 0);
        if (!c.deletes) rec.Reset();  // the failure that nobody met
        EXPECT_TRUE(process.LogEntries().empty());
    }
}

TEST_P(DB2, DDLTexts) {
    auto conn = Connected();
    tTableDefinitionExclusive def("T1", "RECDSN");
    gmtest::AddDDLFields(def);
    def.AddField("TEXT", 'M', 11, 0, true, true);
    tString sql;
    conn->CreateTable(def, sql);
    EXPECT_EQ(std::string(sql.GetText()),
              "CREATE TABLE ADMIN.T1(CODE VARCHAR(300) NOT NULL  DEFAULT '" +
                  std::string(252, ' ') +
                  "',NOTE BLOB,PRICE DOUBLE NOT NULL  DEFAULT 0.0,OK VARCHAR(1) NOT NULL  DEFAULT "
                  "'F',DT VARCHAR(8) NOT NULL  DEFAULT '        ',ODD  NOT NULL ,R_E_C_N_O_ "
                  "INTEGER NOT NULL  DEFAULT 0,TEXT CLOB)");
    sql = "";
    tDB2Connection::ColumnDefinition(sql, "A1", 'C', 3);
    EXPECT_STREQ(sql.GetText(), "A1 VARCHAR(3) NOT NULL  DEFAULT '   '");
    EXPECT_TRUE(conn->AddPrimaryKey(sql, "T1"));
    EXPECT_STREQ(sql.GetText(), kPrimaryKey);
    sql = "CREATE INDEX T1_1 ON ADMIN.T1(CODE)";
    conn->IndexSpaceClause(sql, 0);
    EXPECT_STREQ(sql.GetText(), "CREATE INDEX T1_1 ON ADMIN.T1(CODE) ALLOW REVERSE SCANS");

    rec.ClearLog();
    conn->GetRecnoIndex("T1", sql);
    EXPECT_STREQ(sql.GetText(), kPrimaryKey);  // for the caller to run
    Rows("SELECT MAX(R_E_C_N_O_) FROM ADMIN.T1", {"M"}, {{"42"}});
    EXPECT_EQ(conn->GetRecCount("t1"), 42.0);
    EXPECT_EQ(conn->GetRecCount("T1"), -1.0);  // no row
    EXPECT_EQ(conn->GetRecCount("T1;DROP"), -1.0);
    EXPECT_TRUE(conn->ClearTable("t1"));
    EXPECT_FALSE(conn->ClearTable("T1 X"));
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({kRecnoIndex, "SELECT MAX(R_E_C_N_O_) FROM ADMIN.T1",
                     "SELECT MAX(R_E_C_N_O_) FROM ADMIN.T1", "DELETE FROM ADMIN.T1"}));
}

TEST_P(DB2, StorageClausesComeFromTheConfiguration) {
    const std::string param =
        "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION VarChar(50) not "
        "null, PARAM_VALUE VarChar(50) not null)";
    const char* paramIndex = "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )";
    const struct {
        const char* name;
        const char* section;
        const char* partKey;
        const char* tableSpace;
        const char* indexSpace;
        std::string clauses;  // after the table's ")"
        bool warned;
    } cases[] = {
        {"none", "DB2", "", "", "", "", false},
        {"both spaces", "DB2/RECDSN", "", "TS1", "IX1", " IN TS1 INDEX IN IX1", false},
        {"partitioned", "General", "PARTITIONING KEY (R_E_C_N_O_)", "TS1", "",
         " PARTITIONING KEY (R_E_C_N_O_)  IN TS1", false},
        {"an index space alone", "DB2", "", "", "IX1", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* section : {"DB2/RECDSN", "DB2", "General"}) {
            process.SetIni(section, "PartKey", "");
            process.SetIni(section, "TableSpace", "");
            process.SetIni(section, "IndexSpace", "");
        }
        process.SetIni(c.section, "PartKey", c.partKey);
        process.SetIni(c.section, "TableSpace", c.tableSpace);
        process.SetIni(c.section, "IndexSpace", c.indexSpace);
        console.reset();
        console = std::make_unique<gmtest::ConsoleCapture>();
        auto conn = Connected();
        tTableDefinitionExclusive def("T1", "RECDSN");
        def.AddField("A1", 'C', 3, 0, true, true);
        tString sql;
        conn->CreateTable(def, sql);
        EXPECT_EQ(std::string(sql.GetText()),
                  "CREATE TABLE ADMIN.T1(A1 VARCHAR(3) NOT NULL  DEFAULT '   ')" + c.clauses);
        EXPECT_TRUE(conn->CreateGMLParam());
        const std::string spaces = c.partKey[0] ? " IN TS1" : c.clauses;  // no PartKey here
        EXPECT_EQ(std::string(rec.Statements()), Lines({param + spaces, paramIndex}));
        EXPECT_EQ(Contains(console->Get(),
                           "[WARNING] (tDB2Connection::GetIndexSpace) Tablespace "
                           "key is not defined in gatemill.ini\n"),
                  c.warned)
            << console->Get();
    }
    rec.FailNext("create table GML_PARAM*", "42710", -601, "exists");
    EXPECT_FALSE(Connected()->CreateGMLParam());
    EXPECT_FALSE(Contains(rec.Statements(), paramIndex));
}

INSTANTIATE_TEST_SUITE_P(Modes, DB2, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
