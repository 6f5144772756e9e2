// The MySQL connection on the private MariaDB (latin1): the check-up and the catalogue tables it
// creates, CREATE TABLE texts and the tables they make, columns and indexes described from the
// real server, table and index probes, record counts, literals, and the duplicate-key texts
// that MariaDB really writes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/mariadatabase.h"

namespace {

std::string Text(const tString& s) { return s.GetText(); }
std::string Blanks(size_t n) { return std::string(n, ' '); }

// The fields of a definition as "NAME T length,decimals" with "-" for fields kept out of the
// record.
std::vector<std::string> Fields(const tTableDefinition& def) {
    std::vector<std::string> fields;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& f = *def.GetField(i);
        fields.push_back(std::string(f.GetName()) + " " + static_cast<char>(f.GetType()) + " " +
                         std::to_string(f.GetLen()) + "," + std::to_string(f.GetDecimals()) +
                         (f.IsData() ? "" : " -"));
    }
    return fields;
}

// Index names with their key fields' names: "NAME(A,B)".
std::vector<std::string> Indexes(const tTableDefinition& def) {
    std::vector<std::string> indexes;
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const tIndexDefinition& index = *def.GetIndex(i);
        std::string text = std::string(index.GetName()) + "(";
        for (i32 k = 0; k < index.GetFieldCount(); ++k) {
            if (k > 0) text += ",";
            text += def.GetField(index.GetField(k))->GetName();
        }
        indexes.push_back(text + ")");
    }
    return indexes;
}

// A table definition as the dispatcher creates one: C, N, D, L and M fields and the reserved
// columns.
tTableDefinition ClientTable(const char* name, const char* environment) {
    tTableDefinition def(name, environment);
    def.AddField("CODE", 'C', 6, 0, true, true);
    def.AddField("NAME", 'C', 300, 0, true, true);
    def.AddField("VALOR", 'N', 12, 2, true, true);
    def.AddField("BORN", 'D', 8, 0, true, true);
    def.AddField("ACTIVE", 'L', 1, 0, true, true);
    def.AddField("NOTES", 'M', 10, 0, true, true);
    def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    return def;
}

class MySQLConn : public gmtest::MariaDatabase {
protected:
    bool Create(const tTableDefinition& def) {
        tString sql;
        conn->CreateTable(def, sql);
        return Run(Text(sql));
    }
};

