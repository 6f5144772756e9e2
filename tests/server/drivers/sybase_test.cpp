// The Sybase connection over the recording driver, in both ODBC modes: the two dialect forms
// that the DBMS version chooses, the isolation statement, how the catalogue's answers fill a
// definition, the DDL texts and the row limit.
#include "server/drivers/sybase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "server/tables/dbtable.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using gmtest::Lines;

constexpr const char* kOldIsolation = "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED";
constexpr const char* kNewIsolation = "SET TRANSACTION ISOLATION LEVEL 0";
constexpr const char* kPrimaryKey =
    "ALTER TABLE dbo.T1 ADD CONSTRAINT T1_PK PRIMARY KEY CLUSTERED (R_E_C_N_O_)";

// The catalogue texts of T1 with the NOLOCK word of an old server, or without it.
struct tCatalogTexts {
    explicit tCatalogTexts(bool old) : nolock(old ? "NOLOCK " : "") {}
    std::string ColumnCount() const {
        return "SELECT COUNT(*) from dbo.syscolumns " + nolock + " where id = object_id ('dbo.T1')";
    }
    std::string Columns() const {
        return "SELECT name, type, length from syscolumns " + nolock +
               " where id = object_id('dbo.T1') order by colid ASC";
    }
    std::string IndexCount() const {
        return "SELECT count(*) from dbo.sysindexes " + nolock +
               " where id = object_id ('dbo.T1') and indid <> 0 ";
    }
    std::string nolock;
};

constexpr const char* kIndexRows =
    "SELECT x.name, i.colid from sysindexes x, syscolumns c, syscolumns i where "
    "x.id=object_id ('dbo.T1') and (x.id=c.id) and (x.id=i.id) and (c.colid<=keycnt) and "
    "(i.name=INDEX_COL('dbo.T1',x.indid,c.colid)) order by x.name, c.colid ASC";

