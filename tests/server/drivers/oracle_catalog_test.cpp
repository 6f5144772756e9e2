// The Oracle connection's catalogue and DDL over the recording OCI library: the catalogue texts
// of both forms and both server generations, tables and indexes described into definitions,
// golden DDL texts, the in-place alteration's statement plans and the rebuild through
// <table>_BKP.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "server/drivers/oracle.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

using Texts = std::vector<std::string>;

constexpr const char* kBanner9 = "Oracle9i Enterprise Edition Release 9.2.0.1.0 - Production";
constexpr const char* kBanner7 = "Oracle7 Server Release 7.3.4.0.0 - Production";

// The SQL texts that reached the library, in order: each parse (OCI 7) or prepare (OCI 8).
Texts Statements(const std::string& calls) {
    Texts out;
    std::istringstream in(calls);
    std::string line;
    while (std::getline(in, line)) {
        for (const std::string prefix : {"oparse(", "OCIStmtPrepare("}) {
            if (line.rfind(prefix, 0) != 0) continue;
            std::string text = line.substr(prefix.size(), line.rfind(")=") - prefix.size());
            text.erase(text.rfind(','));  // the two numbers after the text
            text.erase(text.rfind(','));
            out.push_back(text);
        }
    }
    return out;
}

// The statements that change something: the catalogue and count reads left out.
Texts Changes(const Texts& all) {
    Texts kept;
    for (const std::string& sql : all) {
        if (sql.rfind("SELECT", 0) != 0 && sql.rfind("select", 0) != 0) kept.push_back(sql);
    }
    return kept;
}

std::string Blanks(size_t n) { return std::string(n, ' '); }

struct Action {
    const char* name;
    u8 oldType;
    u16 oldLength;
    u8 newType;
    u16 newLength;
    u16 flags;
};

class OracleCatalog : public ::testing::Test {
protected:
    void SetUp() override {
        home.Client("oci.dll");
        process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
    }

