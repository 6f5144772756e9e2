// The SQL Server connection over the recording driver, in both ODBC modes: the connect sequence
// and the versions it accepts, the AnsiNPW removal once per data source, the check-up block, the
// catalogue texts and how their answers fill a definition, the DDL texts, and the pool of child
// connections.
#include "server/drivers/mssql.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/support/tempdir.h"

namespace {

constexpr const char* kVersionQuery = "select substring(@@version,charindex('-',@@version)+2,2)";
constexpr const char* kProductVersionQuery =
    "select CONVERT(varchar(128),SERVERPROPERTY('ProductVersion')) as DB_INFO";
constexpr const char* kSpidQuery = "SELECT @@SPID AS PARAM_SESSION";
constexpr const char* kIsolation = "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED";
constexpr const char* kParamDelete = "DELETE FROM GML_PARAM WHERE PARAM_SESSION = @@SPID";
constexpr const char* kColumnsQuery =
    "SELECT c.name, t.type, c.length , c.isnullable , c.cdefault , c.status from syscolumns c , "
    "systypes t WHERE c.id = object_id('dbo.T1') AND c.xusertype = t.xusertype ORDER BY colid "
    "ASC";
constexpr const char* kIndexesQuery =
    "SELECT x.name as indexname, c.name as fieldname from sysindexes x, syscolumns c , "
    "sysindexkeys k where x.id = object_id('dbo.T1') AND c.id = x.id AND k.id = x.id AND c.colid "
    "= k.colid AND k.indid = x.indid  AND x.indid BETWEEN 1 AND 254 AND SUBSTRING(x.name,1,1) != "
    "'_' AND INDEXPROPERTY(x.id, x.name, 'IsStatistics') = 0 AND INDEXPROPERTY(x.id, x.name, "
    "'IsAutoStatistics') = 0 ORDER BY x.indid, k.keyno";
constexpr const char* kPrimaryKey =
    "ALTER TABLE dbo.T1 ADD CONSTRAINT T1_PK PRIMARY KEY CLUSTERED (R_E_C_N_O_)";

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class MSSQLConnection : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        RecordedODBC::SetUp();
        plat::SetRegistryFile(registry);
    }
    void TearDown() override { plat::SetRegistryFile(""); }

    std::unique_ptr<tMSSQLConnection> Make(const std::string& dsn = "RECDSN") {
        return std::make_unique<tMSSQLConnection>("MSSQL", tString(dsn.c_str()), tString("gm"),
                                                  tString("pw"), loader);
    }
    // A connected connection; the log of its connect is cleared.
    std::unique_ptr<tMSSQLConnection> Connected(const char* version = "8.") {
        ScriptSession(version);
        auto conn = Make();
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    void ScriptText(const char* sql, const char* value) {
        rec.AddResult(sql);
        rec.AddColumn("DB_INFO", SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue(value);
    }
    void ScriptNumber(const char* sql, const char* value) {
        rec.AddResult(sql);
        rec.AddColumn("N", SQL_INTEGER, 10, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue(value);
    }
    void ScriptSession(const char* version, const char* spid = "53") {
        ScriptText(kVersionQuery, version);
        ScriptNumber(kSpidQuery, spid);
    }
    // A syscolumns answer: name, systypes.type, length, isnullable, cdefault, status per row.
    void ScriptColumns(const std::vector<std::vector<const char*>>& rows) {
        rec.AddResult(kColumnsQuery);
        rec.AddColumn("name", SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        for (const char* column : {"type", "length", "isnullable", "cdefault", "status"}) {
            rec.AddColumn(column, SQL_INTEGER, 10, 0, SQL_NULLABLE);
        }
        for (const auto& row : rows) {
            rec.AddRow();
            for (const char* value : row) rec.AddValue(value);
        }
    }
    void ScriptIndexes(const std::vector<std::pair<const char*, const char*>>& rows) {
        rec.AddResult(kIndexesQuery);
        rec.AddColumn("indexname", SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        rec.AddColumn("fieldname", SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        for (const auto& row : rows) {
            rec.AddRow();
            rec.AddValue(row.first);
            rec.AddValue(row.second);
        }
    }
    std::string Console() { return console->Get(); }

    gmtest::TempDir dir;
    const std::string registry = dir.File("registry.ini");
};

TEST_P(MSSQLConnection, ConnectReadsVersionAndSessionThenReadsUncommitted) {
    ScriptSession("8.", "53");
    auto conn = Make();
    tString before;
    conn->GetSessionID(before);
    EXPECT_STREQ(before, "(SPID: ) ");
    EXPECT_FALSE(conn->IsMemoAsBlob());
    ASSERT_TRUE(conn->Connect());
    EXPECT_EQ(rec.Statements(), Lines({kVersionQuery, kSpidQuery, kIsolation}));
    EXPECT_EQ(conn->GetDBVersion(), 8);
    tString id;
    conn->GetSessionID(id);
    EXPECT_STREQ(id, "(SPID: 53) ");
    EXPECT_TRUE(conn->IsMemoAsBlob());
    EXPECT_STREQ(conn->GetOwner(), "dbo.");
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(MSSQLConnection, ServersFromVersion7OnConnectAndABuildTagFallsBackToProductVersion) {
    const struct {
        const char* banner;
        const char* productVersion;  // null: not asked
        bool connects;
        i16 version;
    } cases[] = {{"6.", nullptr, false, 6},
                 {"7.", nullptr, true, 7},
                 {"10", nullptr, true, 10},
                 {"U2", "15.0.4322.2", true, 15},  // "(RTM-CU22) ... - 15.0.4322.2"
                 {"TM", "6.50.201", false, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.banner);
        rec.Reset();
        process.ClearLog();
        ScriptText(kVersionQuery, c.banner);
        if (c.productVersion) ScriptText(kProductVersionQuery, c.productVersion);
        rec.AddResult(kSpidQuery);
        rec.AddColumn("PARAM_SESSION", SQL_SMALLINT, 5, 0, SQL_NO_NULLS);
        rec.AddRow();
        rec.AddValue("61");
        auto conn = Make();
        EXPECT_EQ(conn->Connect(), c.connects);
        EXPECT_EQ(conn->GetDBVersion(), c.version);
        EXPECT_TRUE(conn->IsConnected());  // a refused server's session ends with the object
        const std::string statements = rec.Statements();
        EXPECT_EQ(Contains(statements, kProductVersionQuery), c.productVersion != nullptr);
        EXPECT_EQ(Contains(statements, kIsolation), c.connects);
        if (c.connects) {
            EXPECT_TRUE(process.LogEntries().empty());
        } else {
            tString line;
            line.sprintf("[ERROR] MSSQL - RECDSN - VERSION %i NOT SUPPORTED.\n", c.version);
            EXPECT_EQ(process.LogEntries(), std::vector<std::string>{line.GetText()});
        }
    }
}

TEST_P(MSSQLConnection, FailedSessionQueriesFailTheConnectWithTheirLogLines) {
    const struct {
        const char* failing;
        const char* line;
    } cases[] = {{kVersionQuery, "[ERROR] MSSQL - RECDSN - Unable to get @@version value.\n"},
                 {kSpidQuery, "[ERROR] MSSQL - RECDSN - Unable to get @@SPID value.\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        rec.Reset();
        process.ClearLog();
        rec.FailNext(c.failing, "42000", 208, "Invalid object name.");
        ScriptSession("8.");
        auto conn = Make();
        EXPECT_FALSE(conn->Connect());
        const std::vector<std::string> log = process.LogEntries();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_TRUE(Contains(log[0], "Invalid object name."));
        EXPECT_EQ(log[1], c.line);
        EXPECT_FALSE(Contains(rec.Statements(), kIsolation));
    }
}

TEST_P(MSSQLConnection, FirstConnectToADataSourceRemovesItsAnsiNPWOnlyOnce) {
    const std::string dsn = std::string("AnsiDsn") + (GetParam() ? "3" : "1");
    const std::string section = "SOFTWARE\\ODBC\\ODBC.INI\\" + dsn;
    const std::string keep = "[" + section + "]\r\nDriver=x.so\r\n";
    gmtest::WriteFileText(registry, "[" + section + "]\r\nAnsiNPW=Yes\r\nDriver=x.so\r\n");
    EXPECT_FALSE(tMSSQLConnection::IsDSNChecked(dsn.c_str()));
    ScriptSession("8.");
    ASSERT_TRUE(Make(dsn)->Connect());
    EXPECT_EQ(gmtest::ReadFileText(registry), keep);
    EXPECT_TRUE(tMSSQLConnection::IsDSNChecked(dsn.c_str()));

    gmtest::WriteFileText(registry, "[" + section + "]\r\nAnsiNPW=Yes\r\nDriver=x.so\r\n");
    std::string lower = dsn;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    ScriptSession("8.");
    ASSERT_TRUE(Make(lower)->Connect());
    EXPECT_EQ(plat::RegistryReadString(section.c_str(), "AnsiNPW", ""), "Yes");
}

TEST_P(MSSQLConnection, CheckUpBlockListsServerValuesAndCollationFromVersion8) {
    for (const char* version : {"7.", "8."}) {
        SCOPED_TRACE(version);
        rec.Reset();
        auto conn = Connected(version);
        ScriptText(
            "select CONVERT(varchar(128),DATABASEPROPERTYEX('RECDSN','Collation')) as DB_INFO",
            "Latin1_General_CI_AS");
        ScriptText("SELECT @@version as DB_INFO", "Microsoft SQL Server 2000 - 8.00.2039\n");
        rec.FailNext("SELECT @@SERVERNAME as DB_INFO", "42000", 1, "no name");
        ScriptText("select CONVERT(varchar(128),SERVERPROPERTY('Collation')) as DB_INFO", "SQLC");
        ScriptText("select CONVERT(varchar(128),SERVERPROPERTY('Edition')) as DB_INFO", "Std");
        ScriptText(kProductVersionQuery, "8.00.2039");
        ScriptText("select CONVERT(varchar(128),SERVERPROPERTY('ProductLevel')) as DB_INFO", "SP4");
        tString report;
        conn->InitialCheckUp(report);
        const std::string collation =
            version[0] == '8' ? "DB Collation..: Latin1_General_CI_AS\n" : "";
        const std::string expected =
            "--------------- Initial Connection Check-Up ---------------\n"
            "Database......: MSSQL\nEnvironment...: RECDSN\nTableSpace....: \nIndexSpace....: \n" +
            collation +
            "DB Version....: \n\tMicrosoft SQL Server 2000 - 8.00.2039\n"
            "SQL ServerName: *** NOT AVAILABLE ***\nSQL Collation.: SQLC\nSQL Edition...: Std\n"
            "SQL Version...: 8.00.2039\nSQL P.Level...: SP4\n"
            "-----------------------------------------------------------\n\n"
            "--------------- ODBC Connection Check-Up ------------------\n";
        EXPECT_EQ(std::string(report.GetText()).substr(0, expected.size()), expected);
        EXPECT_EQ(Contains(rec.Statements(), "DATABASEPROPERTYEX"), version[0] == '8');
    }
}

TEST_P(MSSQLConnection, DescribeTableMapsTypesAndWarnsAboutColumnsItCannotServe) {
    auto conn = Connected();
    ScriptNumber(
        "select count(*) from syscolumns where name = 'R_E_C_N_O_' and id = object_id( 'T1' ) "
        "and status & 128 in (128)",
        "0");
    ScriptColumns({{"PHOTO", "34", "16", "1", "0", "0"},
                   {"BIN", "37", "200", "1", "0", "0"},
                   {"NOTE", "35", "16", "1", "0", "0"},
                   {"BIG", "39", "-1", "1", "0", "0"},
                   {"NAME", "39", "30", "0", "1", "0"},
                   {"TINY", "48", "1", "0", "1", "0"},
                   {"SMALL", "52", "2", "0", "1", "0"},
                   {"QTY", "56", "4", "1", "0", "0"},
                   {"PRICE", "62", "8", "0", "1", "0"},
                   {"WHEN", "61", "8", "0", "1", "0"},
                   {"R_E_C_N_O_", "62", "8", "0", "1", "0"},
                   {"R_E_C_D_E_L_", "56", "4", "0", "1", "0"}});
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    const struct {
        const char* name;
        u8 type;
        i16 length;
        u16 decimals;
        bool isData;
    } expected[] = {{"PHOTO", 'M', 10, 0, true},       {"BIN", 'M', 10, 0, true},
                    {"NOTE", 'M', 11, 0, true},        {"BIG", 'M', 11, 0, true},
                    {"NAME", 'C', 30, 0, true},        {"TINY", 'N', 15, 6, true},
                    {"SMALL", 'N', 15, 6, true},       {"QTY", 'N', 15, 6, true},
                    {"PRICE", 'N', 15, 6, true},       {"WHEN", 'X', 0, 0, false},
                    {"R_E_C_N_O_", 'N', 15, 6, false}, {"R_E_C_D_E_L_", 'N', 15, 6, false}};
    ASSERT_EQ(def.GetFieldCount(), 12);
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        SCOPED_TRACE(field.GetName());
        EXPECT_STREQ(field.GetName(), expected[i].name);
        EXPECT_EQ(field.GetType(), expected[i].type);
        EXPECT_EQ(field.GetLen(), expected[i].length);
        EXPECT_EQ(field.GetDecimals(), expected[i].decimals);
        EXPECT_EQ(field.IsData(), expected[i].isData);
    }
    EXPECT_FALSE(def.IsAutoRecno());
    const std::string console = Console();
    for (const char* line :
         {"[WARNING] (tMSSQLConnection::DescribeTable) Table [T1] UNSUPPORTED FIELD [WHEN] "
          "type [  61] - IGNORED.\n",
          "[WARNING] (tMSSQLConnection::DescribeTable) ACCEPT NULL in table [T1] field [QTY] "
          "type [  56].\n",
          "[WARNING] (tMSSQLConnection::DescribeTable) DEFAULT CONSTRAINT UNDEFINED in table "
          "[T1] field [QTY] type [  56].\n",
          "[WARNING] (tMSSQLConnection::DescribeTable) EXPECTED INTEGER field on table [T1] "
          "field [R_E_C_N_O_] type [  62].\n"}) {
        EXPECT_TRUE(Contains(console, line)) << line;
    }
    EXPECT_FALSE(Contains(console, "field [PHOTO]"));  // memos take NULL and no default
    EXPECT_FALSE(Contains(console, "field [NAME]"));
}

TEST_P(MSSQLConnection, IdentityRecnoMarksTheDefinition) {
    auto conn = Connected();
    ScriptColumns(
        {{"NAME", "39", "10", "0", "1", "0"}, {"R_E_C_N_O_", "56", "4", "0", "0", "128"}});
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    EXPECT_TRUE(def.IsAutoRecno());
    const std::string console = Console();
    EXPECT_TRUE(Contains(console, "[INFO] Table [T1] using IDENTITY field [R_E_C_N_O_].\n"));
    EXPECT_FALSE(Contains(console, "WARNING"));  // an identity needs no default
}

TEST_P(MSSQLConnection, DescribeTableFailsForAMissingTableOrOneWithoutSupportedColumns) {
    auto conn = Connected();
    ScriptColumns({{"WHEN", "61", "8", "0", "1", "0"}, {"CODE", "47", "8", "0", "1", "0"}});
    tTableDefinitionExclusive unsupported("T1", "RECDSN");
    EXPECT_FALSE(conn->DescribeTable(unsupported));
    EXPECT_TRUE(Contains(Console(), "Table [T1] DOES NOT HAVE ANY SUPPORTED COLUMN.\n"));
    EXPECT_TRUE(Contains(Console(), "UNSUPPORTED FIELD [CODE]"));

    ScriptColumns({});
    tTableDefinitionExclusive missing("T1", "RECDSN");
    EXPECT_FALSE(conn->DescribeTable(missing));
    EXPECT_TRUE(Contains(Console(), "Table [T1] NOT FOUND IN DATABASE.\n"));

    tTableDefinitionExclusive badName("T1;DROP", "RECDSN");
    rec.ClearLog();
    EXPECT_FALSE(conn->DescribeTable(badName));
    EXPECT_STREQ(rec.Statements(), "");
}

class MSSQLIndexes : public MSSQLConnection {
protected:
    void SetUp() override {
        MSSQLConnection::SetUp();
        def.AddField("A", 'C', 10, 0, true, true);
        def.AddField("B", 'N', 15, 6, true, true);
        def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        def.AddField("R_E_C_N_O_", 'N', 15, 6, false, true);
    }
    std::string IndexText() const {
        std::string text;
        for (i32 i = 0; i < def.GetIndexCount(); ++i) {
            const tIndexDefinition& index = *def.GetIndex(i);
            text += std::string(index.GetName()) + ":";
            for (i32 k = 0; k < index.GetFieldCount(); ++k) {
                text += std::to_string(index.GetField(k)) + ",";
            }
            text += " ";
        }
        return text;
    }
    tTableDefinitionExclusive def{"T1", "RECDSN"};
};

TEST_P(MSSQLIndexes, RecnoAndDeletedIndexIsTheRecordNumberIndexAndRunsNoDDL) {
    auto conn = Connected();
    ScriptIndexes({{"T1_1", "A"},
                   {"T1_1", "D_E_L_E_T_"},
                   {"T1_2", "B"},
                   {"T1_2", "A"},
                   {"T1_REC", "R_E_C_N_O_"},
                   {"T1_REC", "D_E_L_E_T_"}});
    EXPECT_TRUE(conn->DescribeIndexes(def));
    EXPECT_EQ(IndexText(), "T1_1:0, T1_2:1,0, ");
    EXPECT_EQ(rec.Statements(), Lines({kIndexesQuery}));
}

TEST_P(MSSQLIndexes, MissingRecordNumberIndexIsAddedAsThePrimaryKey) {
    const struct {
        bool viewEnabled;
        bool keyFails;
        bool answer;
    } cases[] = {{false, false, true}, {false, true, false}, {true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.viewEnabled) + std::to_string(c.keyFails));
        process.SetIni("MSSQL", "ViewEnabled", c.viewEnabled ? "1" : "0");
        rec.Reset();
        auto conn = Connected();
        ScriptIndexes({{"T1_1", "A"}});
        if (c.keyFails) rec.FailNext(kPrimaryKey, "42000", 1779, "already has a primary key");
        tTableDefinitionExclusive fresh("T1", "RECDSN");
        fresh.CopyFrom(def);
        EXPECT_EQ(conn->DescribeIndexes(fresh), c.answer);
        EXPECT_EQ(rec.Statements(), Lines({kIndexesQuery, kPrimaryKey}));
        EXPECT_EQ(fresh.GetIndexCount(), 1);
    }
}

TEST_P(MSSQLIndexes, IndexOverAColumnTheDefinitionLacksIsLeftOut) {
    auto conn = Connected();
    ScriptIndexes({{"T1_1", "A"},
                   {"T1_GONE", "B"},
                   {"T1_GONE", "ZZ"},
                   {"T1_GONE", "A"},
                   {"T1_2", "B"},
                   {"T1_REC", "R_E_C_N_O_"}});
    EXPECT_TRUE(conn->DescribeIndexes(def));
    EXPECT_EQ(IndexText(), "T1_1:0, T1_2:1, ");
    EXPECT_TRUE(Contains(Console(),
                         "[WARNING] (tMSSQLConnection::DescribeIndexes) Table [T1] index "
                         "[T1_GONE] field [ZZ] NOT FOUND - INDEX IGNORED.\n"));
}

TEST_P(MSSQLIndexes, NoIndexAtAllIsReportedAndGetsThePrimaryKey) {
    auto conn = Connected();
    ScriptIndexes({});
    EXPECT_TRUE(conn->DescribeIndexes(def));
    EXPECT_EQ(def.GetIndexCount(), 0);
    EXPECT_TRUE(
        Contains(Console(),
                 "[WARNING] (tMSSQLConnection::DescribeIndexes) NO INDEXES FOUND for table T1\n"));
    EXPECT_EQ(rec.Statements(), Lines({kIndexesQuery, kPrimaryKey}));
}

TEST_P(MSSQLConnection, ProbesAskTheSystemTablesQuietly) {
    const struct {
        bool viewEnabled;
        const char* table;
        const char* index;
        std::vector<std::string> statements;
    } cases[] = {
        {false,
         "T1",
         nullptr,
         {"SELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = object_id('T1')"}},
        {true,
         "T1",
         "",
         {"SELECT name FROM sysobjects WHERE sysstat & 0xf IN (2,3) AND id = object_id('T1')"}},
        {false,
         "T1",
         "T1_1",
         {"SELECT name FROM sysindexes WHERE name = 'T1_1' AND indid > 0 AND indid < 255"}},
        {true,
         "T1",
         "T1_1",
         {"SELECT name FROM sysobjects WHERE sysstat & 0xf IN (2) AND id = object_id('T1')",
          "SELECT name FROM sysindexes WHERE name = 'T1_1' AND indid > 0 AND indid < 255"}},
        {false, "T1'--", nullptr, {}},
        {false, "T1", "I 1", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table + std::string("/") + (c.index ? c.index : "null"));
        process.SetIni("MSSQL", "ViewEnabled", c.viewEnabled ? "1" : "0");
        rec.Reset();
        auto conn = Connected();
        for (const std::string& sql : c.statements) {
            rec.FailNext(sql.c_str(), "42S02", 208, "Invalid object name");
        }
        EXPECT_FALSE(conn->CanOpen(c.table, c.index));
        EXPECT_EQ(rec.Statements(), Lines(c.statements));
        EXPECT_TRUE(process.LogEntries().empty());
    }
    process.SetIni("MSSQL", "ViewEnabled", "0");
    rec.Reset();
    auto conn = Connected();
    ScriptText("SELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = object_id('T1')",
               "T1");
    EXPECT_TRUE(conn->CanOpen("T1", nullptr));
    ScriptText("SELECT name FROM sysobjects WHERE type = 'P' and name = 'GML_PROC'", "GML_PROC");
    EXPECT_TRUE(conn->SPExist("gml_proc"));
    EXPECT_FALSE(conn->SPExist("OTHER"));
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(MSSQLConnection, CountsAndListsReadTheCatalogue) {
    process.SetIni("MSSQL", "ViewEnabled", "1");
    auto conn = Connected();
    tString list;
    conn->ListTables(list);
    EXPECT_STREQ(list,
                 "SELECT name FNAMF1 FROM sysobjects WHERE sysstat & 0xf in (2,3) and name not "
                 "like '#%' and name not like '%FK' ORDER BY name");
    ScriptNumber("SELECT MAX(R_E_C_N_O_) FROM dbo.T1", "812");
    EXPECT_EQ(conn->GetRecCount("T1"), 812.0);
    rec.FailNext("SELECT MAX(R_E_C_N_O_) FROM dbo.T2", "42S02", 208, "Invalid object name");
    EXPECT_EQ(conn->GetRecCount("T2"), -1.0);
    ScriptNumber(
        "select count(*) from syscolumns where name = 'R_E_C_N_O_' and id = object_id( 'T1' ) "
        "and isnullable = 1",
        "1");
    EXPECT_TRUE(conn->RecnoAcceptNull("T1"));
    ScriptNumber(
        "select count(*) from syscolumns where name = 'R_E_C_N_O_' and id = object_id( 'T1' ) "
        "and status & 128 in (128)",
        "0");
    EXPECT_FALSE(conn->IsAutoRecno("T1"));
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(MSSQLConnection, CreateTableWritesTypesDefaultsAndTheIdentityUnderAutoRecno) {
    auto conn = Connected();
    tTableDefinitionExclusive def("T1", "RECDSN");
    def.AddField("NAME", 'C', 3, 0, true, true);
    def.AddField("PRICE", 'N', 12, 2, true, true);
    def.AddField("WHEN", 'D', 8, 0, true, true);
    def.AddField("OK", 'L', 1, 0, true, true);
    def.AddField("PIC", 'M', 10, 0, true, true);
    def.AddField("NOTE", 'M', 11, 0, true, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    tString sql;
    conn->CreateTable(def, sql);
    EXPECT_STREQ(sql,
                 "CREATE TABLE dbo.T1(NAME VARCHAR(3) NOT NULL CONSTRAINT T1_NAME_DF DEFAULT "
                 "'   ',PRICE FLOAT NOT NULL CONSTRAINT T1_PRICE_DF DEFAULT 0,WHEN VARCHAR(8) NOT "
                 "NULL CONSTRAINT T1_WHEN_DF DEFAULT '        ',OK VARCHAR(1) NOT NULL CONSTRAINT "
                 "T1_OK_DF DEFAULT 'F',PIC IMAGE,NOTE TEXT,R_E_C_N_O_ INT NOT NULL CONSTRAINT "
                 "T1_R_E_C_N_O__DF DEFAULT 0)");
    process.SetIni("MSSQL", "AutoRecnoT1", "1");
    process.SetIni("MSSQL", "TableSpace", "DATA1");
    conn->CreateTable(def, sql);
    EXPECT_TRUE(Contains(sql.GetText(), ",R_E_C_N_O_ INT NOT NULL IDENTITY (1,1)) ON DATA1"));
    EXPECT_TRUE(Contains(Console(), "[INFO] Table T1 using R_E_C_N_O_ as Identity Field.\n"));
    tString key;
    EXPECT_TRUE(conn->AddPrimaryKey(key, "T1"));
    EXPECT_STREQ(key, kPrimaryKey);
}

TEST_P(MSSQLConnection, ParamTableIndexIsCreatedOnlyAfterItsTable) {
    const char* create =
        "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION Smallint not "
        "null, PARAM_VALUE VarChar(50) not null)";
    const char* index = "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )";
    auto conn = Connected();
    EXPECT_TRUE(conn->CreateGMLParam());
    EXPECT_EQ(rec.Statements(), Lines({create, index}));
    rec.ClearLog();
    rec.FailNext(create, "42S01", 2714, "There is already an object named 'GML_PARAM'");
    EXPECT_FALSE(conn->CreateGMLParam());
    EXPECT_EQ(rec.Statements(), Lines({create}));
}

TEST_P(MSSQLConnection, ChildrenComeFromThePoolAndDieWithTheirMainConnection) {
    auto conn = Connected();
    ScriptSession("8.", "54");
    std::unique_ptr<tTSQLConnection> child = conn->TakeChild();
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->IsConnected());
    EXPECT_TRUE(child->IsMemoAsBlob());
    EXPECT_EQ(rec.CountCalls("SQLConnect"), 1);
    tTSQLConnection* served = child.get();
    conn->AddBusyChild(child.release());
    EXPECT_EQ(conn->Count(), 1);
    conn->ReleaseChild(served);
    EXPECT_EQ(conn->Count(), 0);
    EXPECT_EQ(conn->GetPool()->Count(), 1);

    rec.ClearLog();
    std::unique_ptr<tTSQLConnection> again = conn->TakeChild();
    EXPECT_EQ(again.get(), served);
    EXPECT_EQ(conn->GetPool()->Count(), 0);
    EXPECT_EQ(rec.CountCalls("SQLConnect"), 0);
    conn->ReleaseChild(again.release());

    rec.ClearLog();
    conn.reset();  // the pool goes with it, and the idle child with the pool
    EXPECT_EQ(rec.Statements(), Lines({kParamDelete, kParamDelete}));
    EXPECT_EQ(rec.CountCalls("SQLDisconnect"), 2);
}

TEST_P(MSSQLConnection, ChildThatCannotConnectIsNotHandedOut) {
    auto conn = Connected();
    rec.FailNext("SQLConnect", "08001", 17, "Server does not exist");
    EXPECT_FALSE(conn->TakeChild());
    EXPECT_EQ(conn->GetPool()->Count(), 0);
}

TEST_P(MSSQLConnection, SessionParamRowsAreDeletedOnlyWithIsamConnectionOn) {
    for (const char* isam : {"1", "0"}) {
        SCOPED_TRACE(isam);
        process.SetIni("MSSQL", "IsamConnection", isam);
        rec.Reset();
        auto conn = Connected();
        conn.reset();
        EXPECT_EQ(rec.Statements(), isam[0] == '1' ? Lines({kParamDelete}) : "");
        EXPECT_EQ(rec.CountCalls("SQLDisconnect"), 1);
    }
    rec.Reset();
    Make().reset();  // never connected: nothing runs
    EXPECT_STREQ(rec.Statements(), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, MSSQLConnection, ::testing::Bool(), gmtest::ODBCModeName);
INSTANTIATE_TEST_SUITE_P(Modes, MSSQLIndexes, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