class SybaseConnection : public gmtest::RecordedODBC {
protected:
    std::unique_ptr<tSybaseConnection> Make() {
        return std::make_unique<tSybaseConnection>("SYBASE", tString("RECDSN"), tString("gm"),
                                                   tString("pw"), loader);
    }
    // A connection to a server of that version; the log of its connect is cleared.
    std::unique_ptr<tSybaseConnection> Connected(const char* version = "12.5") {
        rec.SetInfoText(SQL_DBMS_VER, version);
        auto conn = Make();
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    void ScriptNumber(const std::string& sql, const char* value) {
        rec.AddResult(sql.c_str());
        rec.AddColumn("N", SQL_INTEGER, 10, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue(value);
    }
    // A syscolumns answer: name, type code, length per row.
    void ScriptColumns(const tCatalogTexts& texts,
                       const std::vector<std::vector<const char*>>& rows) {
        ScriptNumber(texts.ColumnCount(), std::to_string(rows.size()).c_str());
        rec.AddResult(texts.Columns().c_str());
        rec.AddColumn("name", SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        rec.AddColumn("type", SQL_INTEGER, 10, 0, SQL_NULLABLE);
        rec.AddColumn("length", SQL_INTEGER, 10, 0, SQL_NULLABLE);
        for (const auto& row : rows) {
            rec.AddRow();
            for (const char* value : row) rec.AddValue(value);
        }
    }
};

TEST_P(SybaseConnection, VersionChoosesNoLockAndTheIsolationStatement) {
    const struct {
        const char* version;
        bool old;
        const char* isolation;
    } cases[] = {{"12.5", true, kOldIsolation},
                 {"15.7", false, kNewIsolation},
                 {"14.9.2", true, kOldIsolation},
                 {"16.0 SP02", false, kNewIsolation}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        rec.Reset();
        rec.SetInfoText(SQL_DBMS_VER, c.version);
        auto conn = Make();
        ASSERT_TRUE(conn->Connect());
        EXPECT_EQ(rec.Statements(), Lines({c.isolation}));
        EXPECT_EQ(conn->GetDBVersion(), std::atoi(c.version));
        rec.ClearLog();
        const tCatalogTexts texts(c.old);
        const std::string nolock = texts.nolock;
        tString list;
        conn->ListTables(list);
        EXPECT_EQ(std::string(list.GetText()),
                  "SELECT name FNAMF1 FROM sysobjects " + nolock +
                      " WHERE sysstat & 0xf in (3) and name not like '#%' and name not like "
                      "'%FK' ORDER BY name");
        EXPECT_FALSE(conn->CanOpen("T1", nullptr));
        EXPECT_FALSE(conn->CanOpen("T1", "T1_1"));
        EXPECT_FALSE(conn->SPExist("gml_proc"));
        tTableDefinitionExclusive def("T1", "RECDSN");
        ScriptNumber(texts.ColumnCount(), "0");
        ScriptNumber(texts.IndexCount(), "0");
        EXPECT_FALSE(conn->DescribeTable(def));
        EXPECT_TRUE(conn->DescribeIndexes(def));
        EXPECT_EQ(conn->GetRecCount("T1"), -1.0);
        EXPECT_EQ(
            rec.Statements(),
            Lines({"SELECT name FROM sysobjects " + nolock + "WHERE name = 'T1'",
                   "SELECT name FROM sysindexes " + nolock +
                       "WHERE name = 'T1_1' AND indid > 0 AND indid < 255",
                   "SELECT name FROM sysobjects " + nolock +
                       " WHERE type = 'P' and name = 'GML_PROC'",
                   texts.ColumnCount(), texts.IndexCount(), kPrimaryKey,
                   std::string("SELECT MAX(R_E_C_N_O_) FROM dbo.T1") + (c.old ? " NOLOCK " : "")}));
    }
}

TEST_P(SybaseConnection, IsolationIsLeftAloneWithoutForceIsolationAndAnUnknownVersionIsOld) {
    process.SetIni("SYBASE", "ForceIsolation", "0");
    auto conn = Connected();
    rec.Reset();
    rec.SetInfoText(SQL_DBMS_VER, "15.7");
    auto other = Make();
    ASSERT_TRUE(other->Connect());
    EXPECT_EQ(rec.Statements(), std::string());
    EXPECT_EQ(other->GetDBVersion(), 15);

    process.SetIni("SYBASE", "ForceIsolation", "1");
    rec.Reset();
    rec.SetInfoText(SQL_DBMS_VER, nullptr);  // the driver does not tell
    auto unknown = Make();
    ASSERT_TRUE(unknown->Connect());
    EXPECT_EQ(unknown->GetDBVersion(), 0);
    EXPECT_EQ(rec.Statements(), Lines({kOldIsolation}));
}

TEST_P(SybaseConnection, DescribeTableMapsTypeCodesAndKeepsReservedColumnsOutOfTheRecord) {
    auto conn = Connected();
    const tCatalogTexts texts(true);
    ScriptColumns(texts, {{"PHOTO", "34", "16"},
                          {"BIN", "37", "200"},
                          {"CODE", "47", "8"},
                          {"NAME", "39", "20"},
                          {"TINY", "48", "1"},
                          {"SMALL", "52", "2"},
                          {"QTY", "56", "4"},
                          {"PRICE", "62", "8"},
                          {"NOTE", "35", "16"},
                          {"R_E_C_N_O_", "56", "4"},
                          {"R_E_C_D_E_L_", "56", "4"},
                          {"D_E_L_E_T_", "39", "1"}});
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    gmtest::ExpectFields(def, {{"PHOTO", 'M', 10, 0, true},
                               {"BIN", 'M', 10, 0, true},
                               {"CODE", 'X', 0, 0, false},
                               {"NAME", 'C', 20, 0, true},
                               {"TINY", 'N', 15, 6, true},
                               {"SMALL", 'N', 15, 6, true},
                               {"QTY", 'N', 15, 6, true},
                               {"PRICE", 'N', 15, 6, true},
                               {"NOTE", 'X', 0, 0, false},
                               {"R_E_C_N_O_", 'N', 15, 6, false},
                               {"R_E_C_D_E_L_", 'N', 15, 6, false},
                               {"D_E_L_E_T_", 'C', 1, 0, true}});
    const std::string printed = console->Get();
    EXPECT_TRUE(Contains(printed,
                         "[WARNING] (tSybaseConnection::DescribeTable) Table [T1] unsupported "
                         "field [CODE] type [47].\n"));
    EXPECT_TRUE(Contains(printed, "unsupported field [NOTE] type [35].\n"));
    EXPECT_FALSE(Contains(printed, "[NAME]"));

    // A count of 0 is a table the catalogue does not know: the columns are not asked.
    rec.ClearLog();
    ScriptNumber(texts.ColumnCount(), "0");
    tTableDefinitionExclusive missing("T1", "RECDSN");
    EXPECT_FALSE(conn->DescribeTable(missing));
    EXPECT_EQ(rec.Statements(), Lines({texts.ColumnCount()}));
    rec.ClearLog();
    // A name that is no identifier never reaches the SQL.
    tTableDefinitionExclusive badName("T1;DROP", "RECDSN");
    EXPECT_FALSE(conn->DescribeTable(badName));
    EXPECT_FALSE(conn->DescribeIndexes(badName));
    EXPECT_FALSE(conn->CanOpen("T1'--", nullptr));
    EXPECT_FALSE(conn->CanOpen("T1", "I' OR '1'='1"));
    EXPECT_FALSE(conn->SPExist("P'; DROP TABLE T1 --"));
    EXPECT_EQ(conn->GetRecCount("T1 WHERE 1=0"), -1.0);
    EXPECT_EQ(rec.Statements(), std::string());
}

class SybaseIndexes : public SybaseConnection {
protected:
    void SetUp() override {
        SybaseConnection::SetUp();
        // Column ids 1 to 4.
        def.AddField("A", 'C', 10, 0, true, true);
        def.AddField("B", 'N', 15, 6, true, true);
        def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        def.AddField("R_E_C_N_O_", 'N', 15, 6, false, true);
    }
    // The index count, then the INDEX_COL rows (index name, column id).
    void ScriptIndexes(const std::vector<std::pair<const char*, const char*>>& rows) {
        ScriptNumber(texts.IndexCount(), rows.empty() ? "1" : std::to_string(rows.size()).c_str());
        rec.AddResult(kIndexRows);
        rec.AddColumn("name", SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        rec.AddColumn("colid", SQL_SMALLINT, 5, 0, SQL_NULLABLE);
        for (const auto& row : rows) {
            rec.AddRow();
            rec.AddValue(row.first);
            rec.AddValue(row.second);
        }
    }
    static std::string IndexText(const tTableDefinition& def) {
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
    const tCatalogTexts texts{true};
    tTableDefinitionExclusive def{"T1", "RECDSN"};
};

TEST_P(SybaseIndexes, KeysComeFromColumnIdsWithoutTheDeletedMark) {
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> rows;
        std::string indexes;
        bool addsKey;
        const char* warning;  // null: none
    } cases[] = {
        {"indexes and the record-number key",
         {{"T1_1", "1"}, {"T1_1", "3"}, {"T1_2", "2"}, {"T1_2", "1"}, {"T1_PK", "4"}},
         "T1_1:0, T1_2:1,0, ",
         false,
         nullptr},
        {"the record-number key alone", {{"T1_PK", "4"}}, "", false, nullptr},
        {"record number and deletion mark", {{"T1_R", "4"}, {"T1_R", "3"}}, "", false, nullptr},
        {"a column outside the definition",
         {{"T1_1", "1"}, {"T1_GONE", "2"}, {"T1_GONE", "9"}, {"T1_GONE", "1"}, {"T1_PK", "4"}},
         "T1_1:0, ",
         false,
         "[WARNING] (tSybaseConnection::DescribeIndexes) Table [T1] index [T1_GONE] column [9] "
         "NOT FOUND - INDEX IGNORED.\n"},
        {"indexes counted but none listed",
         {},
         "",
         true,
         "[WARNING] (tSybaseConnection::DescribeIndexes) NO INDEXES FOUND for table T1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.Reset();
        auto conn = Connected();
        ScriptIndexes(c.rows);
        console.reset();
        console = std::make_unique<gmtest::ConsoleCapture>();
        tTableDefinitionExclusive fresh("T1", "RECDSN");
        fresh.CopyFrom(def);
        EXPECT_TRUE(conn->DescribeIndexes(fresh));
        EXPECT_EQ(IndexText(fresh), c.indexes);
        std::vector<std::string> statements = {texts.IndexCount(), kIndexRows};
        if (c.addsKey) statements.push_back(kPrimaryKey);
        EXPECT_EQ(rec.Statements(), Lines(statements));
        const std::string printed = console->Get();
        if (c.warning) {
            EXPECT_TRUE(Contains(printed, c.warning)) << printed;
        } else {
            EXPECT_FALSE(Contains(printed, "WARNING")) << printed;
        }
    }
}

TEST_P(SybaseIndexes, TableWithoutIndexesGetsTheClusteredKeyQuietly) {
    auto conn = Connected();
    ScriptNumber(texts.IndexCount(), "0");
    EXPECT_TRUE(conn->DescribeIndexes(def));
    EXPECT_EQ(def.GetIndexCount(), 0);
    EXPECT_EQ(rec.Statements(), Lines({texts.IndexCount(), kPrimaryKey}));
    EXPECT_FALSE(Contains(console->Get(), "WARNING"));
    rec.ClearLog();
    rec.FailNext(texts.IndexCount().c_str(), "42000", 208, "sysindexes not found");
    EXPECT_FALSE(conn->DescribeIndexes(def));
    EXPECT_EQ(rec.Statements(), Lines({texts.IndexCount(), kPrimaryKey}));
}

TEST_P(SybaseConnection, DDLTextsAndTheRowLimit) {
    auto conn = Connected();
    tTableDefinitionExclusive def("T1", "RECDSN");
    def.AddField("NAME", 'C', 3, 0, true, true);
    def.AddField("PRICE", 'N', 12, 2, true, true);
    def.AddField("WHEN", 'D', 8, 0, true, true);
    def.AddField("OK", 'L', 1, 0, true, true);
    def.AddField("PIC", 'M', 10, 0, true, true);
    def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    const std::string create =
        "CREATE TABLE dbo.T1(NAME VARCHAR(3) DEFAULT '   ',PRICE FLOAT DEFAULT 0,WHEN "
        "VARCHAR(8) DEFAULT '        ',OK VARCHAR(1) DEFAULT 'F',PIC IMAGE NULL,D_E_L_E_T_ "
        "VARCHAR(1) DEFAULT ' ',R_E_C_N_O_ INT DEFAULT 0)";
    tString sql;
    conn->CreateTable(def, sql);
    EXPECT_EQ(std::string(sql.GetText()), create);
    process.SetIni("SYBASE", "TableSpace", "DATA1");
    conn->CreateTable(def, sql);
    EXPECT_EQ(std::string(sql.GetText()), create + " ON DATA1");

    tString index("CREATE INDEX T1_1 ON dbo.T1(NAME)");
    conn->IndexSpaceClause(index, 1);
    EXPECT_STREQ(index, "CREATE INDEX T1_1 ON dbo.T1(NAME)");
    process.SetIni("SYBASE", "IndexSpace", "IDX1");
    conn->IndexSpaceClause(index, 0);
    EXPECT_STREQ(index, "CREATE INDEX T1_1 ON dbo.T1(NAME) ON [IDX1]");
    conn->DropIndex(sql, "T1", "T1_1");
    EXPECT_STREQ(sql, "DROP INDEX T1.T1_1");
    EXPECT_TRUE(conn->AddPrimaryKey(sql, "T1"));
    EXPECT_STREQ(sql, kPrimaryKey);
    EXPECT_STREQ(conn->GetOwner(), "dbo.");
    for (i32 code : {2601, 2627}) EXPECT_TRUE(conn->IsDuplicateKey(code)) << code;
    for (i32 code : {0, 2600, 50000}) EXPECT_FALSE(conn->IsDuplicateKey(code)) << code;
    EXPECT_FALSE(conn->IsMemoAsBlob());

    EXPECT_TRUE(conn->SetRowCount(40));
    EXPECT_TRUE(conn->SetRowCount(40));
    rec.FailNext("SET ROWCOUNT 0", "42000", 1, "refused");
    EXPECT_FALSE(conn->SetRowCount(0));
    EXPECT_EQ(conn->GetRowCount(), 0);
    EXPECT_TRUE(conn->ClearTable("T1"));
    EXPECT_FALSE(conn->ClearTable("T1;DROP TABLE X"));
    EXPECT_TRUE(conn->CreateGMLParam());
    const char* param =
        "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION Smallint not "
        "null, PARAM_VALUE VarChar(50) not null)";
    EXPECT_EQ(rec.Statements(),
              Lines({"SET ROWCOUNT 40", "SET ROWCOUNT 0", "TRUNCATE TABLE T1", param,
                     "create unique index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )"}));
    rec.ClearLog();
    rec.FailNext(param, "42S01", 2714, "There is already an object named 'GML_PARAM'");
    EXPECT_FALSE(conn->CreateGMLParam());
    EXPECT_EQ(rec.Statements(), Lines({param}));
}

INSTANTIATE_TEST_SUITE_P(Modes, SybaseConnection, ::testing::Bool(), gmtest::ODBCModeName);
INSTANTIATE_TEST_SUITE_P(Modes, SybaseIndexes, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