    // A connection over the OCI generation given, reading the SYS tables or the DBA views, on
    // a server whose version banner is given; the call log starts empty.
    std::unique_ptr<tOracleConnection> Connected(int oci = 8, bool sysTables = true,
                                                 const char* banner = kBanner9) {
        process.SetIni("Oracle", "OCIVersion", oci == 8 ? "8" : "7");
        auto conn = std::make_unique<tOracleConnection>("ORACLE", tString("PROD"),
                                                        tString("scott"), tString("tiger"),
                                                        sysTables);
        conn->SetUseSysTables(sysTables);
        conn->SetTableOwner("scott");
        EXPECT_TRUE(conn->Connect());
        Script("select * from v$version", {"BANNER"}, {{banner}});
        conn->GetVersion();
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    // A result of text columns for the statements that match the pattern.
    void Script(const char* pattern, const std::vector<const char*>& columns,
                const std::vector<std::vector<const char*>>& rows) {
        rec.AddResult(pattern);
        for (const char* c : columns) rec.AddColumn(c, 1, 80);
        for (const auto& row : rows) {
            rec.AddRow();
            for (const char* v : row) rec.AddValue(v);
        }
    }
    void ScriptNumber(const char* pattern, const char* value) {
        Script(pattern, {"N"}, {{value}});
    }
    // T1: A C 10, PRICE N, B C 10, D_E_L_E_T_, R_E_C_N_O_; indexes T1_1 (A), T1_2 (PRICE, B)
    // and the primary key T1_PK.
    void ScriptStructure() {
        ScriptNumber("SELECT MAX(COL#)*", "5");
        Script("SELECT C.NAME*", {"NAME", "DATA_TYPE", "LENGTH"},
               {{"A", "CHAR", "10"},
                {"PRICE", "NUMBER", "22"},
                {"B", "CHAR", "10"},
                {"D_E_L_E_T_", "CHAR", "1"},
                {"R_E_C_N_O_", "NUMBER", "22"}});
        ScriptNumber("SELECT COUNT(OBJ.NAME)*", "3");
        Script("SELECT OBJI.NAME*", {"INDEX_NAME", "COLUMN_NAME"},
               {{"T1_1", "A"}, {"T1_2", "PRICE"}, {"T1_2", "B"}, {"T1_PK", "R_E_C_N_O_"}});
    }
    static void Fill(tArray<tActionField>& list, const std::vector<Action>& actions) {
        for (const Action& a : actions) {
            auto* f = new tActionField(a.name, a.newType, a.newLength, 0);
            f->oldType = a.oldType;
            f->oldLength = a.oldLength;
            f->actions = a.flags;
            list.Add(f);
        }
    }
    Texts Sql() const { return Statements(rec.Calls()); }
    std::string Console() const { return gmtest::WithoutLogEcho(console.Get()); }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
};

TEST_F(OracleCatalog, CatalogueTextsFollowTheFormAndTheServerVersion) {
    using Run = void (*)(tOracleConnection&);
    const Run canOpen = [](tOracleConnection& c) { EXPECT_FALSE(c.CanOpen("t1", nullptr)); };
    const Run canOpenIndex = [](tOracleConnection& c) { EXPECT_FALSE(c.CanOpen("x", "t1_1")); };
    const Run spExist = [](tOracleConnection& c) { EXPECT_FALSE(c.SPExist("p1")); };
    const Run listTables = [](tOracleConnection& c) {
        tString sql;
        c.ListTables(sql);
        std::unique_ptr<tStatement>(c.NewStatement())->ExecDirect(sql, "test", 1);
    };
    const Run describe = [](tOracleConnection& c) {
        tTableDefinitionExclusive def("t1", "PROD");
        EXPECT_FALSE(c.DescribeTable(def));
    };
    const Run indexes = [](tOracleConnection& c) {
        tTableDefinitionExclusive def("t1", "PROD");
        c.DescribeIndexes(def);
    };
    const std::string owned = " AND OWNER# = USERENV('SCHEMAID') AND ";
    const struct {
        const char* label;
        bool sysTables;
        const char* banner;
        Run run;
        std::string first;  // the first statement the operation runs
    } cases[] = {
        {"table 9", true, kBanner9, canOpen,
         "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T1'" + owned + "TYPE# IN (2,3,4)"},
        {"table 7", true, kBanner7, canOpen,
         "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T1'" + owned + "TYPE IN (2,3,4)"},
        {"table views", false, kBanner9, canOpen,
         "SELECT * FROM DBA_TABLES WHERE TABLE_NAME = 'T1' AND OWNER ='SCOTT'"},
        {"index 9", true, kBanner9, canOpenIndex,
         "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T1_1'" + owned + "TYPE# = 1"},
        {"index views", false, kBanner9, canOpenIndex,
         "SELECT INDEX_NAME FROM DBA_INDEXES WHERE INDEX_NAME = 'T1_1' AND TABLE_OWNER = "
         "'SCOTT'"},
        {"procedure 7", true, kBanner7, spExist,
         "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'P1'" + owned + "TYPE = 7"},
        {"procedure views", false, kBanner9, spExist,
         "SELECT OBJECT_NAME FROM DBA_OBJECTS WHERE OWNER = 'SCOTT' AND OBJECT_TYPE IN "
         "('PROCEDURE', 'FUNCTION' ) AND OBJECT_NAME = 'P1'"},
        {"list", true, kBanner7, listTables,
         "SELECT TABLE_NAME FNAMF1 FROM SYS.USER_TABLES WHERE TABLE_NAME NOT LIKE '%FK' ORDER BY "
         "TABLE_NAME"},
        {"list views", false, kBanner9, listTables,
         "SELECT TABLE_NAME FNAMF1 FROM DBA_TABLES WHERE OWNER ='SCOTT' AND TABLE_NAME NOT LIKE "
         "'%FK'"},
        {"columns 9", true, kBanner9, describe,
         "SELECT MAX(COL#) FROM SYS.COL$ C, SYS.OBJ$ O WHERE O.OBJ# = C.OBJ# AND O.NAME = 'T1' "
         "AND O.OWNER# = USERENV('SCHEMAID') AND O.TYPE# IN (2, 3, 4)"},
        {"columns 7", true, kBanner7, describe,
         "SELECT MAX(COL#) FROM SYS.COL$ C, SYS.OBJ$ O WHERE O.OBJ# = C.OBJ# AND O.NAME = 'T1' "
         "AND O.OWNER# = USERENV('SCHEMAID') AND O.TYPE IN (2, 3, 4)"},
        {"columns views", false, kBanner9, describe,
         "SELECT COUNT(*) FROM DBA_TAB_COLUMNS WHERE OWNER = 'SCOTT' AND TABLE_NAME = 'T1'"},
        {"indexes", true, kBanner7, indexes,
         "SELECT COUNT(OBJ.NAME) FROM SYS.OBJ$ OBJ, SYS.IND$ IND, SYS.OBJ$ OBJI WHERE OBJ.NAME = "
         "'T1' AND OBJ.OWNER# = USERENV('SCHEMAID') AND OBJ.OBJ# = IND.BO# AND IND.OBJ# = "
         "OBJI.OBJ#"},
        {"indexes views", false, kBanner9, indexes,
         "SELECT COUNT(*) FROM DBA_INDEXES WHERE OWNER = 'SCOTT' AND TABLE_NAME = 'T1'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto conn = Connected(8, c.sysTables, c.banner);
        c.run(*conn);
        const Texts sql = Sql();
        ASSERT_FALSE(sql.empty());
        EXPECT_EQ(sql[0], c.first);
    }
}

TEST_F(OracleCatalog, MissingObjectsAreQuietFalseAnswers) {
    auto conn = Connected();
    Script("SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T1'*", {"NAME"}, {{"T1"}});
    EXPECT_TRUE(conn->CanOpen("T1", nullptr));
    EXPECT_FALSE(conn->CanOpen("T2", nullptr));  // no row
    rec.FailNext("SELECT NAME FROM SYS.OBJ$*", 942, "table or view does not exist");
    EXPECT_FALSE(conn->SPExist("P1"));  // a failing probe
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_F(OracleCatalog, DescribedColumnsByTypeAndClientGeneration) {
    const std::vector<std::vector<const char*>> rows = {
        {"A", "CHAR", "10"},         {"B", "VARCHAR2", "20"},  {"PRICE", "NUMBER", "22"},
        {"IMG", "LONG RAW", "0"},    {"PIC", "BLOB", "4000"},  {"TXT", "CLOB", "4000"},
        {"DT", "DATE", "7"},         {"D_E_L_E_T_", "CHAR", "1"},
        {"R_E_C_N_O_", "NUMBER", "22"}, {"R_E_C_D_E_L_", "NUMBER", "22"}};
    struct Field {
        std::string name;
        u8 type;
        i16 length;
        u16 decimals;
        bool data;
        bool operator==(const Field& o) const {
            return name == o.name && type == o.type && length == o.length &&
                   decimals == o.decimals && data == o.data;
        }
    };
    const std::vector<Field> common = {{"A", 'C', 10, 0, true},
                                       {"B", 'C', 20, 0, true},
                                       {"PRICE", 'N', 15, 6, true},
                                       {"IMG", 'M', 10, 0, true}};
    const std::vector<Field> tail = {{"DT", 'X', 0, 0, false},
                                     {"D_E_L_E_T_", 'C', 1, 0, true},
                                     {"R_E_C_N_O_", 'N', 15, 6, false},
                                     {"R_E_C_D_E_L_", 'N', 15, 6, false}};
    const std::string warning = "[WARNING] (tOracleConnection::DescribeTable) Table [T1] ";
    const struct {
        int oci;
        const char* banner;
        std::vector<Field> lobs;
        std::string columnQuery;
        std::string warnings;
    } cases[] = {
        {8, kBanner9, {{"PIC", 'M', 10, 0, true}, {"TXT", 'M', 11, 0, true}},
         "SELECT C.NAME, DECODE( C.TYPE#, 1, 'VARCHAR2', 2, DECODE(C.SCALE, NULL, "
         "DECODE(C.PRECISION#, NULL, 'NUMBER', 'FLOAT'),'NUMBER'), 8, 'LONG', 9, 'VARCHAR', 12, "
         "'DATE', 23, 'RAW', 24, 'LONG RAW', 69, 'ROWID', 96,'CHAR', 105, 'MLSLABEL', 106, "
         "'MLSLABEL', 112, 'CLOB', 113 , 'BLOB' , 'UNDEFINED' ) DATA_TYPE, C.LENGTH FROM SYS.COL$ "
         "C, SYS.OBJ$ O WHERE O.OBJ# = C.OBJ# AND O.NAME = 'T1' AND O.OWNER# = "
         "USERENV('SCHEMAID') AND O.TYPE# IN (2, 3, 4) ORDER BY C.OBJ#, C.COL#",
         warning + "unsupported field [DT] type [DATE].\n"},
        {7, kBanner7, {{"PIC", 'X', 0, 0, false}, {"TXT", 'X', 0, 0, false}},
         "SELECT C.NAME, DECODE( C.TYPE#, 1, 'VARCHAR2', 2, DECODE(C.SCALE, NULL, "
         "DECODE(C.PRECISION, NULL, 'NUMBER', 'FLOAT'),'NUMBER'), 8, 'LONG', 9, 'VARCHAR', 12, "
         "'DATE', 23, 'RAW', 24, 'LONG RAW', 69, 'ROWID', 96,'CHAR', 105, 'MLSLABEL', 106, "
         "'MLSLABEL', 112, 'CLOB', 113 , 'BLOB' , 'UNDEFINED' ) DATA_TYPE, C.LENGTH FROM SYS.COL$ "
         "C, SYS.OBJ$ O WHERE O.OBJ# = C.OBJ# AND O.NAME = 'T1' AND O.OWNER# = "
         "USERENV('SCHEMAID') AND O.TYPE IN (2, 3, 4) ORDER BY C.OBJ#, C.COL#",
         warning + "unsupported BLOB field [PIC] type [BLOB] using OCIVersion=7.\n" + warning +
             "unsupported CLOB field [TXT] type [CLOB] using OCIVersion=7.\n" + warning +
             "unsupported field [DT] type [DATE].\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.oci);
        auto conn = Connected(c.oci, true, c.banner);
        ScriptNumber("SELECT MAX(COL#)*", "10");
        Script("SELECT C.NAME*", {"NAME", "DATA_TYPE", "LENGTH"}, rows);
        tTableDefinitionExclusive def("T1", "PROD");
        const std::string before = Console();
        ASSERT_TRUE(conn->DescribeTable(def));
        std::vector<Field> expected = common;
        expected.insert(expected.end(), c.lobs.begin(), c.lobs.end());
        expected.insert(expected.end(), tail.begin(), tail.end());
        std::vector<Field> got;
        for (i32 i = 0; i < def.GetFieldCount(); ++i) {
            const tField& f = *def.GetField(i);
            got.push_back({f.GetName(), f.GetType(), f.GetLen(), f.GetDecimals(), f.IsData()});
        }
        EXPECT_TRUE(got == expected);
        EXPECT_EQ(Sql()[1], c.columnQuery);
        EXPECT_EQ(Console().substr(before.size()), c.warnings);
    }
    // No column: false, and the columns are not read.
    auto conn = Connected();
    ScriptNumber("SELECT MAX(COL#)*", nullptr);
    tTableDefinitionExclusive def("T1", "PROD");
    EXPECT_FALSE(conn->DescribeTable(def));
    EXPECT_EQ(Sql().size(), 1u);
    EXPECT_EQ(def.GetFieldCount(), 0);
}

TEST_F(OracleCatalog, IndexesLeaveOutTheRecnoIndexAndAddThePrimaryKeyWhenItIsMissing) {
    const std::string pk =
        "ALTER TABLE T1 ADD CONSTRAINT T1_PK PRIMARY KEY (R_E_C_N_O_) USING INDEX TABLESPACE "
        "IDXS";
    const struct {
        const char* label;
        const char* count;  // null: the count query fails
        std::vector<std::vector<const char*>> rows;
        bool answer;
        std::string indexes;  // name(key field numbers) ...
        bool primaryKey;
        const char* warning;
    } cases[] = {
        {"recno only", "1", {{"T1_R", "R_E_C_N_O_"}}, true, "", false, nullptr},
        {"deleted and recno", "1", {{"T1_DR", "D_E_L_E_T_"}, {"T1_DR", "R_E_C_N_O_"}}, true,
         "", false, nullptr},
        {"no index", "0", {}, true, "", true, "NO INDEXES FOUND for table T1"},
        {"failed count", nullptr, {}, false, "", true, nullptr},
        {"keys and an expression",
         "3",
         {{"T1_1", "B"}, {"T1_1", "D_E_L_E_T_"}, {"T1_1", "R_E_C_N_O_"},
          {"T1_F", "SYS_NC00005$"}, {"T1_F", "R_E_C_N_O_"}, {"T1_PK", "R_E_C_N_O_"}},
         true, "T1_1(1,3)", false,
         "Table [T1] index [T1_F] field [SYS_NC00005$] NOT FOUND - INDEX IGNORED."},
        {"no record-number index", "1", {{"T1_1", "A"}}, true, "T1_1(0)", true, nullptr},
    };
    process.SetIni("Oracle", "IndexSpace", "IDXS");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto conn = Connected();
        if (c.count) {
            ScriptNumber("SELECT COUNT(OBJ.NAME)*", c.count);
        } else {
            rec.FailNext("SELECT COUNT(OBJ.NAME)*", 942, "table or view does not exist");
        }
        Script("SELECT OBJI.NAME*", {"INDEX_NAME", "COLUMN_NAME"}, c.rows);
        tTableDefinitionExclusive def("T1", "PROD");
        def.AddField("A", 'C', 10, 0, true, true);
        def.AddField("B", 'C', 10, 0, true, true);
        def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        def.AddField("R_E_C_N_O_", 'N', 15, 6, false, true);
        const std::string before = Console();
        EXPECT_EQ(conn->DescribeIndexes(def), c.answer);
        std::string indexes;
        for (i32 x = 0; x < def.GetIndexCount(); ++x) {
            const tIndexDefinition& index = *def.GetIndex(x);
            indexes += index.GetName();
            for (i32 k = 0; k < index.GetFieldCount(); ++k) {
                indexes += (k ? "," : "(") + std::to_string(index.GetField(k));
            }
            indexes += ")";
        }
        EXPECT_EQ(indexes, c.indexes);
        EXPECT_EQ(Changes(Sql()), c.primaryKey ? Texts{pk} : Texts{});
        const std::string printed = Console().substr(before.size());
        EXPECT_EQ(gmtest::Holds(printed, "[WARNING]"), c.warning != nullptr) << printed;
        if (c.warning) {
            EXPECT_TRUE(gmtest::Holds(printed, c.warning)) << printed;
        }
    }
}

TEST_F(OracleCatalog, IndexColumnsQueryOfBothForms) {
    const struct {
        bool sysTables;
        std::string query;
    } cases[] = {
        {true,
         "SELECT OBJI.NAME INDEX_NAME, COL.NAME COLUMN_NAME FROM SYS.OBJ$ OBJ, SYS.IND$ IND, "
         "SYS.OBJ$ OBJI, SYS.ICOL$ ICOL, SYS.COL$ COL WHERE OBJ.NAME = 'T1' AND OBJ.OWNER# = "
         "USERENV('SCHEMAID') AND OBJ.OBJ# = IND.BO# AND IND.OBJ# = OBJI.OBJ# AND IND.OBJ# = "
         "ICOL.OBJ# AND OBJ.OBJ# = COL.OBJ# AND ICOL.COL# = COL.COL# ORDER BY OBJI.NAME, "
         "ICOL.POS#"},
        {false,
         "SELECT INDEX_NAME, COLUMN_NAME FROM DBA_IND_COLUMNS WHERE TABLE_NAME = 'T1' AND "
         "TABLE_OWNER = 'SCOTT' ORDER BY INDEX_NAME, COLUMN_POSITION"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sysTables);
        auto conn = Connected(8, c.sysTables);
        ScriptNumber("SELECT COUNT(*", "1");
        tTableDefinitionExclusive def("t1", "PROD");
        conn->DescribeIndexes(def);
        ASSERT_GE(Sql().size(), 2u);
        EXPECT_EQ(Sql()[1], c.query);
    }
}

TEST_F(OracleCatalog, CreateTableAndKeyTexts) {
    process.SetIni("Oracle", "MemoAsBlob", "1");
    for (int oci : {8, 7}) {
        SCOPED_TRACE(oci);
        auto conn = Connected(oci);
        tTableDefinitionExclusive def("T1", "PROD");
        def.AddField("NAME", 'C', 5, 0, true, true);
        def.AddField("PRICE", 'N', 12, 2, true, true);
        def.AddField("OK", 'L', 1, 0, true, true);
        def.AddField("WHEN", 'D', 8, 0, true, true);
        def.AddField("OBS", 'M', 11, 0, true, true);
        def.AddField("IMG", 'M', 10, 0, true, true);
        def.AddField("R_E_C_N_O_", 'R', 10, 0, false, true);
        const std::string memo = oci == 8 ? "BLOB" : "LONG RAW";
        const std::string body =
            "CREATE TABLE T1(NAME CHAR(5) DEFAULT '     ' NOT NULL ,PRICE NUMBER DEFAULT 0.0 NOT "
            "NULL ,OK CHAR(1) DEFAULT 'F' NOT NULL ,WHEN CHAR(8) DEFAULT '" +
            Blanks(8) + "' NOT NULL ,OBS CLOB,IMG " + memo +
            ",R_E_C_N_O_ NUMBER DEFAULT 0.0 NOT NULL )";
        tString sql;
        process.SetIni("Oracle", "TableSpace", "");
        conn->CreateTable(def, sql);
        EXPECT_EQ(std::string(sql), body);
        process.SetIni("Oracle", "TableSpace", "DATA1");
        conn->CreateTable(def, sql);
        EXPECT_EQ(std::string(sql), body + " TABLESPACE DATA1");
    }
    auto conn = Connected();
    tString sql;
    process.SetIni("Oracle", "IndexSpace", "");
    EXPECT_TRUE(conn->AddPrimaryKey(sql, "T1"));
    EXPECT_STREQ(sql, "ALTER TABLE T1 ADD CONSTRAINT T1_PK PRIMARY KEY (R_E_C_N_O_)");
    sql = "CREATE INDEX T1_1 ON T1(A)";
    conn->IndexSpaceClause(sql, 0);
    EXPECT_STREQ(sql, "CREATE INDEX T1_1 ON T1(A)");
    process.SetIni("ORACLE/PROD", "IndexSpace", "IDXS");
    conn->IndexSpaceClause(sql, 0);
    EXPECT_STREQ(sql, "CREATE INDEX T1_1 ON T1(A) TABLESPACE IDXS");
    conn->GetRecnoIndex("T1", sql);
    EXPECT_STREQ(sql,
                 "ALTER TABLE T1 ADD CONSTRAINT T1_PK PRIMARY KEY (R_E_C_N_O_) USING INDEX "
                 "TABLESPACE IDXS");
    EXPECT_TRUE(Sql().empty());  // texts only
}

TEST_F(OracleCatalog, ParameterTableAndSessionParameters) {
    auto conn = Connected();
    EXPECT_TRUE(conn->CreateGMLParam());
    EXPECT_TRUE(conn->ClearTable("T1"));
    EXPECT_EQ(Sql(), (Texts{"create table GML_PARAM(PARAM_NAME VarChar2(50) not null,PARAM_SESSION "
                            "Smallint not null, PARAM_VALUE VarChar2(50) not null)",
                            "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                            "TRUNCATE TABLE T1"}));
    rec.ClearLog();
    rec.FailNext("create table GML_PARAM*", 955, "name is already used by an existing object");
    EXPECT_FALSE(conn->CreateGMLParam());
    EXPECT_EQ(Sql().size(), 1u);  // no index without the table

    const std::string select =
        "SELECT * FROM GML_PARAM WHERE PARAM_NAME = 'O''K' AND PARAM_SESSION = "
        "userenv('sessionid')";
    rec.ClearLog();
    Script(select.c_str(), {"PARAM_NAME"}, {{"O'K"}});
    EXPECT_TRUE(conn->SetParam("O'K", "it's"));
    EXPECT_EQ(Sql(), (Texts{select,
                            "UPDATE GML_PARAM SET PARAM_VALUE = 'it''s' WHERE PARAM_NAME = 'O''K' "
                            "AND PARAM_SESSION = userenv('sessionid')"}));
    rec.ClearLog();
    EXPECT_TRUE(conn->SetParam("O'K", "v"));
    EXPECT_EQ(Sql(), (Texts{select,
                            "INSERT INTO GML_PARAM(PARAM_NAME,PARAM_VALUE,PARAM_SESSION) "
                            "VALUES('O''K','v',userenv('sessionid'))"}));
}

TEST_F(OracleCatalog, RecnoAcceptNullCountsNullableRecnoColumns) {
    auto conn = Connected();
    const char* query =
        "select count(*) from user_tab_columns where column_name = 'R_E_C_N_O_' and table_name = "
        "'T1' and nullable = 'Y'";
    ScriptNumber(query, "1");
    EXPECT_TRUE(conn->RecnoAcceptNull("T1"));
    ScriptNumber(query, "0");
    EXPECT_FALSE(conn->RecnoAcceptNull("T1"));
    rec.FailNext(query, 942, "table or view does not exist");
    EXPECT_FALSE(conn->RecnoAcceptNull("T1"));
    EXPECT_EQ(Sql(), Texts(3, query));
}

TEST_F(OracleCatalog, AlterTablePlansAsStatementSequences) {
    const std::string a20 = "A CHAR(20) DEFAULT '" + Blanks(20) + "'";
    const std::string a5 = "A CHAR(5) DEFAULT '" + Blanks(5) + "'";
    const std::string block1 = " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096";
    const std::string block2 = " WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192";
    const u16 length = tActionField::kLengthChange;
    const u16 type = tActionField::kTypeChange;
    const struct {
        const char* label;
        const char* recCount;  // null: MAX(R_E_C_N_O_) is NULL
        std::vector<Action> actions;
        Texts changes;
    } cases[] = {
        {"widen",
         "5000",
         {{"A", 'C', 10, 'C', 20, length}},
         {"DROP INDEX T1_1", "ALTER TABLE T1 MODIFY " + a20}},
        {"shorten",
         "5000",
         {{"A", 'C', 10, 'C', 5, length}},
         {"DROP INDEX T1_1", "ALTER TABLE T1 RENAME COLUMN A TO TMPC0",
          "ALTER TABLE T1 ADD ( " + a5 + " NOT NULL  )",
          "UPDATE T1 SET A = substr(to_char(TMPC0),1,5)" + block1,
          "UPDATE T1 SET A = substr(to_char(TMPC0),1,5)" + block2,
          "ALTER TABLE T1 DROP COLUMN  TMPC0"}},
        {"shorten on an empty table",
         nullptr,
         {{"A", 'C', 10, 'C', 5, length}},
         {"DROP INDEX T1_1", "ALTER TABLE T1 DROP COLUMN A",
          "ALTER TABLE T1 ADD ( " + a5 + " NOT NULL  )"}},
        {"N to C",
         "10",
         {{"B", 'C', 10, 'C', 10, 0}, {"PRICE", 'N', 15, 'C', 3, type}},
         {"DROP INDEX T1_2", "ALTER TABLE T1 RENAME COLUMN PRICE TO TMPC1",
          "ALTER TABLE T1 ADD ( PRICE CHAR(3) DEFAULT '   ' NOT NULL  )",
          "UPDATE T1 SET PRICE = substr(to_char(TMPC1),1,3)" + block1,
          "ALTER TABLE T1 DROP COLUMN  TMPC1"}},
        {"C to N drops and adds",
         "10",
         {{"B", 'C', 10, 'N', 15, type}},
         {"DROP INDEX T1_2", "ALTER TABLE T1 DROP COLUMN B",
          "ALTER TABLE T1 ADD ( B NUMBER DEFAULT 0.0 NOT NULL  )"}},
        {"drops, an add and a number resize",
         "10",
         {{"A", 'C', 10, 'C', 10, tActionField::kDrop},
          {"PRICE", 'N', 15, 'N', 17, length},
          {"B", 'C', 10, 'C', 10, tActionField::kDrop},
          {"NEW1", 'L', 1, 'L', 1, tActionField::kAdd}},
         {"DROP INDEX T1_1", "DROP INDEX T1_2", "ALTER TABLE T1 DROP ( A,B )",
          "ALTER TABLE T1 ADD ( NEW1 CHAR(1) DEFAULT 'F' NOT NULL  )"}},
        {"two widened and one shortened in place",
         "10",
         {{"A", 'C', 10, 'C', 20, length},
          {"B", 'C', 10, 'C', 15, length},
          {"NOTE", 'C', 30, 'C', 5, 0x1000}},
         {"DROP INDEX T1_1", "DROP INDEX T1_2", "UPDATE T1 SET NOTE =  substr(NOTE,1,5)" + block1,
          "ALTER TABLE T1 MODIFY  ( " + a20 + ",B CHAR(15) DEFAULT '" + Blanks(15) +
              "',NOTE CHAR(5) DEFAULT '" + Blanks(5) + "' )"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto conn = Connected();
        ScriptNumber("SELECT MAX(R_E_C_N_O_) FROM T1", c.recCount);
        ScriptStructure();
        tAutoArray<tActionField> actions;
        Fill(actions, c.actions);
        EXPECT_TRUE(conn->AlterTable("T1", actions, 0));
        EXPECT_EQ(Changes(Sql()), c.changes);
    }
}

TEST_F(OracleCatalog, AlterTableRunsNothingWithoutACountAndRebuildsWhenNotForced) {
    auto conn = Connected();
    rec.FailNext("SELECT MAX(R_E_C_N_O_) FROM T1", 942, "table or view does not exist");
    tAutoArray<tActionField> actions;
    Fill(actions, {{"A", 'C', 10, 'C', 5, tActionField::kLengthChange}});
    EXPECT_FALSE(conn->AlterTable("T1", actions, 0));
    EXPECT_EQ(Sql(), Texts{"SELECT MAX(R_E_C_N_O_) FROM T1"});

    process.SetIni("ORACLE", "ForceAlterTable", "0");
    for (const Action& a : {Action{"A", 'C', 10, 'C', 20, tActionField::kLengthChange},
                            Action{"B", 'C', 10, 'N', 15, tActionField::kTypeChange}}) {
        SCOPED_TRACE(a.name);
        rec.ClearLog();
        ScriptNumber("SELECT MAX(R_E_C_N_O_) FROM T1", "10");
        ScriptNumber("select max(R_E_C_N_O_) from T1_BKP", "10");
        tAutoArray<tActionField> one;
        Fill(one, {a});
        EXPECT_TRUE(conn->AlterTable("T1", one, 0));
        const Texts changes = Changes(Sql());
        ASSERT_FALSE(changes.empty());
        EXPECT_EQ(changes[0], std::string("create table T1_BKP as ( select ") + a.name +
                                  ",R_E_C_N_O_ from T1)");
    }
}

TEST_F(OracleCatalog, AlterStructureCopiesTheChangedColumnsThroughTheBackup) {
    process.SetIni("Oracle", "IndexSpace", "IDXS");
    auto conn = Connected();
    ScriptNumber("select max(R_E_C_N_O_) from T1_BKP", "5000");
    tAutoArray<tActionField> actions;
    Fill(actions, {{"A", 'C', 10, 'C', 5, tActionField::kLengthChange},
                   {"PRICE", 'N', 15, 'C', 12, tActionField::kTypeChange},
                   {"B", 'C', 10, 'C', 10, tActionField::kDrop},
                   {"NOTE", 'C', 5, 'C', 9, tActionField::kLengthChange},
                   {"QTY", 'C', 5, 'N', 15, tActionField::kTypeChange},
                   {"NEW1", 'N', 15, 'N', 15, tActionField::kAdd}});
    EXPECT_TRUE(conn->AlterStructure("T1", actions, 0));
    const std::string copy =
        "UPDATE T1 SET A = ( select substr(A,1,5) FROM T1_BKP where T1_BKP.R_E_C_N_O_ = "
        "T1.R_E_C_N_O_), PRICE = ( select substr(to_char(PRICE),1,12) FROM T1_BKP where "
        "T1_BKP.R_E_C_N_O_ = T1.R_E_C_N_O_), NOTE = ( select NOTE FROM T1_BKP where "
        "T1_BKP.R_E_C_N_O_ = T1.R_E_C_N_O_)";
    EXPECT_EQ(Sql(),
              (Texts{"SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T1_BKP' AND OWNER# = "
                     "USERENV('SCHEMAID') AND TYPE# IN (2,3,4)",
                     "create table T1_BKP as ( select A,PRICE,NOTE,QTY,R_E_C_N_O_ from T1)",
                     "CREATE INDEX T1_BKPIDX ON T1_BKP (R_E_C_N_O_) TABLESPACE IDXS",
                     "ALTER TABLE T1 DROP COLUMN A", "ALTER TABLE T1 DROP COLUMN PRICE",
                     "ALTER TABLE T1 DROP COLUMN B", "ALTER TABLE T1 DROP COLUMN NOTE",
                     "ALTER TABLE T1 DROP COLUMN QTY",
                     "ALTER TABLE T1 ADD (A CHAR(5) DEFAULT '     ' NOT NULL , PRICE CHAR(12) "
                     "DEFAULT '" +
                         Blanks(12) + "' NOT NULL , NOTE CHAR(9) DEFAULT '" + Blanks(9) +
                         "' NOT NULL , QTY NUMBER DEFAULT 0 NOT NULL , NEW1 NUMBER DEFAULT 0 NOT "
                         "NULL )",
                     "select max(R_E_C_N_O_) from T1_BKP",
                     copy + " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
                     copy + " WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192"}));
}

TEST_F(OracleCatalog, AlterStructureKeepsABackupHoldingMoreRowsThanTheTable) {
    const struct {
        const char* live;
        const char* kept;
        bool dropped;
    } cases[] = {{"5", "9", false}, {"9", "9", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        auto conn = Connected();
        Script("SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T1_BKP'*", {"NAME"}, {{"T1_BKP"}});
        ScriptNumber("SELECT COUNT(*) AS TOTAL FROM T1", c.live);
        ScriptNumber("SELECT COUNT(*) AS TOTAL FROM T1_BKP", c.kept);
        tAutoArray<tActionField> actions;
        Fill(actions, {{"B", 'C', 10, 'C', 10, tActionField::kDrop}});
        EXPECT_EQ(conn->AlterStructure("T1", actions, 0), c.dropped);
        const Texts changes = Changes(Sql());
        if (c.dropped) {
            EXPECT_EQ(changes, (Texts{"DROP TABLE T1_BKP", "ALTER TABLE T1 DROP COLUMN B"}));
            continue;
        }
        EXPECT_TRUE(changes.empty());
        tString error;
        EXPECT_EQ(conn->GetLastErrorInfo(error), -19);
        EXPECT_TRUE(gmtest::Holds(error.GetText(), "Backup table [T1_BKP] kept")) << error;
    }
}

}  // namespace