TEST_F(MySQLConn, CheckUpCreatesTheCatalogueTablesOnceWithTheirIndexes) {
    tString report;
    ASSERT_TRUE(conn->InitialCheckUp(report)) << LastError();
    const std::string text = Text(report);
    EXPECT_EQ(text.rfind("--------------- Initial Connection Check-Up ---------------\n"
                         "Database......: MYSQL\nEnvironment...: " +
                             dsn + "\nMemo Type.....: text\n" +
                             "-----------------------------------------------------------\n\n" +
                             "--------------- ODBC Connection Check-Up ------------------\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("ODBC DBMS Name..............: MariaDB\n"), std::string::npos);
    const std::vector<std::string> created = {
        "CREATE TABLE GML_FIELD(FIELD_TABLE varchar(64) not null default '" + Blanks(64) +
            "',FIELD_NAME varchar(32) not null default '" + Blanks(32) +
            "',FIELD_TYPE varchar(2) not null default '  ',FIELD_PREC varchar(4) not null "
            "default '    ',FIELD_DEC varchar(4) not null default '    ') ENGINE=InnoDB",
        "CREATE UNIQUE INDEX GML_FIELDI ON GML_FIELD(FIELD_TABLE,FIELD_NAME)",
        "CREATE TABLE GML_IDXSTATS(IDX_ENV varchar(32) not null default '" + Blanks(32) +
            "',IDX_TABLE varchar(32) not null default '" + Blanks(32) +
            "',IDX_NAME varchar(32) not null default '" + Blanks(32) +
            "',IDX_KEY varchar(255) not null default '" + Blanks(252) +
            "',IDX_USE double not null default 0.0,R_E_C_N_O_ int not null default 0.0) "
            "ENGINE=InnoDB",
        "CREATE INDEX GML_IDXSTATSI ON GML_IDXSTATS(IDX_ENV,IDX_USE,IDX_TABLE,IDX_NAME)",
        "CREATE TABLE GML_VIRTUALIDX(IDX_ENV varchar(32) not null default '" + Blanks(32) +
            "',IDX_TABLE varchar(32) not null default '" + Blanks(32) +
            "',IDX_NAME varchar(32) not null default '" + Blanks(32) +
            "',IDX_KEY varchar(255) not null default '" + Blanks(252) + "') ENGINE=InnoDB",
        "CREATE UNIQUE INDEX GML_VIRTUALIDXI ON GML_VIRTUALIDX(IDX_ENV,IDX_TABLE,IDX_NAME)",
        "CREATE TABLE GML_SP(SP_NOME varchar(20) not null default '" + Blanks(20) +
            "',SP_VERSAO varchar(20) not null default '" + Blanks(20) +
            "',SP_DATA varchar(8) not null default '" + Blanks(8) +
            "',SP_HORA varchar(8) not null default '" + Blanks(8) +
            "',SP_ASSINAT varchar(3) not null default '   ') ENGINE=InnoDB"};
    EXPECT_EQ(Ran("tDBConnection::InitialCheckUp"), created);
    EXPECT_EQ(Ran("tMySQLConnection::CreateGMLParam"),
              (std::vector<std::string>{
                  "create table GML_PARAM(PARAM_NAME char(50) not null,PARAM_SESSION int not "
                  "null, PARAM_VALUE char(50) not null) ENGINE=InnoDB",
                  "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )"}));
    EXPECT_EQ(Values("show tables"),
              (std::vector<std::string>{"GML_FIELD", "GML_IDXSTATS", "GML_PARAM", "GML_SP",
                                        "GML_VIRTUALIDX"}));
    EXPECT_EQ(Value("select count(*) from information_schema.statistics where table_schema = '" +
                    dsn + "' and index_name = 'GML_FIELDI' and non_unique = 0"),
              "2");

    session.traces.clear();
    tString again;
    EXPECT_TRUE(Other().InitialCheckUp(again));
    EXPECT_TRUE(Ran("tDBConnection::InitialCheckUp").empty());
    EXPECT_TRUE(Ran("tMySQLConnection::CreateGMLParam").empty());
}

TEST_F(MySQLConn, MemoAsBlobMakesMemosLongBlobs) {
    process.SetIni("MYSQL", "MemoAsBlob", "1");
    tMySQLConnection& blobs = Other();
    EXPECT_EQ(Text(blobs.GetMemoType()), "longblob");
    EXPECT_EQ(Text(conn->GetMemoType()), "text");
    tString report;
    blobs.InitialCheckUp(report);
    EXPECT_NE(Text(report).find("\nMemo Type.....: longblob\n"), std::string::npos);
}

TEST_F(MySQLConn, CreateTableTextRunsAndTheTableTakesRows) {
    const tTableDefinition def = ClientTable("SA1010", dsn.c_str());
    tString sql;
    conn->CreateTable(def, sql);
    EXPECT_EQ(Text(sql),
              "CREATE TABLE SA1010(CODE varchar(6) not null default '      ',NAME varchar(300) "
              "not null default '" +
                  Blanks(252) +
                  "',VALOR double not null default 0.0,BORN varchar(8) not null default "
                  "'        ',ACTIVE char(1) not null default 'F',NOTES text,D_E_L_E_T_ "
                  "varchar(1) not null default ' ',R_E_C_N_O_ int not null default 0.0) "
                  "ENGINE=InnoDB");
    ASSERT_TRUE(Run(Text(sql))) << LastError();
    ASSERT_TRUE(conn->AddPrimaryKey(sql, "SA1010"));
    EXPECT_EQ(Text(sql), "ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)");
    ASSERT_TRUE(Run(Text(sql)));
    ASSERT_TRUE(Run("INSERT INTO SA1010 (CODE, R_E_C_N_O_) VALUES ('A1', 1)"));
    EXPECT_EQ(Value("SELECT CONCAT('[', BORN, '|', ACTIVE, '|', D_E_L_E_T_, '|', VALOR, '|', "
                    "LENGTH(NAME), ']') FROM SA1010"),
              "[        |F| |0|252]");
    EXPECT_EQ(Value("select engine from information_schema.tables where table_schema = '" + dsn +
                    "' and table_name = 'SA1010'"),
              "InnoDB");
}

TEST_F(MySQLConn, DescribeTableMapsTheServersColumnTypes) {
    const std::string longName = "A234567890B234567890C234567890D234567890";  // 40 characters
    ASSERT_TRUE(
        Run("CREATE TABLE T1 (CODE CHAR(30), name VARCHAR(20), WIDE VARCHAR(9000), "
            "BORN DATE, QTY INT, PRICE DOUBLE, PIC BLOB, NOTES TEXT, BIG LONGBLOB, " +
            longName + " CHAR(2), D_E_L_E_T_ CHAR(1), R_E_C_N_O_ INT, R_E_C_D_E_L_ INT)"));
    tTableDefinition def("T1", dsn.c_str());
    ASSERT_TRUE(conn->DescribeTable(def)) << LastError();
    EXPECT_EQ(Fields(def),
              (std::vector<std::string>{
                  "CODE C 30,0", "NAME C 20,0", "WIDE X 0,0 -", "BORN X 0,0 -", "QTY N 15,6",
                  "PRICE N 15,6", "PIC M 10,0", "NOTES M 10,0", "BIG M 10,0", longName + " C 2,0",
                  "D_E_L_E_T_ C 1,0", "R_E_C_N_O_ N 15,6 -", "R_E_C_D_E_L_ N 15,6 -"}));
    const std::string printed = console.Get();
    for (const char* column : {"WIDE", "BORN"}) {
        EXPECT_NE(printed.find(std::string("[WARNING] (tMySQLConnection::DescribeTable) Table "
                                           "[T1] unsupported field [") +
                               column + "] type [x].\n"),
                  std::string::npos)
            << printed;
    }
}

TEST_F(MySQLConn, TablesMadeByCreateTableDescribeBackWithTheirMemos) {
    process.SetIni("MYSQL", "MemoAsBlob", "1");
    tMySQLConnection& blobs = Other();
    for (tMySQLConnection* c : {conn.get(), &blobs}) {
        SCOPED_TRACE(Text(c->GetMemoType()));
        Run("DROP TABLE IF EXISTS SA1010");
        tString sql;
        c->CreateTable(ClientTable("SA1010", dsn.c_str()), sql);
        ASSERT_TRUE(Run(Text(sql)));
        tTableDefinition def("SA1010", dsn.c_str());
        ASSERT_TRUE(c->DescribeTable(def));
        EXPECT_EQ(Fields(def),
                  (std::vector<std::string>{"CODE C 6,0", "NAME C 300,0", "VALOR N 15,6",
                                            "BORN C 8,0", "ACTIVE C 1,0", "NOTES M 10,0",
                                            "D_E_L_E_T_ C 1,0", "R_E_C_N_O_ N 15,6 -"}));
    }
}

TEST_F(MySQLConn, DescribeTableOfAMissingTableFails) {
    tTableDefinition missing("NOPE", dsn.c_str());
    EXPECT_FALSE(conn->DescribeTable(missing));
    EXPECT_NE(LastError().find("1146"), std::string::npos) << LastError();
    tTableDefinition odd("T1;DROP", dsn.c_str());
    session.traces.clear();
    EXPECT_FALSE(conn->DescribeTable(odd));
    EXPECT_TRUE(session.traces.empty());
}

TEST_F(MySQLConn, DescribeIndexesLeavesTheRecordNumberKeyOut) {
    ASSERT_TRUE(Create(ClientTable("SA1010", dsn.c_str())));
    ASSERT_TRUE(Run("ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)"));
    ASSERT_TRUE(Run("CREATE INDEX SA1010_1 ON SA1010 (CODE, D_E_L_E_T_)"));
    ASSERT_TRUE(Run("CREATE INDEX SA1010_2 ON SA1010 (NAME, VALOR, R_E_C_N_O_)"));
    ASSERT_TRUE(Run("CREATE INDEX SA1010_3 ON SA1010 (R_E_C_N_O_, D_E_L_E_T_)"));
    tTableDefinition def("SA1010", dsn.c_str());
    ASSERT_TRUE(conn->DescribeTable(def));
    session.traces.clear();
    ASSERT_TRUE(conn->DescribeIndexes(def)) << LastError();
    EXPECT_EQ(Indexes(def),
              (std::vector<std::string>{"SA1010_1(CODE)", "SA1010_2(NAME,VALOR,R_E_C_N_O_)"}));
    EXPECT_EQ(Ran("tMySQLConnection::Indexes"), std::vector<std::string>{"show index from SA1010"});
    EXPECT_TRUE(Ran("tMySQLConnection::DescribeIndexes").empty());
}

TEST_F(MySQLConn, IndexOverAColumnTheDefinitionLacksIsSkippedWithAWarning) {
    ASSERT_TRUE(Create(ClientTable("SA1010", dsn.c_str())));
    ASSERT_TRUE(Run("ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)"));
    ASSERT_TRUE(Run("CREATE INDEX SA1010_1 ON SA1010 (CODE, NAME, VALOR)"));
    ASSERT_TRUE(Run("CREATE INDEX SA1010_2 ON SA1010 (VALOR, CODE)"));
    tTableDefinition def("SA1010", dsn.c_str());  // as a registry might know it: no NAME
    def.AddField("CODE", 'C', 6, 0, true, true);
    def.AddField("VALOR", 'N', 12, 2, true, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    process.ClearLog();
    ASSERT_TRUE(conn->DescribeIndexes(def)) << LastError();
    EXPECT_EQ(Indexes(def), std::vector<std::string>{"SA1010_2(VALOR,CODE)"});
    const std::vector<std::string> log = process.LogEntries();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("[WARNING] Index [SA1010_1] of table [SA1010] skipped: no field [NAME]."),
              std::string::npos)
        << log[0];
}

TEST_F(MySQLConn, TableWithoutIndexesGetsTheRecordNumberPrimaryKey) {
    ASSERT_TRUE(Create(ClientTable("SA1010", dsn.c_str())));
    tTableDefinition def("SA1010", dsn.c_str());
    ASSERT_TRUE(conn->DescribeTable(def));
    ASSERT_TRUE(conn->DescribeIndexes(def));
    EXPECT_EQ(def.GetIndexCount(), 0);
    EXPECT_NE(console.Get().find(
                  "[WARNING] (tMySQLConnection::DescribeIndexes) NO INDEXES FOUND for table "
                  "SA1010\n"),
              std::string::npos);
    EXPECT_EQ(Ran("tMySQLConnection::DescribeIndexes"),
              std::vector<std::string>{"ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)"});
    EXPECT_EQ(Values("show index from SA1010"), std::vector<std::string>{"SA1010"});
    EXPECT_TRUE(conn->CanOpen("SA1010", "primary"));
}

TEST_F(MySQLConn, CanOpenFindsTablesAndIndexes) {
    ASSERT_TRUE(Create(ClientTable("SA1010", dsn.c_str())));
    ASSERT_TRUE(Run("CREATE INDEX SA1010_1 ON SA1010 (CODE)"));
    process.ClearLog();
    const struct {
        const char* table;
        const char* index;
        bool found;
    } cases[] = {
        {"SA1010", nullptr, true},    {"SA1010", "", true},          {"SA1010", "SA1010_1", true},
        {"SA1010", "sa1010_1", true}, {"SA1010", "SA1010_2", false}, {"NOPE", "SA1010_1", false},
        {"NOPE", nullptr, false},     {"SA1010 x", nullptr, false},  {"SA1010", "X'Y", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + "/" + (c.index ? c.index : "(null)"));
        EXPECT_EQ(conn->CanOpen(c.table, c.index), c.found);
    }
    // Only the missing table's probe is logged: the index probes are quiet.
    ASSERT_EQ(process.LogEntries().size(), 1u);
    EXPECT_NE(process.LogEntries()[0].find("1146"), std::string::npos);
}

TEST_F(MySQLConn, RecordCountIsTheHighestRecordNumber) {
    ASSERT_TRUE(Create(ClientTable("SA1010", dsn.c_str())));
    EXPECT_EQ(conn->GetRecCount("SA1010"), 0.0);
    ASSERT_TRUE(Run("INSERT INTO SA1010 (CODE, R_E_C_N_O_) VALUES ('A', 7), ('B', 3)"));
    EXPECT_EQ(conn->GetRecCount("SA1010"), 7.0);
    EXPECT_EQ(Ran("tMySQLConnection::GetRecCount").back(),
              "SELECT MAX(R_E_C_N_O_) MAX FROM SA1010");
    EXPECT_EQ(conn->GetRecCount("NOPE"), -1.0);
    EXPECT_TRUE(conn->ClearTable("SA1010"));
    EXPECT_EQ(Ran("tMySQLConnection::ClearTable"),
              std::vector<std::string>{"TRUNCATE TABLE SA1010"});
    EXPECT_EQ(Value("select count(*) from SA1010"), "0");
}

TEST_F(MySQLConn, LiteralsComeBackAsWritten) {
    ASSERT_TRUE(Run("CREATE TABLE T1 (K INT, V VARCHAR(40))"));
    const struct {
        const char* value;
        const char* literal;
    } cases[] = {{"plain", "'plain'"},
                 {"it's", "'it''s'"},
                 {"a\\b", "CONCAT('a',CHAR(92),'b')"},
                 {"\\'\\", "CONCAT(CHAR(92),'''',CHAR(92))"},
                 {"caf\xe9", "'caf\xe9'"},
                 {"", "''"}};
    int k = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        tString sql;
        conn->AppendLiteral(sql, c.value);
        EXPECT_EQ(Text(sql), c.literal);
        const std::string key = std::to_string(++k);
        ASSERT_TRUE(Run("INSERT INTO T1 VALUES (" + key + ", " + Text(sql) + ")"));
        EXPECT_EQ(Value("SELECT V FROM T1 WHERE K = " + key), c.value);
        EXPECT_EQ(Value("SELECT K FROM T1 WHERE V = " + Text(sql)), key);
    }
}

TEST_F(MySQLConn, DuplicateKeysAreToldApartByTheServersOwnTexts) {
    ASSERT_TRUE(Create(ClientTable("SA1010", dsn.c_str())));
    ASSERT_TRUE(Run("ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)"));
    ASSERT_TRUE(Run("CREATE UNIQUE INDEX SA1010_UNQ ON SA1010 (CODE)"));
    ASSERT_TRUE(Run("INSERT INTO SA1010 (CODE, R_E_C_N_O_) VALUES ('A', 1)"));
    tTableDefinition def("SA1010", dsn.c_str());
    std::unique_ptr<tStatement> stmt(conn->NewStatement());

    EXPECT_FALSE(stmt->ExecDirect("INSERT INTO SA1010 (CODE, R_E_C_N_O_) VALUES ('B', 1)",
                                  "tTest::Write", 1));
    tString error;
    EXPECT_TRUE(conn->IsDuplicateKey(conn->GetLastErrorInfo(error)));
    EXPECT_NE(Text(error).find("for key 'PRIMARY'"), std::string::npos) << Text(error);
    EXPECT_TRUE(conn->IsRecnoKeyError(def));

    EXPECT_FALSE(stmt->ExecDirect("INSERT INTO SA1010 (CODE, R_E_C_N_O_) VALUES ('A', 2)",
                                  "tTest::Write", 1));
    EXPECT_TRUE(conn->IsDuplicateKey(conn->GetLastErrorInfo(error)));
    EXPECT_NE(Text(error).find("for key 'SA1010_UNQ'"), std::string::npos) << Text(error);
    EXPECT_FALSE(conn->IsRecnoKeyError(def));

    EXPECT_FALSE(stmt->ExecDirect("INSERT INTO SA1010 (NOPE) VALUES (1)", "tTest::Write", 1));
    EXPECT_FALSE(conn->IsDuplicateKey(conn->GetLastErrorInfo(error)));
}

}  // namespace
